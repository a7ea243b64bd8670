// POSIX implementations of the system queries in paths.h and temp.h.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/temp.h"

namespace nimbrel::platform {

std::string ExecutableDirectory() {
    char buffer[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return WithTrailingSeparator(".");
    return DirectoryPart(std::string(buffer, static_cast<std::size_t>(length)));
}

std::string CurrentProcessTag() {
    return std::to_string(static_cast<long>(::getpid()));
}

bool ProcessIsRunning(const std::string& tag) {
    char* end = nullptr;
    errno = 0;
    const long id = std::strtol(tag.c_str(), &end, 10);
    if (errno != 0 || end == tag.c_str() || *end != '\0' || id <= 0 || id > INT_MAX) return true;
    // EPERM: it runs, under another user.
    return ::kill(static_cast<pid_t>(id), 0) == 0 || errno != ESRCH;
}

std::string GetTempDirectory() {
    // As on Windows, the environment names it first; the answer always ends in a separator.
    for (const char* name : {"TMPDIR", "TMP", "TEMP"}) {
        const char* value = std::getenv(name);
        if (value && *value && DirectoryExists(value)) return WithTrailingSeparator(value);
    }
    return DirectoryExists("/tmp") ? std::string("/tmp/") : std::string();
}

std::string detail::CreateUniqueFile(const std::string& directory, const std::string& prefix) {
    // Like GetTempFileName: prefix, four hex digits, ".tmp", created empty and exclusively.
    static std::mt19937 generator{std::random_device{}() ^ static_cast<unsigned>(getpid())};
    std::string base = WithTrailingSeparator(directory) + prefix;
    for (int attempt = 0; attempt < 65536; ++attempt) {
        unsigned value = generator() & 0xFFFFu;
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04X", value);
        std::string path = base + digits + ".tmp";
        int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST) throw Error(IoErrorMessage(errno));
    }
    throw Error("Cannot create a temporary file in " + directory);
}

}  // namespace nimbrel::platform
