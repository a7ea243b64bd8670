// Win32 implementations of the system queries in paths.h and temp.h.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/temp.h"

namespace nimbrel::platform {

std::string ExecutableDirectory() {
    // A program installed deeper than MAX_PATH characters still has a folder: the buffer grows
    // until the whole name fits, rather than sending the caller to the current folder.
    std::string buffer(MAX_PATH + 1, '\0');
    for (;;) {
        DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return ".\\";
        if (length < buffer.size()) return DirectoryPart(std::string_view(buffer.data(), length));
        if (buffer.size() > 32768) return ".\\";
        buffer.resize(buffer.size() * 2);
    }
}

std::string GetTempDirectory() {
    // The reported path ends with a backslash; a path longer than the buffer counts as none.
    char buffer[261];
    DWORD length = GetTempPathA(sizeof buffer, buffer);
    if (length == 0 || length >= sizeof buffer) return std::string();
    return std::string(buffer, length);
}

std::string CurrentProcessTag() {
    return std::to_string(static_cast<unsigned long>(GetCurrentProcessId()));
}

bool ProcessIsRunning(const std::string& tag) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long id = std::strtoull(tag.c_str(), &end, 10);
    if (errno != 0 || end == tag.c_str() || *end != '\0' || id == 0 || id > 0xFFFFFFFFull) return true;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(id));
    // No such process is ERROR_INVALID_PARAMETER; a denial means it runs, under another user.
    if (!process) return GetLastError() != ERROR_INVALID_PARAMETER;
    // A process that has ended stays open while anyone holds a handle to it. An id that has
    // been given to a new process counts as running: its leftovers wait for a later sweep.
    DWORD code = 0;
    const bool running = !GetExitCodeProcess(process, &code) || code == STILL_ACTIVE;
    CloseHandle(process);
    return running;
}

std::string detail::CreateUniqueFile(const std::string& directory, const std::string& prefix) {
    // As GetTempFileName names them (prefix, four hex digits, ".tmp"), but with the whole prefix:
    // GetTempFileName keeps only its first three letters, and leftover names carry a process id.
    static std::mt19937 generator{std::random_device{}() ^ static_cast<unsigned>(GetCurrentProcessId())};
    static std::mutex mutex;
    const std::string base = WithTrailingSeparator(directory) + prefix;
    for (int attempt = 0; attempt < 65536; ++attempt) {
        unsigned value = 0;
        {
            std::lock_guard lock(mutex);
            value = generator() & 0xFFFFu;
        }
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04X", value);
        std::string path = base + digits + ".tmp";
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return path;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    throw Error("Cannot create a temporary file in " + directory);
}

}  // namespace nimbrel::platform
