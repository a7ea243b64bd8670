// Reading and checking the headers of a PE32 or PE32+ image, and its checksum.
#include <bit>
#include <cstring>

#include "resedit/resource_tree.h"

namespace nimbrel::resedit {

std::uint16_t Load16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t Load32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void Store16(std::uint8_t* p, std::uint16_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}
void Store32(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

namespace {

bool Fits(std::uint64_t offset, std::uint64_t length, std::size_t size) {
    return offset <= size && length <= size - offset;
}

bool IsPowerOfTwo(std::uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

}  // namespace

int PeHeaders::ResourceSection() const {
    std::uint32_t address = DirectoryAddress(kResourceDirectory);
    if (address == 0) return -1;
    for (std::size_t i = 0; i < Sections.size(); ++i)
        if (Sections[i].VirtualAddress == address) return static_cast<int>(i);
    return -1;
}

std::int64_t LocateNtHeaders(const std::uint8_t* base, std::size_t size) {
    if (!base || !Fits(0, 64, size)) return -1;
    if (Load16(base) != 0x5A4D) return -1;
    std::uint32_t lfanew = Load32(base + 60);
    if (!Fits(lfanew, 4, size) || Load32(base + lfanew) != 0x4550) return -1;
    return lfanew;
}

bool ReadPeHeaders(const std::uint8_t* base, std::size_t size, PeHeaders& headers) {
    std::int64_t nt = LocateNtHeaders(base, size);
    if (nt < 0 || !Fits(static_cast<std::uint64_t>(nt), kOptionalHeaderOffset + 2, size)) return false;
    const std::uint8_t* p = base + nt;
    // Only the full optional header of either width: the data directories are read at its end.
    const std::uint16_t magic = Load16(p + kMagicOffset);
    const std::uint16_t optionalSize = Load16(p + kSizeOfOptionalHeaderOffset);
    if (magic == kPe32Magic && optionalSize == 224) {
        headers.DataDirectoryOffset = kPe32DataDirectoryOffset;
    } else if (magic == kPe32PlusMagic && optionalSize == 240) {
        headers.DataDirectoryOffset = kPe32PlusDataDirectoryOffset;
    } else {
        return false;
    }
    headers.SectionTableOffset = kOptionalHeaderOffset + optionalSize;
    if (!Fits(static_cast<std::uint64_t>(nt), headers.SectionTableOffset, size)) return false;
    headers.NtHeaders = static_cast<std::uint32_t>(nt);
    headers.FileAlignment = Load32(p + kFileAlignmentOffset);
    headers.SectionAlignment = Load32(p + kSectionAlignmentOffset);
    if (!IsPowerOfTwo(headers.FileAlignment) || !IsPowerOfTwo(headers.SectionAlignment)) return false;
    for (int i = 0; i < 16; ++i) {
        headers.directories[i][0] = Load32(p + headers.DataDirectoryOffset + 8 * i);
        headers.directories[i][1] = Load32(p + headers.DataDirectoryOffset + 8 * i + 4);
    }
    std::uint32_t count = Load16(p + kNumberOfSectionsOffset);
    std::uint64_t table = static_cast<std::uint64_t>(nt) + headers.SectionTableOffset;
    if (!Fits(table, std::uint64_t{kSectionHeaderSize} * count, size)) return false;
    headers.Sections.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* s = base + table + kSectionHeaderSize * i;
        SectionInfo info;
        info.TableOffset = static_cast<std::uint32_t>(table + kSectionHeaderSize * i);
        info.VirtualSize = Load32(s + 8);
        info.VirtualAddress = Load32(s + 12);
        info.SizeOfRawData = Load32(s + 16);
        info.PointerToRawData = Load32(s + 20);
        headers.Sections.push_back(info);
    }
    return true;
}

void UpdateImageChecksum(std::uint8_t* view, std::size_t fileSize, std::uint32_t ntHeaders) {
    std::uint8_t* field = view + ntHeaders + kCheckSumOffset;
    Store32(field, 0);
    // The 16-bit one's-complement sum of the file's words. A 32-bit word adds its low and high
    // halves at once (65536 is 1 modulo 65535), so the sum is gathered 32 bits at a time and
    // folded at the end; folding keeps the value modulo 65535 and never makes it zero.
    std::uint64_t sum = 0;
    std::size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // Whole 64-bit loads, split into their two 32-bit halves: the same sum, far fewer steps.
        std::uint64_t low = 0, high = 0;
        for (; i + 8 <= fileSize; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, view + i, 8);
            low += word & 0xFFFFFFFFu;
            high += word >> 32;
        }
        sum = low + high;
    }
    for (; i + 4 <= fileSize; i += 4) sum += Load32(view + i);
    if (i + 2 <= fileSize) {
        sum += Load16(view + i);
        i += 2;
    }
    if (i < fileSize) sum += view[i];
    while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
    Store32(field, static_cast<std::uint32_t>(sum + fileSize));
}

}  // namespace nimbrel::resedit
