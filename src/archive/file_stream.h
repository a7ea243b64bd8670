#pragma once
// A buffered binary file with 64-bit positions, for the archive's members and temporary files.
// Failures raise nimbrel::Error with the system's input/output text.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/error.h"

namespace nimbrel::archive {

class FileStream {
public:
    enum class Mode {
        Read,       // an existing file, reading only
        Create,     // a new or emptied file, reading and writing
        ReadWrite,  // an existing file, reading and writing
        CreateNew,  // a new file, reading and writing; raises Exists when any entry of that name
                    // exists (a link, even a dangling one, is never followed)
    };

    // Raised by Mode::CreateNew when the name is taken.
    struct Exists : Error {
        using Error::Error;
    };
    // Every other failure of the system: its text, and the errno value behind it.
    struct IoFailure : Error {
        IoFailure(const std::string& text, int errorNumber) : Error(text), code(errorNumber) {}
        int code;
    };

    FileStream() = default;
    FileStream(const std::string& path, Mode mode);
    ~FileStream();
    FileStream(FileStream&& other) noexcept;
    FileStream& operator=(FileStream&& other) noexcept;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    bool IsOpen() const { return file_ != nullptr; }
    const std::string& Path() const { return path_; }
    // Closes the file; raises Error when buffered data could not be written.
    void Close();

    // Up to `size` bytes; fewer only at the end of the file.
    std::size_t Read(void* buffer, std::size_t size);
    // Exactly `size` bytes, or Error.
    void ReadExact(void* buffer, std::size_t size);
    void Write(const void* data, std::size_t size);
    void Seek(std::int64_t position);
    void SeekEnd();
    std::int64_t Position();
    std::int64_t Size();
    // Cuts the file to `size` bytes and leaves the position there.
    void Truncate(std::int64_t size);

private:
    std::FILE* file_ = nullptr;
    std::string path_;
};

}  // namespace nimbrel::archive
