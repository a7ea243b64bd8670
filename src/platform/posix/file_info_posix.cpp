// POSIX file information: sizes through open/fstat, access times through stat.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "platform/error.h"
#include "platform/file_info.h"

namespace nimbrel::platform {

namespace {

LocalDateTime FromLocal(const std::tm& local) {
    LocalDateTime result;
    result.year = local.tm_year + 1900;
    result.month = local.tm_mon + 1;
    result.day = local.tm_mday;
    result.hour = local.tm_hour;
    result.minute = local.tm_min;
    result.second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second stays in its minute
    return result;
}

}  // namespace

std::string GetFileSizeText(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throw Error(Format("Cannot open file %s", path));
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode);
    ::close(fd);
    if (!ok) throw Error(Format("Cannot open file %s", path));
    return std::to_string(static_cast<long long>(info.st_size));
}

std::optional<LocalDateTime> FileLastAccessTime(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) return std::nullopt;
    std::time_t seconds = info.st_atim.tv_sec;
    std::tm local{};
    if (!::localtime_r(&seconds, &local)) return std::nullopt;
    LocalDateTime result = FromLocal(local);
    result.second -= result.second % 2;  // the DOS date format counts in 2-second steps
    return result;
}

std::optional<LocalDateTime> FileLastWriteTime(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) return std::nullopt;
    std::time_t seconds = info.st_mtim.tv_sec;
    std::tm local{};
    if (!::localtime_r(&seconds, &local)) return std::nullopt;
    return FromLocal(local);
}

LocalDateTime CurrentLocalDateTime() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return FromLocal(local);
}

std::optional<std::string> RegisteredTypeName(const std::string&) {
    // No registry here; the window asks the desktop's type database instead.
    return std::nullopt;
}

}  // namespace nimbrel::platform
