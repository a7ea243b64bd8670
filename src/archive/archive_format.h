#pragma once
// The archive's on-disk records: the 36-byte trailer at its end and the 532-byte registry entry
// of each member, with explicit little-endian encoding, the zlib level of each compression
// setting and the CRC-32 that protects members and the whole archive.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nimbrel::archive {

enum TFileCompressionLevel : std::uint8_t { fcNone = 0, fcFastest = 1, fcDefault = 2, fcMaximum = 3 };

// zlib's level for a setting: 0, 1, -1 (zlib's default) and 9.
int ZlibLevel(TFileCompressionLevel level);

inline constexpr std::size_t kTrailerSize = 36;
inline constexpr std::size_t kRegistryEntrySize = 532;
inline constexpr std::size_t kMaxNameLength = 255;
// Offsets and sizes are signed 32-bit: an archive and each member stay below 2 GiB.
inline constexpr std::int64_t kMaxArchiveSize = 0x7FFFFFFF;
// Deflate cannot expand data by more than this factor (a 258-byte match in two bits), so a
// stream of n bytes never inflates to more than n * kMaxInflateRatio bytes.
inline constexpr std::int64_t kMaxInflateRatio = 1032;
// No archive this system writes comes near this many members; a registry claiming more is
// refused before anything is inflated.
inline constexpr std::int64_t kMaxEntryCount = 1000000;

struct ArchiveTrailer {
    std::uint32_t ArchiveCrc = 0;  // CRC-32 of every archive byte before the trailer
    std::int32_t EntryCount = 0;
    std::int32_t AlwaysOne = 0;     // written as 1, never checked
    std::int32_t RegistrySize = 0;  // length of the registry's zlib stream; 0 when stored plain
    std::int32_t RegistryOffset = 0;
    std::uint8_t RegistryCompressed = 0;

    bool operator==(const ArchiveTrailer&) const = default;
};

struct RegistryEntry {
    std::string FileName;  // at most 255 bytes are kept
    std::string FilePath;  // directory with its trailing separator, or empty
    std::int32_t OriginalSize = 0;
    std::int32_t StoredSize = 0;
    std::int32_t DataOffset = 0;
    std::uint32_t Crc = 0;
    std::uint8_t Stored = 0;  // 1 = the file's bytes as they are, 0 = one zlib stream
    std::uint8_t Level = 0;   // the TFileCompressionLevel ordinal of a compressed member, else 0

    // The member key: FilePath followed by FileName.
    std::string Key() const { return FilePath + FileName; }
    bool operator==(const RegistryEntry&) const = default;
};

using TrailerBytes = std::array<unsigned char, kTrailerSize>;
using EntryBytes = std::array<unsigned char, kRegistryEntrySize>;

TrailerBytes EncodeTrailer(const ArchiveTrailer& trailer);
ArchiveTrailer DecodeTrailer(const unsigned char* bytes);  // reads kTrailerSize bytes

// Names longer than 255 bytes are cut to their first 255 bytes.
EntryBytes EncodeEntry(const RegistryEntry& entry);
RegistryEntry DecodeEntry(const unsigned char* bytes);  // reads kRegistryEntrySize bytes

// The records one after another, as the registry holds them before compression.
std::string EncodeRegistry(const std::vector<RegistryEntry>& entries);

// The length of the registry the trailer describes: RegistrySize for a compressed registry,
// EntryCount records otherwise; -1 when the fields are negative.
std::int64_t RegistryLength(const ArchiveTrailer& trailer);
// The whole archive's length: RegistryOffset + registry length + 36; -1 when impossible.
std::int64_t ArchiveLength(const ArchiveTrailer& trailer);

// The reflected CRC-32 (polynomial 0xEDB88320) of zlib's crc32, continuing from `crc`.
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size);
inline std::uint32_t Crc32(std::string_view bytes) {
    return Crc32(0, bytes.data(), bytes.size());
}

// Percentages of progress reports: done / total * 100 rounded to the nearest integer, halves
// to the even neighbour; 0 when total is not positive.
int ProgressPercentage(double done, double total);

// Little-endian integer access used by the records.
inline std::uint32_t ReadU32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::int32_t ReadI32(const unsigned char* p) {
    return static_cast<std::int32_t>(ReadU32(p));
}
inline void WriteU32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}
inline void WriteI32(unsigned char* p, std::int32_t v) {
    WriteU32(p, static_cast<std::uint32_t>(v));
}

}  // namespace nimbrel::archive
