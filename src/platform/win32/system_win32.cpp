// Win32 implementations of the system queries in paths.h and temp.h.
#include <windows.h>

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
    return {};
}

bool ProcessIsRunning(const std::string&) {
    return true;
}

std::string MakeUniqueTempFile(const std::string& directory, const std::string& prefix) {
    char buffer[MAX_PATH + 1];
    if (GetTempFileNameA(directory.c_str(), prefix.c_str(), 0, buffer) == 0)
        throw Error("Cannot create a temporary file in " + directory);
    return buffer;
}

}  // namespace nimbrel::platform
