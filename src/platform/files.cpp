#include "platform/files.h"

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
