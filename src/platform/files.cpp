#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/error.h"
#include "platform/paths.h"
#include "platform/temp.h"

namespace fs = std::filesystem;

namespace nimbrel::platform {

bool FileExists(const std::string& path) {
    std::error_code ec;
    auto status = fs::status(NativePath(path), ec);
    return !ec && fs::exists(status) && !fs::is_directory(status);
}

bool DirectoryExists(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(NativePath(path), ec);
}

std::int64_t FileSize(const std::string& path) {
    std::error_code ec;
    auto size = fs::file_size(NativePath(path), ec);
    return ec ? -1 : static_cast<std::int64_t>(size);
}

bool RemoveFile(const std::string& path) {
    std::error_code ec;
    if (path.empty() || DirectoryExists(path)) return false;
    return fs::remove(NativePath(path), ec) && !ec;
}

bool RenameFile(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::rename(NativePath(from), NativePath(to), ec);
    return !ec;
}

bool CopyFileBytes(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::copy_file(NativePath(from), NativePath(to), fs::copy_options::overwrite_existing, ec);
    if (ec) return false;
    // The copy is there to be worked on: a read-only original (its mode, or the read-only
    // attribute on Windows) must not make it read-only too.
    fs::permissions(NativePath(to), fs::perms::owner_write, fs::perm_options::add, ec);
    return !ec;
}

std::string IoErrorMessage(int errorNumber) {
    switch (errorNumber) {
        case ENOENT: return "File not found";
        case ENOTDIR: return "Path not found";
        case EACCES:
        case EPERM:
        case EROFS: return "File access denied";
        case ENOSPC: return "Disk full";
        case EMFILE: return "Too many open files";
        // Anything else in the system's own words ("File name too long", "Is a directory").
        default: return std::generic_category().message(errorNumber);
    }
}

FileKind KindOfFile(const std::string& path) {
    std::error_code ec;
    auto status = fs::status(NativePath(path), ec);
    switch (status.type()) {
        case fs::file_type::not_found:
        case fs::file_type::none: return FileKind::Missing;
        case fs::file_type::regular: return FileKind::Regular;
        case fs::file_type::directory: return FileKind::Directory;
        default: return ec ? FileKind::Missing : FileKind::Other;
    }
}

std::string NotRegularFileMessage(const std::string& path) {
    return path + " is not a regular file";
}

void RequireRegularOrMissing(const std::string& path) {
    FileKind kind = KindOfFile(path);
    if (kind == FileKind::Directory || kind == FileKind::Other) throw Error(NotRegularFileMessage(path));
}

std::string DescribeNonRegular(const std::string& path) {
    std::error_code ec;
    const fs::path native = NativePath(path);
    const fs::file_status own = fs::symlink_status(native, ec);
    if (ec || !fs::exists(own)) return {};
    const fs::file_status target = fs::status(native, ec);
    if (ec) return {};
    std::string what;
    switch (target.type()) {
        case fs::file_type::regular: return {};
        case fs::file_type::directory: what = "a folder"; break;
        case fs::file_type::fifo: what = "a named pipe (FIFO)"; break;
        case fs::file_type::character: what = "a character device"; break;
        case fs::file_type::block: what = "a block device"; break;
        case fs::file_type::socket: what = "a socket"; break;
        default: what = "not a regular file"; break;
    }
    return fs::is_symlink(own) ? "a link to " + what : what;
}

void RequireRegularOrNew(const std::string& path, const std::string& role) {
    const std::string what = DescribeNonRegular(path);
    if (what.empty()) return;
    throw Error(role + " " + path + " is " + what +
                "; only a regular file or a new name can take the screensaver, nothing was changed");
}

std::int64_t FreeDiskSpace(const std::string& path) {
    std::error_code ec;
    fs::path where = fs::absolute(NativePath(path.empty() ? std::string(".") : path), ec);
    if (ec) return -1;
    while (!fs::is_directory(where, ec) && where.has_relative_path()) where = where.parent_path();
    const fs::space_info space = fs::space(where, ec);
    if (ec || space.available == static_cast<std::uintmax_t>(-1)) return -1;
    return static_cast<std::int64_t>(space.available);
}

std::string SizeInWords(std::int64_t bytes) {
    constexpr std::int64_t kKilo = 1024, kMega = 1024 * 1024;
    if (bytes >= 10 * kMega) return std::to_string((bytes + kMega / 2) / kMega) + " MB";
    if (bytes >= kMega) {
        const std::int64_t tenths = (bytes * 10 + kMega / 2) / kMega;
        return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MB";
    }
    if (bytes >= kKilo) return std::to_string((bytes + kKilo / 2) / kKilo) + " KB";
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::string WriteFailureMessage(const std::string& path, int errorNumber, std::int64_t needed,
                                std::int64_t written) {
    const std::string start = "Cannot write " + path + ": ";
    std::string folder = DirectoryPart(path);
    if (folder.empty()) folder = ".";
    switch (errorNumber) {
        case ENOSPC:
#ifdef EDQUOT
        case EDQUOT:
#endif
        {
            std::string text = start + (errorNumber == ENOSPC ? "the disk holding " + folder + " is full"
                                                             : "the disk quota for " + folder + " is used up");
            std::int64_t free = FreeDiskSpace(folder);
            if (free >= 0) free += std::max<std::int64_t>(written, 0);
            if (needed > 0 && free >= 0)
                text += ": " + SizeInWords(needed) + " needed, " + SizeInWords(free) + " free";
            else if (free >= 0)
                text += " (" + SizeInWords(free) + " free)";
            return text;
        }
        case EFBIG:
            return start + "the file would pass the largest file size allowed here (see ulimit -f)";
        default: return start + IoErrorMessage(errorNumber ? errorNumber : EIO);
    }
}

bool SameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    std::error_code ec;
    if (fs::equivalent(NativePath(a), NativePath(b), ec) && !ec) return true;
    std::error_code ea, eb;
    fs::path left = fs::weakly_canonical(fs::absolute(NativePath(a), ea), ea);
    fs::path right = fs::weakly_canonical(fs::absolute(NativePath(b), eb), eb);
    if (ea || eb) return false;
#ifdef _WIN32
    // File names on Windows match without regard to case.
    auto lower = [](std::string text) {
        for (char& c : text)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return text;
    };
    return lower(left.string()) == lower(right.string());
#else
    return left == right;
#endif
}

std::string ReadWholeFile(const std::string& path) {
    RequireRegularOrMissing(path);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) throw Error(IoErrorMessage(errno));
    // Read straight into a string of the file's size: a photo of many megabytes is neither
    // copied again nor grown step by step. A file that changes meanwhile still reads whole.
    std::string bytes;
    std::error_code sizeError;
    const std::uintmax_t size = std::filesystem::file_size(NativePath(path), sizeError);
    if (!sizeError && size < (std::uintmax_t{1} << 40)) bytes.resize(static_cast<std::size_t>(size));
    const std::size_t expected = bytes.size();
    bytes.resize(std::fread(bytes.data(), 1, expected, file));
    if (bytes.size() == expected && !std::ferror(file)) {
        char buffer[65536];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
    }
    bool failed = std::ferror(file) != 0;
    int err = errno;
    std::fclose(file);
    if (failed) throw Error(IoErrorMessage(err ? err : EIO));
    return bytes;
}

}  // namespace nimbrel::platform
