#include "archive/file_stream.h"

#include <cerrno>
#include <utility>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/safe_create.h"

namespace nimbrel::archive {

namespace {
[[noreturn]] void Fail(int err) {
    if (err == 0) err = EIO;
    throw FileStream::IoFailure(platform::IoErrorMessage(err), err);
}

}  // namespace

FileStream::FileStream(const std::string& path, Mode mode) : path_(path) {
    if (mode == Mode::CreateNew) {
        int err = 0;
        file_ = platform::CreateNewFile(path, err);
        if (!file_ && err == EEXIST) throw Exists(platform::IoErrorMessage(err));
        if (!file_) Fail(err);
    } else {
        const char* how = mode == Mode::Read ? "rb" : mode == Mode::Create ? "w+b" : "r+b";
        // Opening a pipe waits for a writer and a device never ends: only regular files are read.
        if (mode != Mode::Create) platform::RequireRegularOrMissing(path);
        errno = 0;
        file_ = std::fopen(path.c_str(), how);
        if (!file_) Fail(errno);
    }
    std::setvbuf(file_, nullptr, _IOFBF, 65536);
}

FileStream::~FileStream() {
    if (file_) std::fclose(file_);
}

FileStream::FileStream(FileStream&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)), path_(std::move(other.path_)) {}

FileStream& FileStream::operator=(FileStream&& other) noexcept {
    if (this != &other) {
        if (file_) std::fclose(file_);
        file_ = std::exchange(other.file_, nullptr);
        path_ = std::move(other.path_);
    }
    return *this;
}

void FileStream::Close() {
    if (!file_) return;
    errno = 0;
    int rc = std::fclose(std::exchange(file_, nullptr));
    if (rc != 0) Fail(errno);
}

std::size_t FileStream::Read(void* buffer, std::size_t size) {
    if (!file_) Fail(EBADF);
    errno = 0;
    std::size_t got = std::fread(buffer, 1, size, file_);
    if (got < size && std::ferror(file_)) Fail(errno);
    return got;
}

void FileStream::ReadExact(void* buffer, std::size_t size) {
    if (Read(buffer, size) != size) throw Error("Read beyond end of file");
}

void FileStream::Write(const void* data, std::size_t size) {
    if (!file_) Fail(EBADF);
    errno = 0;
    if (size > 0 && std::fwrite(data, 1, size, file_) != size) Fail(errno);
}

void FileStream::Seek(std::int64_t position) {
    if (!file_) Fail(EBADF);
    if (position < 0 || platform::SeekFile(file_, position, SEEK_SET) != 0) Fail(errno ? errno : EINVAL);
}

void FileStream::SeekEnd() {
    if (!file_) Fail(EBADF);
    if (platform::SeekFile(file_, 0, SEEK_END) != 0) Fail(errno);
}

std::int64_t FileStream::Position() {
    if (!file_) Fail(EBADF);
    std::int64_t at = platform::TellFile(file_);
    if (at < 0) Fail(errno);
    return at;
}

std::int64_t FileStream::Size() {
    std::int64_t at = Position();
    SeekEnd();
    std::int64_t size = Position();
    Seek(at);
    return size;
}

void FileStream::Truncate(std::int64_t size) {
    if (!file_) Fail(EBADF);
    if (platform::TruncateFile(file_, size) != 0) Fail(errno);
    Seek(size);
}

}  // namespace nimbrel::archive
