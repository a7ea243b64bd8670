// Win32 implementation of safe_create.h.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>

#include "platform/safe_create.h"

namespace nimbrel::platform {

namespace {
int ErrnoFromWin32(DWORD code) {
    switch (code) {
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return EEXIST;
        case ERROR_FILE_NOT_FOUND: return ENOENT;
        case ERROR_PATH_NOT_FOUND: return ENOTDIR;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION: return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
        case ERROR_INVALID_NAME: return EINVAL;
        default: return EIO;
    }
}
}  // namespace

std::FILE* CreateNewFile(const std::string& path, int& error) {
    // CREATE_NEW fails on any existing entry, a link or junction included, and follows none.
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = ErrnoFromWin32(GetLastError());
        return nullptr;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        error = EIO;
        CloseHandle(handle);
        DeleteFileA(path.c_str());
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "w+b");
    if (!file) {
        error = EIO;
        _close(fd);
        DeleteFileA(path.c_str());
        return nullptr;
    }
    error = 0;
    return file;
}

bool CreatePrivateDirectory(const std::string& path) {
    // The user's temporary folder is already the user's own; the folder inherits its rights.
    return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool IsLinkOrReparsePoint(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsRedirectedFolder(const std::string& path) {
    std::string folder = path;
    while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    return IsLinkOrReparsePoint(folder);
}

bool EntryExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace nimbrel::platform
