#include "platform/temp.h"

#include <filesystem>
#include <system_error>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace nimbrel::platform {

TempDirectory::TempDirectory(const std::string& prefix) {
    std::string base = GetTempDirectory();
    if (base.empty()) base = WithTrailingSeparator(NarrowPath(std::filesystem::current_path()));
    // Reserve a unique name as a file, then put the directory in its place under a suffix,
    // so that two processes can never pick the same directory.
    TempFile marker(MakeUniqueTempFile(base, prefix));
    std::string dir = marker.Path() + ".d";
    std::error_code ec;
    if (!std::filesystem::create_directory(NativePath(dir), ec) || ec)
        throw Error("Cannot create temporary directory " + dir);
    path_ = WithTrailingSeparator(dir);
    markerPath_ = marker.Release();
}

TempDirectory::~TempDirectory() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(NativePath(path_), ec);
    if (!markerPath_.empty()) RemoveFile(markerPath_);
}

TempFile::~TempFile() {
    if (!path_.empty()) RemoveFile(path_);
}

TempFile& TempFile::operator=(TempFile&& other) noexcept {
    if (this != &other) {
        if (!path_.empty()) RemoveFile(path_);
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

std::string TempFile::Release() {
    std::string path = std::move(path_);
    path_.clear();
    return path;
}

}  // namespace nimbrel::platform
