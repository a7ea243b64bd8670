// POSIX implementation of platform/file_mapping.h: open + flock, mmap, ftruncate.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/file_mapping.h"
#include "platform/last_error.h"
#include "platform/paths.h"

namespace nimbrel::platform {

namespace {

bool Fail(int errorNumber) {
    SetLastErrorCode(ErrorCodeFromErrno(errorNumber));
    return false;
}

}  // namespace

MappedFile::~MappedFile() {
    Close();
}

bool MappedFile::Open(const std::u16string& path, Mode mode) {
    Close();
    std::string narrow = NarrowFromUtf16(path);
    int flags = O_RDWR | O_CLOEXEC;
    if (mode == Mode::CreateAlways) flags |= O_CREAT;
    if (mode == Mode::CreateNew) flags |= O_CREAT | O_EXCL | O_NOFOLLOW;
    int fd = ::open(narrow.c_str(), flags, 0644);
    if (fd < 0) return Fail(errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        int err = errno ? errno : EISDIR;
        ::close(fd);
        return Fail(err);
    }
    // The lock keeps a second editor (and a second edit of this process) out of the file.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        ::close(fd);
        return Fail(err);
    }
    if (mode == Mode::CreateAlways && ::ftruncate(fd, 0) != 0) {
        int err = errno;
        ::close(fd);
        return Fail(err);
    }
    fd_ = fd;
    return true;
}

void MappedFile::Close() {
    Unmap();
    if (fd_ >= 0) {
        ::close(fd_);  // also drops the lock
        fd_ = -1;
    }
}

bool MappedFile::IsOpen() const {
    return fd_ >= 0;
}

std::int64_t MappedFile::Size() const {
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0) return -1;
    return static_cast<std::int64_t>(info.st_size);
}

bool MappedFile::Resize(std::uint64_t size) {
    if (fd_ < 0 || view_) return Fail(EBADF);
    std::int64_t old = Size();
    if (old < 0) return Fail(errno);
    if (size > static_cast<std::uint64_t>(old)) {
        // Reserve the blocks now: writing through a view into a sparse hole on a full disk
        // would raise SIGBUS instead of reporting "disk full".
        int err = ::posix_fallocate(fd_, old, static_cast<off_t>(size - static_cast<std::uint64_t>(old)));
        if (err == 0) return true;
        if (err != EOPNOTSUPP && err != EINVAL) return Fail(err);
    }
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return Fail(errno);
    return true;
}

bool MappedFile::Map() {
    if (fd_ < 0) return Fail(EBADF);
    Unmap();
    std::int64_t size = Size();
    if (size < 0) return Fail(errno);
    if (size == 0) return true;
    if (static_cast<std::uint64_t>(size) > SIZE_MAX) return Fail(EFBIG);
    int flags = MAP_SHARED;
#ifdef MAP_POPULATE
    flags |= MAP_POPULATE;  // one pass over the page cache instead of a fault per page
#endif
    void* view = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, flags, fd_, 0);
    if (view == MAP_FAILED) return Fail(errno);
    view_ = static_cast<std::uint8_t*>(view);
    viewSize_ = static_cast<std::size_t>(size);
    return true;
}

void MappedFile::Unmap() {
    if (view_) ::munmap(view_, viewSize_);
    view_ = nullptr;
    viewSize_ = 0;
}

bool MappedFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const {
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        ssize_t got = ::pread(fd_, out, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return Fail(errno);
        if (got == 0) return Fail(EIO);  // short file
        out += got;
        offset += static_cast<std::uint64_t>(got);
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool MappedFile::WriteAt(std::uint64_t offset, const void* buffer, std::size_t size) {
    const auto* in = static_cast<const char*>(buffer);
    while (size > 0) {
        ssize_t put = ::pwrite(fd_, in, size, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return Fail(put < 0 ? errno : EIO);
        in += put;
        offset += static_cast<std::uint64_t>(put);
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

bool MappedFile::MoveData(std::uint64_t from, std::uint64_t to, std::uint64_t length) {
    if (from == to || length == 0) return true;
#ifdef __linux__
    // In-kernel copies in chunks that never overlap (at most the distance of the move), from the
    // back when moving towards the end. Falls back to buffered copies where the call is missing.
    std::uint64_t distance = from > to ? from - to : to - from;
    std::uint64_t chunk = std::min<std::uint64_t>(distance, 16u << 20);
    std::uint64_t done = 0;
    while (done < length) {
        std::uint64_t piece = std::min<std::uint64_t>(chunk, length - done);
        std::uint64_t at = to > from ? length - done - piece : done;
        off_t in = static_cast<off_t>(from + at), out = static_cast<off_t>(to + at);
        ssize_t copied = ::copy_file_range(fd_, &in, fd_, &out, static_cast<std::size_t>(piece), 0);
        if (copied < 0 && errno == EINTR) continue;
        if (copied <= 0) {
            if (done == 0 && copied < 0 &&
                (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP))
                return MoveDataBuffered(from, to, length);
            return Fail(copied < 0 ? errno : EIO);
        }
        if (static_cast<std::uint64_t>(copied) < piece) {
            // A short copy: finish this piece with buffered copies, which are exact.
            std::uint64_t rest = piece - static_cast<std::uint64_t>(copied);
            std::uint64_t restAt = at + static_cast<std::uint64_t>(copied);
            if (!MoveDataBuffered(from + restAt, to + restAt, rest)) return false;
        }
        done += piece;
    }
    return true;
#else
    return MoveDataBuffered(from, to, length);
#endif
}

bool ReadWholeFileShared(const std::u16string& path, std::string& bytes) {
    std::string narrow = NarrowFromUtf16(path);
    int fd = ::open(narrow.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail(errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        int err = errno ? errno : EISDIR;
        ::close(fd);
        return Fail(err);
    }
    // One read of the size the file has now, as the system's ReadFile would do: a file that
    // delivers fewer bytes counts as unreadable.
    bytes.assign(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            int err = got < 0 ? errno : EIO;
            ::close(fd);
            bytes.clear();
            return Fail(err);
        }
        done += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return true;
}

bool RemoveFileUtf16(const std::u16string& path) {
    std::string narrow = NarrowFromUtf16(path);
    if (::unlink(narrow.c_str()) != 0) return Fail(errno);
    return true;
}

std::u16string TempDirectoryUtf16() {
    return Utf16FromNarrow(GetTempDirectory());
}

std::uint32_t CurrentProcessId() {
    return static_cast<std::uint32_t>(::getpid());
}

std::string NarrowFromUtf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint32_t>(text[i + 1]) - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string Utf16FromNarrow(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        std::uint32_t c = byte;
        std::size_t extra = 0;
        bool valid = true;
        if (byte >= 0xF0 && byte < 0xF8) {
            c = byte & 0x07u;
            extra = 3;
        } else if (byte >= 0xE0 && byte < 0xF0) {
            c = byte & 0x0Fu;
            extra = 2;
        } else if (byte >= 0xC0 && byte < 0xE0) {
            c = byte & 0x1Fu;
            extra = 1;
        } else if (byte >= 0x80) {
            valid = false;
        }
        if (valid && i + extra >= text.size() && extra > 0) valid = false;
        for (std::size_t k = 1; valid && k <= extra; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) valid = false;
            c = (c << 6) | (next & 0x3Fu);
        }
        if (!valid) {
            out += static_cast<char16_t>(0xFFFD);  // a byte that starts no character
            ++i;
            continue;
        }
        i += extra + 1;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

}  // namespace nimbrel::platform
