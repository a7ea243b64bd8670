#include "archive/archive_format.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace nimbrel::archive {

int ZlibLevel(TFileCompressionLevel level) {
    switch (level) {
        case fcNone: return 0;
        case fcFastest: return 1;
        case fcMaximum: return 9;
        case fcDefault:
        default: return Z_DEFAULT_COMPRESSION;
    }
}

TrailerBytes EncodeTrailer(const ArchiveTrailer& trailer) {
    TrailerBytes bytes{};
    WriteU32(&bytes[0], trailer.ArchiveCrc);
    WriteI32(&bytes[4], trailer.EntryCount);
    WriteI32(&bytes[8], trailer.AlwaysOne);
    WriteI32(&bytes[12], trailer.RegistrySize);
    WriteI32(&bytes[16], trailer.RegistryOffset);
    bytes[20] = trailer.RegistryCompressed;
    return bytes;
}

ArchiveTrailer DecodeTrailer(const unsigned char* bytes) {
    ArchiveTrailer trailer;
    trailer.ArchiveCrc = ReadU32(bytes);
    trailer.EntryCount = ReadI32(bytes + 4);
    trailer.AlwaysOne = ReadI32(bytes + 8);
    trailer.RegistrySize = ReadI32(bytes + 12);
    trailer.RegistryOffset = ReadI32(bytes + 16);
    trailer.RegistryCompressed = bytes[20];
    return trailer;
}

namespace {
void PutShortString(unsigned char* field, const std::string& text) {
    std::size_t length = std::min(text.size(), kMaxNameLength);
    field[0] = static_cast<unsigned char>(length);
    std::memcpy(field + 1, text.data(), length);
}

std::string GetShortString(const unsigned char* field) {
    return std::string(reinterpret_cast<const char*>(field + 1), field[0]);
}
}  // namespace

EntryBytes EncodeEntry(const RegistryEntry& entry) {
    EntryBytes bytes{};
    PutShortString(&bytes[0], entry.FileName);
    PutShortString(&bytes[256], entry.FilePath);
    WriteI32(&bytes[512], entry.OriginalSize);
    WriteI32(&bytes[516], entry.StoredSize);
    WriteI32(&bytes[520], entry.DataOffset);
    WriteU32(&bytes[524], entry.Crc);
    bytes[528] = entry.Stored;
    bytes[529] = entry.Level;
    return bytes;
}

RegistryEntry DecodeEntry(const unsigned char* bytes) {
    RegistryEntry entry;
    entry.FileName = GetShortString(bytes);
    entry.FilePath = GetShortString(bytes + 256);
    entry.OriginalSize = ReadI32(bytes + 512);
    entry.StoredSize = ReadI32(bytes + 516);
    entry.DataOffset = ReadI32(bytes + 520);
    entry.Crc = ReadU32(bytes + 524);
    entry.Stored = bytes[528];
    entry.Level = bytes[529];
    return entry;
}

std::string EncodeRegistry(const std::vector<RegistryEntry>& entries) {
    std::string buffer;
    buffer.reserve(entries.size() * kRegistryEntrySize);
    for (const RegistryEntry& entry : entries) {
        EntryBytes bytes = EncodeEntry(entry);
        buffer.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    return buffer;
}

std::int64_t RegistryLength(const ArchiveTrailer& trailer) {
    if (trailer.EntryCount < 0 || trailer.RegistrySize < 0) return -1;
    if (trailer.RegistryCompressed != 0) return trailer.RegistrySize;
    return static_cast<std::int64_t>(trailer.EntryCount) * static_cast<std::int64_t>(kRegistryEntrySize);
}

std::int64_t ArchiveLength(const ArchiveTrailer& trailer) {
    std::int64_t registry = RegistryLength(trailer);
    if (registry < 0 || trailer.RegistryOffset < 0) return -1;
    return static_cast<std::int64_t>(trailer.RegistryOffset) + registry +
           static_cast<std::int64_t>(kTrailerSize);
}

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size) {
    auto* bytes = static_cast<const Bytef*>(data);
    uLong value = crc;
    while (size > 0) {
        auto piece = static_cast<uInt>(std::min<std::size_t>(size, UINT_MAX / 2));
        value = crc32(value, bytes, piece);
        bytes += piece;
        size -= piece;
    }
    return static_cast<std::uint32_t>(value);
}

int ProgressPercentage(double done, double total) {
    if (!(total > 0)) return 0;
    double value = done / total * 100.0;
    double whole = std::floor(value);
    double fraction = value - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
    return static_cast<int>(whole);
}

}  // namespace nimbrel::archive
