#pragma once
// Reads an archive wherever it lies: as a file of its own or at the tail of a larger file (a
// screensaver), over bytes in memory or over a file on disk read piece by piece. Damaged or
// hostile archives raise nimbrel::Error; nothing is read outside the bytes given, and no
// member inflates beyond its declared size.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_format.h"

namespace nimbrel::archive {

// Random access to the bytes that end with the archive.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Exactly `size` bytes at `offset`, or Error.
    virtual void Read(std::uint64_t offset, void* buffer, std::size_t size) const = 0;
};

// Bytes owned by the caller (a mapped file); they must outlive the reader.
std::shared_ptr<ByteSource> MemoryByteSource(const unsigned char* data, std::size_t size);
// A file on disk, read piece by piece. Raises Error when it cannot be opened.
std::shared_ptr<ByteSource> FileByteSource(const std::string& path);

struct ArchiveMember {
    std::string name;  // the bare FileName
    std::string path;  // FilePath, empty unless paths were saved
    std::int64_t originalSize = 0;
    std::int64_t storedSize = 0;
    std::int64_t dataOffset = 0;  // archive offset; the file offset is ArchiveStart() + dataOffset
    std::uint32_t crc = 0;
    bool stored = false;
    int level = 0;
};

// One member read from any position. A stored member is read straight from the source; a
// deflated one is inflated as it is read, so that it is never held whole: reading on from where
// the last read ended costs only the bytes read, reading before it inflates again from the start.
// The member's CRC is checked when it has been inflated through to its end. Used by one thread.
class MemberReader {
public:
    MemberReader(std::shared_ptr<ByteSource> source, std::uint64_t archiveStart, ArchiveMember member);
    ~MemberReader();
    MemberReader(const MemberReader&) = delete;
    MemberReader& operator=(const MemberReader&) = delete;

    std::uint64_t Size() const { return static_cast<std::uint64_t>(member_.originalSize); }
    // Up to `size` bytes from `offset`; fewer only at the member's end. Raises Error for damaged
    // data, as Extract does.
    std::size_t ReadAt(std::uint64_t offset, void* into, std::size_t size);
    // How many times a deflated member was inflated again from its start.
    int Restarts() const { return restarts_; }

private:
    void Restart();
    std::size_t Inflate(void* into, std::size_t size);

    std::shared_ptr<ByteSource> source_;
    std::uint64_t start_;
    ArchiveMember member_;
    struct Inflating;
    std::unique_ptr<Inflating> inflating_;  // null for a stored member, or before the first read
    std::uint64_t position_ = 0;            // of the next inflated byte
    int restarts_ = -1;
};

class ArchiveReader {
public:
    using ChunkSink = std::function<void(const char* data, std::size_t size)>;

    // Finds the archive at the tail of the bytes (before the certificate table of a signed
    // program). Raises Error when there is none or its
    // trailer or registry is damaged.
    ArchiveReader(const unsigned char* data, std::size_t size);
    explicit ArchiveReader(std::shared_ptr<ByteSource> source);
    static ArchiveReader FromFile(const std::string& path);

    const std::vector<ArchiveMember>& Members() const { return members_; }
    // File offset of the archive's first byte, and the archive's length.
    std::uint64_t ArchiveStart() const { return start_; }
    std::uint64_t ArchiveLength() const { return length_; }
    const ArchiveTrailer& Trailer() const { return trailer_; }

    // True when ArchiveCrc matches the archive's bytes (from its own start) before the trailer.
    bool VerifyArchiveCrc() const;
    // The same, given up without a verdict (nullopt) as soon as `stop` is set, from any thread.
    std::optional<bool> VerifyArchiveCrc(const std::atomic<bool>& stop) const;
    // Index of the first member with this bare name, ignoring ASCII letter case; -1 if none.
    int IndexOf(const std::string& name) const;

    // The member's bytes, its CRC checked. Raises Error on a bad index, damaged data or a CRC
    // mismatch.
    std::string Extract(std::size_t index) const;
    // The member's bytes in pieces of at most 64 KiB. The CRC verdict comes after the last
    // piece: on a mismatch Error is raised then, so the receiver must drop what it got.
    void Extract(std::size_t index, const ChunkSink& sink) const;
    // A reader of the member that takes its bytes as they are asked for.
    std::unique_ptr<MemberReader> OpenMember(std::size_t index) const;

private:
    void Load();
    // Reads the archive whose trailer ends at `end`; `where` names that place in messages.
    void LoadAt(std::uint64_t end, const std::string& where);

    std::shared_ptr<ByteSource> source_;
    ArchiveTrailer trailer_;
    std::uint64_t start_ = 0;
    std::uint64_t length_ = 0;
    std::vector<ArchiveMember> members_;
};

}  // namespace nimbrel::archive
