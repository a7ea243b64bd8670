#pragma once
// The few things the core's tests ask of the system that Windows and POSIX spell differently:
// environment variables, the variable that names the temporary directory, read-only files and
// folders, and files another program holds open.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace nimbrel::testing {

#ifdef _WIN32
// GetTempPath looks at TMP first.
inline constexpr const char* kTempDirectoryVariable = "TMP";
#else
inline constexpr const char* kTempDirectoryVariable = "TMPDIR";
#endif

inline void SetEnvironment(const std::string& name, const std::string& value) {
#ifdef _WIN32
    // Through the C runtime, which also sets the process environment that the system reads.
    _putenv((name + "=" + value).c_str());
#else
    ::setenv(name.c_str(), value.c_str(), 1);
#endif
}

inline void UnsetEnvironment(const std::string& name) {
#ifdef _WIN32
    _putenv((name + "=").c_str());
#else
    ::unsetenv(name.c_str());
#endif
}

// Whether a read-only mark keeps this process from writing: on POSIX root writes through the
// file modes; on Windows the read-only attribute binds everyone, except under wine run by root,
// where the attribute becomes the Unix mode that root writes through. Windows finds out by trying.
inline bool SetReadOnly(const std::string& path, bool readOnly);

inline bool ReadOnlyMarksBind() {
#ifdef _WIN32
    char folder[MAX_PATH + 1] = {};
    char probe[MAX_PATH + 1] = {};
    if (!::GetTempPathA(sizeof folder, folder) || !::GetTempFileNameA(folder, "ro", 0, probe)) return true;
    SetReadOnly(probe, true);
    std::FILE* file = std::fopen(probe, "r+b");
    bool binds = file == nullptr;
    if (file) std::fclose(file);
    SetReadOnly(probe, false);
    ::DeleteFileA(probe);
    return binds;
#else
    return ::geteuid() != 0;
#endif
}

// Marks a file read-only (the read-only attribute on Windows, mode 0444 elsewhere), or writable
// again.
inline bool SetReadOnly(const std::string& path, bool readOnly) {
#ifdef _WIN32
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    attributes =
        readOnly ? (attributes | FILE_ATTRIBUTE_READONLY) : (attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    return ::SetFileAttributesA(path.c_str(), attributes) != 0;
#else
    return ::chmod(path.c_str(), readOnly ? 0444 : 0644) == 0;
#endif
}

#ifdef _WIN32
// A file held open by someone else with no sharing at all, as an editor or a virus scanner may
// hold it: nobody can open it while this object lives.
class HeldOpenFile {
public:
    explicit HeldOpenFile(const std::string& path)
        : handle_(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~HeldOpenFile() {
        if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    }
    HeldOpenFile(const HeldOpenFile&) = delete;
    HeldOpenFile& operator=(const HeldOpenFile&) = delete;
    bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};
#endif

inline bool MakeDirectory(const std::string& path) {
    std::error_code ec;
    return std::filesystem::create_directory(std::filesystem::path(path), ec) && !ec;
}

}  // namespace nimbrel::testing
