#include "project/project_paths.h"

#include "platform/paths.h"

namespace nimbrel::project {

bool IsAbsolutePath(std::string_view path) {
    if (path.empty()) return false;
    if (platform::IsSeparator(path.front())) return true;
#ifdef _WIN32
    // "C:\x" and also "C:x", which depends on the drive's current folder rather than ours.
    if (path.size() >= 2 && path[1] == ':') return true;
#endif
    return false;
}

std::string ResolveProjectPath(std::string_view storedPath, std::string_view projectFileName) {
    if (storedPath.empty() || IsAbsolutePath(storedPath)) return std::string(storedPath);
    std::string folder = platform::DirectoryPart(projectFileName);
    if (folder.empty()) return std::string(storedPath);
    return platform::JoinPath(folder, storedPath);
}

}  // namespace nimbrel::project
