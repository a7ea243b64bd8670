#pragma once
#include <cstdio>
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
// Copies the bytes of `from` to `to`, replacing it; the copy is writable by its owner even where
// `from` is read-only. False on any failure.
bool CopyFileBytes(const std::string& from, const std::string& to);

// What a path names, following symbolic links.
enum class FileKind { Missing, Regular, Directory, Other };
FileKind KindOfFile(const std::string& path);
// Throws Error naming `path` unless it is a regular file: a folder, a device or a pipe is never
// opened (reading a pipe or a device could wait for ever or never end). A missing file passes.
void RequireRegularOrMissing(const std::string& path);
// The text of that refusal: "<path> is not a regular file".
std::string NotRegularFileMessage(const std::string& path);
// What a path that is not a regular file names, for messages: "a named pipe (FIFO)", "a
// character device", "a folder", ..., with "a link to " in front when it is reached through a
// symbolic link. "" for a regular file and for a missing one.
std::string DescribeNonRegular(const std::string& path);
// Throws Error unless `path` is a regular file or names nothing yet (a dangling link counts as
// nothing yet): an output is never a pipe, a device or a folder, which writing would hang on,
// fill a disk through, or replace. `role` starts the message ("The output file").
void RequireRegularOrNew(const std::string& path, const std::string& role);

// Free bytes on the disk holding `path` (a file or a folder, existing or not: its nearest existing
// folder is asked); -1 when the system cannot tell.
std::int64_t FreeDiskSpace(const std::string& path);
// The message for a failure to write `path` with the errno value `errorNumber`: the file, and
// what happened in words. A full disk says how much the write needed (`needed` bytes, when
// known, 0 otherwise) and how much was free for it (what is free now and the `written` bytes the
// unfinished file takes, which go with it); a file size limit says so.
std::string WriteFailureMessage(const std::string& path, int errorNumber, std::int64_t needed = 0,
                                std::int64_t written = 0);
// "35 MB", "512 KB", "900 bytes": a size as messages show it.
std::string SizeInWords(std::int64_t bytes);

// True when both paths name the same file: the same file on disk when both exist (through
// links, other spellings and hard links), otherwise the same path once made absolute and normal.
bool SameFile(const std::string& a, const std::string& b);

// Reads a whole regular file. Throws Error (the platform's input/output text) when it cannot be
// read, and the NotRegularFileMessage for anything but a regular file.
std::string ReadWholeFile(const std::string& path);
// Replaces the content of `path` with `bytes`, complete or not at all where the system allows:
// the new content goes to a file beside the real file (reached through symbolic links) that then
// takes its place, with the old file's permissions (attributes on Windows). A file with further
// hard links, or one in a folder where no file can be created, is rewritten in place instead,
// after reserving its new size, and flushed to the disk. A file that cannot be opened for writing
// fails as it would fail to open ("File access denied"). Throws Error; on failure before the
// last step the old content stays.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

// The text of an input/output failure for an errno value, in the words users know from the
// system's own dialogs ("File not found", "File access denied", "Disk full"), and any other in the
// system's description of it ("File name too long").
std::string IoErrorMessage(int errorNumber);

// 64-bit positions of a stdio stream, which the C library offers under other names on each
// system. Seek and Truncate return 0 or set errno and return -1 (Tell: -1 on failure); Truncate
// flushes the stream first.
int SeekFile(std::FILE* file, std::int64_t offset, int origin);
std::int64_t TellFile(std::FILE* file);
int TruncateFile(std::FILE* file, std::int64_t size);

}  // namespace nimbrel::platform
