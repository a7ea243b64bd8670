// POSIX implementation of safe_create.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/safe_create.h"

namespace nimbrel::platform {

std::FILE* CreateNewFile(const std::string& path, int& error) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "w+b");
    if (!file) {
        error = errno;
        ::close(fd);
        ::unlink(path.c_str());
        return nullptr;
    }
    error = 0;
    return file;
}

bool CreatePrivateDirectory(const std::string& path) {
    return ::mkdir(path.c_str(), 0700) == 0;
}

bool IsLinkOrReparsePoint(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool IsRedirectedFolder(const std::string&) {
    return false;
}

bool EntryExists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace nimbrel::platform
