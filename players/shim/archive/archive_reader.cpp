#include "archive/archive_reader.h"

#include <zlib.h>

#include <cstring>

#include "platform/error.h"

namespace nimbrel::archive {
namespace {

constexpr std::size_t kTrailerSize = 36;
constexpr std::size_t kEntrySize = 532;

std::int32_t Int32At(const unsigned char* p) {
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
        static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

std::string ShortString(const unsigned char* p) {
    return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

bool Inflate(const unsigned char* in, std::size_t inSize, unsigned char* out, std::size_t outSize) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = const_cast<unsigned char*>(in);
    z.avail_in = static_cast<uInt>(inSize);
    z.next_out = out;
    z.avail_out = static_cast<uInt>(outSize);
    int rc = inflate(&z, Z_FINISH);
    bool ok = (rc == Z_STREAM_END || (rc == Z_BUF_ERROR && z.avail_out == 0)) && z.avail_out == 0;
    inflateEnd(&z);
    return ok;
}

}  // namespace

ArchiveReader::ArchiveReader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {
    const Error absent("The file holds no archive");
    if (size < kTrailerSize) throw absent;
    const unsigned char* trailer = data + size - kTrailerSize;
    std::int32_t count = Int32At(trailer + 4);
    std::int32_t registrySize = Int32At(trailer + 12);
    std::int32_t registryOffset = Int32At(trailer + 16);
    bool compressed = trailer[20] != 0;
    if (count < 0 || registryOffset < 0 || registrySize < 0 || count > 1000000) throw absent;
    std::uint64_t registryLength = compressed ? static_cast<std::uint64_t>(registrySize)
                                              : static_cast<std::uint64_t>(count) * kEntrySize;
    std::uint64_t archiveLength = static_cast<std::uint64_t>(registryOffset) + registryLength + kTrailerSize;
    if (archiveLength > size) throw absent;
    start_ = size - static_cast<std::size_t>(archiveLength);
    std::vector<unsigned char> records(static_cast<std::size_t>(count) * kEntrySize);
    const unsigned char* registry = data + start_ + static_cast<std::size_t>(registryOffset);
    if (compressed) {
        if (!records.empty() &&
            !Inflate(registry, static_cast<std::size_t>(registrySize), records.data(), records.size()))
            throw Error("Unable to read archive file list");
    } else if (!records.empty()) {
        std::memcpy(records.data(), registry, records.size());
    }
    for (std::int32_t i = 0; i < count; ++i) {
        const unsigned char* r = records.data() + static_cast<std::size_t>(i) * kEntrySize;
        ArchiveMember m;
        m.name = ShortString(r);
        m.path = ShortString(r + 256);
        m.originalSize = Int32At(r + 512);
        m.storedSize = Int32At(r + 516);
        m.dataOffset = Int32At(r + 520);
        m.crc = static_cast<std::uint32_t>(Int32At(r + 524));
        m.stored = r[528] != 0;
        m.level = r[529];
        if (m.originalSize < 0 || m.storedSize < 0 || m.dataOffset < 0 ||
            static_cast<std::int64_t>(m.dataOffset) + m.storedSize > registryOffset)
            throw Error("Unable to read archive file list");
        members_.push_back(m);
    }
}

bool ArchiveReader::VerifyArchiveCrc() const {
    const unsigned char* p = data_ + start_;
    std::size_t left = size_ - start_ - kTrailerSize;
    uLong crc = crc32(0, nullptr, 0);
    while (left > 0) {
        uInt piece = static_cast<uInt>(left > (1u << 30) ? (1u << 30) : left);
        crc = crc32(crc, p, piece);
        p += piece;
        left -= piece;
    }
    return static_cast<std::uint32_t>(crc) ==
           static_cast<std::uint32_t>(Int32At(data_ + size_ - kTrailerSize));
}

std::string ArchiveReader::Extract(std::size_t index) const {
    if (index >= members_.size()) throw Error("Index out of bounds");
    const ArchiveMember& m = members_[index];
    const unsigned char* in = data_ + start_ + static_cast<std::size_t>(m.dataOffset);
    std::string out(static_cast<std::size_t>(m.originalSize), '\0');
    if (m.stored) {
        if (m.storedSize != m.originalSize) throw Error(m.name + " is damaged");
        std::memcpy(out.data(), in, out.size());
    } else if (!out.empty() && !Inflate(in, static_cast<std::size_t>(m.storedSize),
                                        reinterpret_cast<unsigned char*>(out.data()), out.size())) {
        throw Error(m.name + " is damaged");
    }
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(out.size()));
    if (static_cast<std::uint32_t>(crc) != m.crc) throw Error(m.name + " is damaged");
    return out;
}

}  // namespace nimbrel::archive
