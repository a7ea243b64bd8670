#pragma once
// What the file list shows about a file: its size as text, its last-access date and the
// description of its type.

#include <optional>
#include <string>

namespace nimbrel::platform {

// A local date and time as the file list shows it.
struct LocalDateTime {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;  // even for file times, which keep the 2-second steps of the DOS date format
};

// The file's size in bytes as decimal text, read from the file opened for reading with every
// kind of sharing allowed. Throws Error "Cannot open file <path>" when it cannot be opened; a
// folder cannot.
std::string GetFileSizeText(const std::string& path);

// The file's last-access time (not its last-write time) in local time, at 2-second resolution.
// Nothing when no file or folder of that name is found.
std::optional<LocalDateTime> FileLastAccessTime(const std::string& path);

// The file's last-write time in local time, to the second. Nothing when it cannot be read.
std::optional<LocalDateTime> FileLastWriteTime(const std::string& path);

// The current local date and time.
LocalDateTime CurrentLocalDateTime();

// FileLastAccessTime, or the current local date and time when the file is not found.
LocalDateTime GetFileDate(const std::string& path);

// The description the system registers for a file-name extension given with its dot (".jpg"):
// on Windows the class named by the extension's key under HKEY_CLASSES_ROOT, and that class's
// description. Nothing when the system has no registration for it.
std::optional<std::string> RegisteredTypeName(const std::string& extension);

// The name of the photo formats the program converts at compile (.heic, .heif, .avif, .webp,
// .tif, .tiff, in any case) as desktop type databases name them ("HEIF image"); nothing for any
// other extension. Older systems register none of them.
std::optional<std::string> BuiltInTypeName(const std::string& extension);

// RegisteredTypeName, else BuiltInTypeName, else the extension itself; "" for "".
std::string GetFileTypeName(const std::string& extension);

}  // namespace nimbrel::platform
