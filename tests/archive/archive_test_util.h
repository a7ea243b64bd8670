#pragma once
// Test data for the archive tests: deterministic bytes, files, and archives laid out by hand
// (with a correct CRC) so that damaged and hostile variants can be made.

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "archive/zlib_stream.h"

namespace nimbrel::archive::testdata {

// Bytes that do not compress (a fixed xorshift sequence).
// The bytes of a string, as the reader takes them.
inline const unsigned char* Bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

inline std::string RandomBytes(std::size_t size, std::uint32_t seed = 1) {
    std::string bytes(size, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

inline std::string TextBytes(std::size_t size) {
    std::string bytes;
    while (bytes.size() < size)
        bytes += "The lake at dawn, picture " + std::to_string(bytes.size() % 97) + ".\r\n";
    bytes.resize(size);
    return bytes;
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct RawMember {
    std::string name;
    std::string content;
    bool compress = true;
};

// An archive as this system writes it, built by hand from its parts. `patch` may change the
// entries and the trailer before the CRC is computed (so that the CRC still matches).
template <typename Patch>
std::string BuildArchive(const std::vector<RawMember>& members, Patch patch, bool compressRegistry = true) {
    std::string data;
    std::vector<RegistryEntry> entries;
    for (const RawMember& m : members) {
        RegistryEntry e;
        e.FileName = m.name;
        e.OriginalSize = static_cast<std::int32_t>(m.content.size());
        e.Crc = Crc32(m.content);
        e.DataOffset = static_cast<std::int32_t>(data.size());
        std::string z = m.compress ? CompressBytes(m.content, fcMaximum) : std::string();
        if (m.compress && z.size() < m.content.size()) {
            e.Stored = 0;
            e.Level = fcMaximum;
            data += z;
            e.StoredSize = static_cast<std::int32_t>(z.size());
        } else {
            e.Stored = 1;
            data += m.content;
            e.StoredSize = static_cast<std::int32_t>(m.content.size());
        }
        entries.push_back(e);
    }
    ArchiveTrailer t;
    t.EntryCount = static_cast<std::int32_t>(entries.size());
    t.AlwaysOne = 1;
    t.RegistryOffset = static_cast<std::int32_t>(data.size());
    std::string registry;
    patch(entries, t, registry);
    if (registry.empty()) {
        registry = EncodeRegistry(entries);
        if (compressRegistry) registry = CompressBytes(registry, fcMaximum);
    }
    if (compressRegistry) {
        t.RegistryCompressed = 1;
        if (t.RegistrySize == 0) t.RegistrySize = static_cast<std::int32_t>(registry.size());
    }
    std::string archive = data + registry;
    t.ArchiveCrc = Crc32(archive);
    TrailerBytes bytes = EncodeTrailer(t);
    archive.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return archive;
}

inline std::string BuildArchive(const std::vector<RawMember>& members) {
    return BuildArchive(members, [](auto&, auto&, auto&) {});
}

}  // namespace nimbrel::archive::testdata
