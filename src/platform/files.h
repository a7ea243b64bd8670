#pragma once
// Whole-file operations used by the core. Failures raise nimbrel::Error with the system's text.

#include <cstdint>
#include <string>
#include <string_view>

namespace nimbrel::platform {

bool FileExists(const std::string& path);  // a regular file (or anything not a directory)
bool DirectoryExists(const std::string& path);
// Size in bytes, or -1 when the file cannot be examined.
std::int64_t FileSize(const std::string& path);
// Deletes a file; false when it could not (missing included).
bool RemoveFile(const std::string& path);
// Renames, replacing an existing target where the system allows it.
bool RenameFile(const std::string& from, const std::string& to);
// Copies the bytes of `from` to `to`, replacing it. False on any failure.
bool CopyFileBytes(const std::string& from, const std::string& to);

// Reads a whole file. Throws Error (the platform's input/output text) when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// Writes `bytes` to a new file in the same folder and then replaces `path` with it, so that a
// failure (disk full, read-only folder) leaves the old content. Throws Error.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

// The text of an input/output failure for an errno value, in the words users know from the
// system's own dialogs ("File not found", "File access denied", "Disk full"), and any other in the
// system's description of it ("File name too long").
std::string IoErrorMessage(int errorNumber);

}  // namespace nimbrel::platform
