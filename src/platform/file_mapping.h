#pragma once
// A file opened for reading and writing with exclusive access, mapped read-write into memory as
// a whole. Used for executables edited in place and for the editor's temporary files.
//
// Paths are UTF-16; they are converted to the system's form here (UTF-8 on POSIX, the wide
// calls on Windows). Every operation reports failure with false and leaves the reason in the
// platform's last-error value (platform/last_error.h).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace nimbrel::platform {

class MappedFile {
public:
    enum class Mode {
        OpenExisting,  // the file must exist
        CreateAlways,  // created, or truncated to zero length
        CreateNew,     // created; fails when any entry of that name exists, a link never followed
    };

    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Opens for reading and writing and holds the file exclusively until Close: on Windows with
    // share mode 0, on POSIX with an exclusive lock (flock), so a second MappedFile on the same
    // file fails with kErrorSharingViolation.
    bool Open(const std::u16string& path, Mode mode);
    void Close();  // unmaps, then closes; harmless when nothing is open
    bool IsOpen() const;

    // The current length of the file, or -1 when it cannot be examined.
    std::int64_t Size() const;
    // Sets the length of the file (only while unmapped). New bytes read as zero.
    bool Resize(std::uint64_t size);

    // Maps the whole file read-write. A file of length 0 maps to no view (Data() is null).
    bool Map();
    void Unmap();
    bool IsMapped() const { return view_ != nullptr; }
    std::uint8_t* Data() const { return view_; }
    std::size_t MappedSize() const { return viewSize_; }

    // Positional reads and writes that bypass the view; they also work while mapped.
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const;
    bool WriteAt(std::uint64_t offset, const void* buffer, std::size_t size);
    // Moves `length` bytes from `from` to `to` inside the file with positional reads and writes
    // (the ranges may overlap). Cheaper than a move through the view, which faults in every page.
    bool MoveData(std::uint64_t from, std::uint64_t to, std::uint64_t length);

private:
    bool MoveDataBuffered(std::uint64_t from, std::uint64_t to, std::uint64_t length);
#ifdef _WIN32
    void* file_ = nullptr;     // HANDLE, INVALID_HANDLE_VALUE stored as null
    void* mapping_ = nullptr;  // HANDLE of the file mapping object
#else
    int fd_ = -1;
#endif
    std::uint8_t* view_ = nullptr;
    std::size_t viewSize_ = 0;
};

// Reads a whole file that others may keep open (shared for reading and writing). False when it
// cannot be opened or read completely.
bool ReadWholeFileShared(const std::u16string& path, std::string& bytes);
// Deletes a file given by its UTF-16 path; false when it could not.
bool RemoveFileUtf16(const std::u16string& path);
// The user's temporary directory with its trailing separator, as UTF-16; "" when there is none.
std::u16string TempDirectoryUtf16();
// The ID of the running process.
std::uint32_t CurrentProcessId();

// Conversions between UTF-16 and the system's narrow encoding (UTF-8 on POSIX, the ANSI code
// page on Windows). Unpaired surrogates survive a round trip on POSIX (encoded as three bytes).
std::string NarrowFromUtf16(std::u16string_view text);
std::u16string Utf16FromNarrow(std::string_view text);

}  // namespace nimbrel::platform
