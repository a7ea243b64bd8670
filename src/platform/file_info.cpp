#include "platform/file_info.h"

#include "platform/ascii.h"

namespace nimbrel::platform {

std::optional<std::string> BuiltInTypeName(const std::string& extension) {
    struct Known {
        const char* extension;
        const char* name;
    };
    static constexpr Known kKnown[] = {{".heic", "HEIF image"}, {".heif", "HEIF image"},
                                       {".avif", "AVIF image"}, {".webp", "WebP image"},
                                       {".tif", "TIFF image"},  {".tiff", "TIFF image"}};
    for (const Known& known : kKnown)
        if (EqualIgnoringAsciiCase(extension, known.extension)) return std::string(known.name);
    return std::nullopt;
}

LocalDateTime GetFileDate(const std::string& path) {
    if (auto time = FileLastAccessTime(path)) return *time;
    return CurrentLocalDateTime();
}

std::string GetFileTypeName(const std::string& extension) {
    if (extension.empty()) return {};
    if (auto name = RegisteredTypeName(extension)) return *name;
    if (auto name = BuiltInTypeName(extension)) return *name;
    return extension;
}

}  // namespace nimbrel::platform
