#pragma once
// Pieces both players share on Windows: their own mapped file, text conversion, DPI awareness,
// error reports.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "command_line.h"

namespace nimbrel::player::win32 {

// Narrow text (the archive's ANSI code page) to UTF-16 and back.
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

// The player's own executable, read through views of a read-only file mapping: each thread reads
// through a window of a few megabytes of its own, moved on as it reads. A show of any size then
// fits a 32-bit process's address space, and the file's pages leave the working set once read.
class OwnFile : public archive::ByteSource {
public:
    OwnFile();  // throws nimbrel::Error when the file cannot be opened or mapped
    ~OwnFile() override;
    OwnFile(const OwnFile&) = delete;
    OwnFile& operator=(const OwnFile&) = delete;
    std::uint64_t Size() const override { return size_; }
    // Safe from any thread; throws nimbrel::Error when the view cannot be mapped.
    void Read(std::uint64_t offset, void* buffer, std::size_t size) const override;

private:
    struct View {
        DWORD thread = 0;
        std::uint64_t start = 0, length = 0;
        const unsigned char* data = nullptr;
    };
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE mapping_ = nullptr;
    std::uint64_t size_ = 0;
    std::uint64_t granularity_ = 65536;
    mutable std::mutex mutex_;
    mutable std::vector<View> views_;  // one for each thread that has read
};

// The process's arguments after the program name, as narrow text (switches and numbers).
std::string CommandArguments();

// Per-monitor DPI awareness where the system offers it, system awareness on older systems.
void MakeDpiAware();

// The window handle of a "/p" or "/c:" argument, or nullptr when it names no window.
HWND WindowFromArgument(std::uintptr_t value);

// Tells the user that the screensaver cannot run. Full screen, the box closes itself after a
// while, since nobody may be watching; a preview shows nothing. The text also goes to the
// standard error stream when there is one. Returns the exit code for a failed start.
int ReportStartFailure(const std::string& message, RunMode mode, HWND owner);

// The exit code of a screensaver that could not start.
inline constexpr int kStartFailed = 2;

// Writes "<milliseconds since start> <what>" as a line to the file that the environment variable
// NIMBREL_PLAYER_TRACE names, for measuring where a start spends its time; nothing when unset.
void Trace(const char* what);

}  // namespace nimbrel::player::win32
