#include "project/project_paths.h"

#include "platform/paths.h"

namespace nimbrel::project {

bool IsAbsolutePath(std::string_view path) {
    return platform::IsAbsolutePath(path);
}

std::string ResolveProjectPath(std::string_view storedPath, std::string_view projectFileName) {
    if (storedPath.empty() || IsAbsolutePath(storedPath)) return std::string(storedPath);
    std::string folder = platform::DirectoryPart(projectFileName);
    if (folder.empty()) return std::string(storedPath);
    return platform::JoinPath(folder, storedPath);
}

}  // namespace nimbrel::project
