#include "platform/temp.h"

#include <cctype>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <vector>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/safe_create.h"

namespace nimbrel::platform {

namespace {

// The temporaries alive, for RemoveLiveTemporaries. Once that has run (`closing`), the process
// is ending: a temporary that other threads make meanwhile is removed at once instead of listed.
struct LiveTemporaries {
    std::mutex mutex;
    std::set<std::string> paths;
    bool closing = false;
};

LiveTemporaries& Live() {
    static LiveTemporaries* live = new LiveTemporaries;  // outlives every static TempDirectory
    return *live;
}

// False, with the path removed, when the process is ending.
bool TrackLocked(LiveTemporaries& live, const std::string& path) {
    if (live.closing) {
        std::error_code ec;
        std::filesystem::remove_all(NativePath(path), ec);
        return false;
    }
    live.paths.insert(path);
    return true;
}

bool Track(const std::string& path) {
    if (path.empty()) return true;
    LiveTemporaries& live = Live();
    std::lock_guard lock(live.mutex);
    return TrackLocked(live, path);
}

void Untrack(const std::string& path) {
    if (path.empty()) return;
    LiveTemporaries& live = Live();
    std::lock_guard lock(live.mutex);
    live.paths.erase(path);
}

}  // namespace

std::string MakeUniqueTempFile(const std::string& directory, const std::string& prefix) {
    // Made and listed under one lock: an interrupt finds the file listed or never sees it made.
    LiveTemporaries& live = Live();
    std::lock_guard lock(live.mutex);
    if (live.closing)
        throw Error("Cannot create a temporary file in " + directory + ": the program is ending");
    std::string path = detail::CreateUniqueFile(directory, prefix);
    TrackLocked(live, path);
    return path;
}

void RemoveLiveTemporaries() {
    LiveTemporaries& live = Live();
    std::lock_guard lock(live.mutex);
    live.closing = true;
    for (const std::string& path : live.paths) {
        std::error_code ec;
        std::filesystem::remove_all(NativePath(path), ec);
    }
    live.paths.clear();
}

std::string LeftoverPrefix(const std::string& base) {
    const std::string id = CurrentProcessTag();
    return id.empty() ? base : base + id + "-";
}

int RemoveLeftoversOfGoneProcesses(const std::string& folder, const std::string& base) {
    namespace fs = std::filesystem;
    const std::string own = CurrentProcessTag();
    if (own.empty()) return 0;
    int removed = 0;
    std::error_code ec;
    for (fs::directory_iterator it(NativePath(folder.empty() ? std::string(".") : folder), ec), end;
         !ec && it != end; it.increment(ec)) {
        const std::string name = NarrowPath(it->path().filename());
        if (name.compare(0, base.size(), base) != 0) continue;
        // <base><digits>-XXXX.tmp, or that followed by ".d"
        std::size_t at = base.size();
        while (at < name.size() && std::isdigit(static_cast<unsigned char>(name[at]))) ++at;
        const std::string id = name.substr(base.size(), at - base.size());
        if (id.empty() || id.size() > 9 || at >= name.size() || name[at] != '-') continue;
        const std::string rest = name.substr(at + 1);
        if (rest.size() != 8 && rest.size() != 10) continue;
        if (rest.compare(4, 4, ".tmp") != 0 || (rest.size() == 10 && rest.compare(8, 2, ".d") != 0)) continue;
        if (id == own || ProcessIsRunning(id)) continue;
        std::error_code removeError;
        if (fs::remove_all(it->path(), removeError) > 0 && !removeError) ++removed;
    }
    return removed;
}

TempDirectory::TempDirectory(const std::string& prefix) {
    std::string base = GetTempDirectory();
    if (base.empty()) base = WithTrailingSeparator(NarrowPath(std::filesystem::current_path()));
    // Reserve a unique name as a file, then put the directory in its place under a suffix,
    // so that two processes can never pick the same directory.
    TempFile marker(MakeUniqueTempFile(base, LeftoverPrefix(prefix)));
    std::string dir = marker.Path() + ".d";
    if (!Track(dir) || !CreatePrivateDirectory(dir)) {
        Untrack(dir);
        throw Error("Cannot create temporary directory " + dir);
    }
    path_ = WithTrailingSeparator(dir);
    marker_ = std::move(marker);
}

namespace {

// The folders PrivateTempDirectory made, removed at exit.
struct PrivateFolders {
    std::mutex mutex;
    std::string base;  // the user's temporary directory the current folder lies in
    std::string current;
    std::vector<std::unique_ptr<TempDirectory>> made;
};

PrivateFolders& Folders() {
    static PrivateFolders folders;
    return folders;
}

}  // namespace

std::string PrivateTempDirectory() {
    PrivateFolders& folders = Folders();
    std::lock_guard<std::mutex> lock(folders.mutex);
    std::string base = GetTempDirectory();
    if (folders.current.empty() || base != folders.base || !DirectoryExists(folders.current)) {
        folders.made.push_back(std::make_unique<TempDirectory>("nimbrel"));
        folders.current = folders.made.back()->Path();
        folders.base = base;
    }
    return folders.current;
}

TempDirectory::~TempDirectory() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(NativePath(path_), ec);
    if (!path_.empty()) Untrack(path_.substr(0, path_.size() - 1));
}

TempFile::TempFile(std::string path) : path_(std::move(path)) {
    Track(path_);
}

TempFile::~TempFile() {
    if (!path_.empty()) RemoveFile(path_);
    Untrack(path_);
}

TempFile& TempFile::operator=(TempFile&& other) noexcept {
    if (this != &other) {
        if (!path_.empty()) RemoveFile(path_);
        Untrack(path_);
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

std::string TempFile::Release() {
    std::string path = std::move(path_);
    path_.clear();
    Untrack(path);
    return path;
}

}  // namespace nimbrel::platform
