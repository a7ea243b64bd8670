// POSIX side of the safe whole-file write in files.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/temp.h"

namespace fs = std::filesystem;

namespace nimbrel::platform {

namespace {

// The file a write to `path` must change: symbolic links are followed to their end, also when
// that end does not exist yet (a link to a file still to be made).
std::string RealTarget(const std::string& path) {
    fs::path current(path);
    for (int depth = 0; depth < 40; ++depth) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(current, ec)) || ec) return current.string();
        fs::path link = fs::read_symlink(current, ec);
        if (ec) throw Error(IoErrorMessage(ec.value()));
        current = link.is_absolute() ? link : current.parent_path() / link;
    }
    throw Error(IoErrorMessage(ELOOP));
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now, reporting the failure a close can bring (a delayed write error).
    int Close() {
        int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

void WriteAllAt(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t put = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) throw Error(IoErrorMessage(put < 0 ? errno : EIO));
        done += static_cast<std::size_t>(put);
    }
}

// Room for `size` bytes, taken before any old byte is overwritten, so that a full disk fails the
// write while the old content is still whole. File systems that cannot reserve space say so and
// are written without it.
void Reserve(int fd, std::size_t size) {
    if (size == 0) return;
    int result = ::posix_fallocate(fd, 0, static_cast<off_t>(size));
    if (result != 0 && result != EOPNOTSUPP && result != EINVAL && result != ENOSYS)
        throw Error(IoErrorMessage(result));
}

void WriteInPlace(int fd, std::string_view bytes) {
    Reserve(fd, bytes.size());
    WriteAllAt(fd, bytes);
    if (::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) throw Error(IoErrorMessage(errno));
    if (::fsync(fd) != 0) throw Error(IoErrorMessage(errno));
}

mode_t NewFileMode() {
    mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
    const std::string target = RealTarget(path);
    struct stat old {};
    bool exists = ::stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) throw Error(IoErrorMessage(errno));
    if (exists && !S_ISREG(old.st_mode)) throw Error(NotRegularFileMessage(path));

    // A file that cannot be opened for writing fails as it would fail to open, rather than being
    // replaced through the folder's rights. The descriptor also serves a write in place.
    int existingFd = -1;
    if (exists) {
        existingFd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
        if (existingFd < 0) throw Error(IoErrorMessage(errno));
    }
    Descriptor existing(existingFd);

    // Another name shares the file: replacing it would split the names, so write in place.
    if (exists && old.st_nlink > 1) {
        WriteInPlace(existing.get(), bytes);
        if (existing.Close() != 0) throw Error(IoErrorMessage(errno));
        return;
    }

    std::string directory = DirectoryPart(target);
    std::string tempPath;
    try {
        tempPath =
            MakeUniqueTempFile(directory.empty() ? std::string(".") : directory, LeftoverPrefix("~nb"));
    } catch (const Error&) {
        if (!exists) throw Error(IoErrorMessage(EACCES));
        // The folder takes no new file, but the file itself may be written.
        WriteInPlace(existing.get(), bytes);
        if (existing.Close() != 0) throw Error(IoErrorMessage(errno));
        return;
    }
    TempFile guard(tempPath);
    {
        Descriptor temp(::open(tempPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
        if (temp.get() < 0) throw Error(IoErrorMessage(errno));
        WriteAllAt(temp.get(), bytes);
        if (exists) {
            // Keep the owner where we may (we can when we own the file or are root) and the mode.
            if (::fchown(temp.get(), old.st_uid, old.st_gid) != 0) {
                // Not allowed to give it away: the file becomes ours, which is what any editor
                // that saves by replacing does.
            }
            if (::fchmod(temp.get(), old.st_mode & 07777) != 0) throw Error(IoErrorMessage(errno));
        } else if (::fchmod(temp.get(), NewFileMode()) != 0) {
            throw Error(IoErrorMessage(errno));
        }
        if (::fsync(temp.get()) != 0) throw Error(IoErrorMessage(errno));
        if (temp.Close() != 0) throw Error(IoErrorMessage(errno));
    }
    if (::rename(tempPath.c_str(), target.c_str()) != 0) throw Error(IoErrorMessage(errno));
    guard.Release();
    // The new name is in the folder once the folder itself is on the disk.
    Descriptor folder(
        ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) ::fsync(folder.get());
}

int SeekFile(std::FILE* file, std::int64_t offset, int origin) {
    return ::fseeko(file, static_cast<off_t>(offset), origin);
}

std::int64_t TellFile(std::FILE* file) {
    return static_cast<std::int64_t>(::ftello(file));
}

int TruncateFile(std::FILE* file, std::int64_t size) {
    if (std::fflush(file) != 0) return -1;
    return ::ftruncate(::fileno(file), static_cast<off_t>(size));
}

}  // namespace nimbrel::platform
