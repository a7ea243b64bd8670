#pragma once
// Creating files and folders that nobody else can have prepared: a file is made only where no
// entry of that name exists (a link, even a dangling one, counts as existing and is never
// followed), and a private folder is readable by its owner alone.

#include <cstdio>
#include <string>

namespace nimbrel::platform {

// Creates `path` as a new, empty file open for reading and writing ("w+b"). Fails, without
// touching anything, when any entry of that name exists; on POSIX a symbolic link in the last
// component is never followed (O_CREAT | O_EXCL | O_NOFOLLOW), on Windows the file is made with
// CREATE_NEW. Returns nullptr and sets `error` to an errno value on failure (EEXIST when the
// name is taken).
std::FILE* CreateNewFile(const std::string& path, int& error);

// Creates the folder `path` for its owner alone (mode 0700 on POSIX). False when it exists or
// cannot be made.
bool CreatePrivateDirectory(const std::string& path);

// True when `path` is a symbolic link, or on Windows any reparse point (a junction, a mount
// point): an entry that leads somewhere else.
bool IsLinkOrReparsePoint(const std::string& path);

// True when the folder `path` (trailing separators allowed) is a Windows junction or mount point,
// which would carry whatever is written into it somewhere else. Always false on POSIX systems,
// where a linked folder is the user's own plain choice.
bool IsRedirectedFolder(const std::string& path);

// True when an entry of this name exists at all, a dangling link included.
bool EntryExists(const std::string& path);

}  // namespace nimbrel::platform
