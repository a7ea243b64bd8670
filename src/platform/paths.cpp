#include "platform/paths.h"

#ifdef _WIN32
#include "platform/file_mapping.h"
#endif

namespace nimbrel::platform {

bool IsSeparator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

bool IsAbsolutePath(std::string_view path) {
    if (path.empty()) return false;
    if (IsSeparator(path.front())) return true;
#ifdef _WIN32
    if (path.size() >= 2 && path[1] == ':') return true;
#endif
    return false;
}

namespace {
// Index just past the directory part: after the last separator (or a drive's colon on Windows).
std::size_t DirectoryEnd(std::string_view path) {
    for (std::size_t i = path.size(); i > 0; --i) {
        char c = path[i - 1];
        if (IsSeparator(c)) return i;
#ifdef _WIN32
        if (c == ':') return i;
#endif
    }
    return 0;
}
}  // namespace

std::string DirectoryPart(std::string_view path) {
    return std::string(path.substr(0, DirectoryEnd(path)));
}

std::string FileNamePart(std::string_view path) {
    return std::string(path.substr(DirectoryEnd(path)));
}

std::string ExtensionPart(std::string_view path) {
    std::string_view name = path.substr(DirectoryEnd(path));
    auto dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot));
}

std::string ChangeExtension(std::string_view path, std::string_view extension) {
    std::size_t nameStart = DirectoryEnd(path);
    auto dot = path.substr(nameStart).rfind('.');
    std::string result(dot == std::string_view::npos ? path : path.substr(0, nameStart + dot));
    result += extension;
    return result;
}

std::string WithTrailingSeparator(std::string_view path) {
    std::string result(path);
    while (!result.empty() && IsSeparator(result.back())) result.pop_back();
    result += kSeparator;
    return result;
}

std::string JoinPath(std::string_view directory, std::string_view name) {
    if (directory.empty()) return std::string(name);
    std::string result(directory);
    if (!IsSeparator(result.back())) result += kSeparator;
    while (!name.empty() && IsSeparator(name.front())) name.remove_prefix(1);
    result += name;
    return result;
}

std::filesystem::path NativePath(std::string_view path) {
#ifdef _WIN32
    std::u16string wide = Utf16FromNarrow(path);
    return std::filesystem::path(std::wstring(wide.begin(), wide.end()));
#else
    return std::filesystem::path(std::string(path));
#endif
}

std::string NarrowPath(const std::filesystem::path& path) {
#ifdef _WIN32
    const std::wstring& wide = path.native();
    return NarrowFromUtf16(std::u16string(wide.begin(), wide.end()));
#else
    return path.string();
#endif
}

}  // namespace nimbrel::platform
