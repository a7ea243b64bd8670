#include "archive/pe_layout.h"

#include "archive/archive_format.h"
#include "archive/archive_reader.h"

namespace nimbrel::archive {

namespace {
std::uint16_t ReadU16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
}  // namespace

std::optional<PeLayout> ReadPeLayout(const ByteSource& source) {
    const std::uint64_t size = source.Size();
    unsigned char dos[64];
    if (size < sizeof dos) return std::nullopt;
    source.Read(0, dos, sizeof dos);
    if (dos[0] != 'M' || dos[1] != 'Z') return std::nullopt;
    const std::uint64_t pe = ReadU32(dos + 0x3C);
    // Signature (4), file header (20) and the optional header's fixed part with the directory.
    constexpr std::size_t kHeaderBytes = 4 + 20 + 112 + 16 * 8;
    if (pe > size || size - pe < kHeaderBytes) return std::nullopt;
    unsigned char h[kHeaderBytes];
    source.Read(pe, h, sizeof h);
    if (h[0] != 'P' || h[1] != 'E' || h[2] != 0 || h[3] != 0) return std::nullopt;
    const unsigned optionalSize = ReadU16(h + 4 + 16);
    const unsigned char* opt = h + 24;
    const std::uint16_t magic = ReadU16(opt);
    if (magic != 0x10B && magic != 0x20B) return std::nullopt;
    PeLayout layout;
    layout.pe32Plus = magic == 0x20B;
    const unsigned directory = layout.pe32Plus ? 112 : 96;
    const std::uint32_t rvaCount = ReadU32(opt + (layout.pe32Plus ? 108 : 92));
    constexpr unsigned kSecurity = 4;
    if (rvaCount <= kSecurity || optionalSize < directory + (kSecurity + 1) * 8) return std::nullopt;
    layout.checksumOffset = pe + 24 + 64;
    layout.sizeOfHeaders = ReadU32(opt + 60);
    layout.securityEntryOffset = pe + 24 + directory + kSecurity * 8;
    layout.certTableOffset = ReadU32(opt + directory + kSecurity * 8);
    layout.certTableSize = ReadU32(opt + directory + kSecurity * 8 + 4);
    if (layout.HasCertTable() &&
        static_cast<std::uint64_t>(layout.certTableOffset) + layout.certTableSize > size) {
        // A table running past the end is no table we can rely on.
        layout.certTableOffset = 0;
        layout.certTableSize = 0;
    }
    return layout;
}

}  // namespace nimbrel::archive
