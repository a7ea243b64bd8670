#include "platform/file_info.h"

namespace nimbrel::platform {

LocalDateTime GetFileDate(const std::string& path) {
    if (auto time = FileLastAccessTime(path)) return *time;
    return CurrentLocalDateTime();
}

std::string GetFileTypeName(const std::string& extension) {
    if (extension.empty()) return {};
    if (auto name = RegisteredTypeName(extension)) return *name;
    return extension;
}

}  // namespace nimbrel::platform
