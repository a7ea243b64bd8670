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
    auto status = fs::status(fs::path(path), ec);
    return !ec && fs::exists(status) && !fs::is_directory(status);
}

bool DirectoryExists(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(fs::path(path), ec);
}

std::int64_t FileSize(const std::string& path) {
    std::error_code ec;
    auto size = fs::file_size(fs::path(path), ec);
    return ec ? -1 : static_cast<std::int64_t>(size);
}

bool RemoveFile(const std::string& path) {
    std::error_code ec;
    if (path.empty() || DirectoryExists(path)) return false;
    return fs::remove(fs::path(path), ec) && !ec;
}

bool RenameFile(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::rename(fs::path(from), fs::path(to), ec);
    return !ec;
}

bool CopyFileBytes(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::copy_file(fs::path(from), fs::path(to), fs::copy_options::overwrite_existing, ec);
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

std::string ReadWholeFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) throw Error(IoErrorMessage(errno));
    std::string bytes;
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
    bool failed = std::ferror(file) != 0;
    int err = errno;
    std::fclose(file);
    if (failed) throw Error(IoErrorMessage(err ? err : EIO));
    return bytes;
}

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
    // A read-only target must fail as the system would fail to open it for writing, not be
    // silently replaced through the folder's rights.
    if (FileExists(path)) {
        std::FILE* probe = std::fopen(path.c_str(), "r+b");
        if (!probe) throw Error(IoErrorMessage(errno));
        std::fclose(probe);
    }
    std::string directory = DirectoryPart(path);
    std::string tempPath;
    try {
        tempPath = MakeUniqueTempFile(directory.empty() ? std::string(".") : directory, "~nb");
    } catch (const Error&) {
        throw Error(IoErrorMessage(EACCES));
    }
    TempFile guard(tempPath);
    std::FILE* file = std::fopen(tempPath.c_str(), "wb");
    if (!file) throw Error(IoErrorMessage(errno));
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    int err = errno;
    ok = (std::fflush(file) == 0) && ok;
    if (!ok && err == 0) err = errno;
    ok = (std::fclose(file) == 0) && ok;
    if (!ok) throw Error(IoErrorMessage(err ? err : EIO));
    std::error_code ec;
    fs::rename(fs::path(tempPath), fs::path(path), ec);
    if (ec) throw Error(IoErrorMessage(ec.value()));
    guard.Release();
}

}  // namespace nimbrel::platform
