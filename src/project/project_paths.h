#pragma once
// Paths stored in a project (pictures, the movie, the icon, the output) may be relative: such a
// path names a file beside the project file, wherever the program was started from. The project
// keeps the path as the user wrote it; whoever opens the file resolves it here.

#include <string>
#include <string_view>

namespace nimbrel::project {

// True for a path that does not depend on the current folder ("/x", "\\x", "C:\x", "\\\\server").
bool IsAbsolutePath(std::string_view path);

// The file a stored path names: an absolute or empty path as it is, a relative one joined to the
// folder of `projectFileName` (as is, when there is no project file or it has no folder part).
std::string ResolveProjectPath(std::string_view storedPath, std::string_view projectFileName);

}  // namespace nimbrel::project
