// Win32 implementations of the system queries in paths.h and temp.h.
#include <windows.h>

#include <string>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/temp.h"

namespace nimbrel::platform {

std::string ExecutableDirectory() {
    char buffer[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return ".\\";
    return DirectoryPart(std::string(buffer, length));
}

std::string GetTempDirectory() {
    // The reported path ends with a backslash; a path longer than the buffer counts as none.
    char buffer[261];
    DWORD length = GetTempPathA(sizeof buffer, buffer);
    if (length == 0 || length >= sizeof buffer) return std::string();
    return std::string(buffer, length);
}

std::string MakeUniqueTempFile(const std::string& directory, const std::string& prefix) {
    char buffer[MAX_PATH + 1];
    if (GetTempFileNameA(directory.c_str(), prefix.c_str(), 0, buffer) == 0)
        throw Error("Cannot create a temporary file in " + directory);
    return buffer;
}

}  // namespace nimbrel::platform
