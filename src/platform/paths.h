#pragma once
// Narrow-string path helpers. Paths are 8-bit strings in the system's narrow code page; the
// separator is the platform's ('\\' on Windows, '/' elsewhere). On Windows '/' is accepted too.

#include <filesystem>
#include <string>
#include <string_view>

namespace nimbrel::platform {

#ifdef _WIN32
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

bool IsSeparator(char c);

// True for a path that does not depend on the current folder: it starts with a separator, or on
// Windows with a drive ("C:\x", and also "C:x", which depends on that drive's current folder
// rather than ours).
bool IsAbsolutePath(std::string_view path);

// The directory part of a path, with its trailing separator (and a drive's colon); "" when none.
std::string DirectoryPart(std::string_view path);
// The last component of a path, without any directory.
std::string FileNamePart(std::string_view path);
// The extension of the file-name part, with its dot; "" when the name has none.
std::string ExtensionPart(std::string_view path);
// The path with its extension replaced by `extension` (appended when there is none).
std::string ChangeExtension(std::string_view path, std::string_view extension);
// `directory` followed by `name`, with exactly one separator between them (none for "").
std::string JoinPath(std::string_view directory, std::string_view name);
// The path with exactly one trailing separator.
std::string WithTrailingSeparator(std::string_view path);

// A narrow path as std::filesystem must be given it. On Windows the narrow text is in the ANSI
// code page, which std::filesystem's own narrow conversion does not use (it would read "€" or any
// letter of another script as the wrong character); elsewhere the bytes pass as they are.
std::filesystem::path NativePath(std::string_view path);
// A std::filesystem path as narrow text in the system's code page (see NativePath).
std::string NarrowPath(const std::filesystem::path& path);

// The directory of the running executable, with its trailing separator.
std::string ExecutableDirectory();
// The user's temporary directory with its trailing separator, or "" when the system has none.
std::string GetTempDirectory();

}  // namespace nimbrel::platform
