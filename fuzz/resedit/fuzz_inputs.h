#pragma once
// Inputs for the resource editor's fuzz targets, made in code: a small PE32 executable with an
// icon group, and .ico files laid out the way icon editors write them.
#include <cstdint>
#include <string>
#include <vector>

namespace nimbrel::fuzzinputs {

inline void Put16(std::string& out, unsigned v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
inline void Set32(std::string& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void Set16(std::string& out, std::size_t at, unsigned v) {
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
inline std::uint32_t Align(std::uint32_t v, std::uint32_t a) {
    return (v + a - 1) / a * a;
}

// A PE32 image with one section, .rsrc, holding icon 1 and the icon group named "1" that lists
// it, both in language 2057: what the build's icon calls find in a player.
inline std::string MinimalPe(const std::string& iconImage) {
    constexpr std::uint32_t kRva = 0x1000, kRaw = 0x200;
    std::string sec(160, '\0');
    auto dir = [&](std::size_t at, unsigned named, unsigned ids) {
        Set16(sec, at + 12, named);
        Set16(sec, at + 14, ids);
    };
    auto entry = [&](std::size_t at, std::uint32_t name, std::uint32_t offset) {
        Set32(sec, at, name);
        Set32(sec, at + 4, offset);
    };
    dir(0, 0, 2);
    entry(16, 3, 0x80000000u | 32);
    entry(24, 14, 0x80000000u | 96);
    dir(32, 0, 1);
    entry(48, 1, 0x80000000u | 56);
    dir(56, 0, 1);
    entry(72, 2057, 80);
    dir(96, 1, 0);
    entry(112, 0x80000000u | 160, 0x80000000u | 120);
    dir(120, 0, 1);
    entry(136, 2057, 144);
    Put16(sec, 1);
    Put16(sec, '1');
    sec.resize(Align(static_cast<std::uint32_t>(sec.size()), 4), '\0');
    std::uint32_t iconAt = static_cast<std::uint32_t>(sec.size());
    sec += iconImage;
    sec.resize(Align(static_cast<std::uint32_t>(sec.size()), 4), '\0');
    std::uint32_t groupAt = static_cast<std::uint32_t>(sec.size());
    std::string group;
    Put16(group, 0);
    Put16(group, 1);
    Put16(group, 1);
    group += std::string("\x10\x10\0\0", 4);
    Put16(group, 1);
    Put16(group, 32);
    Put32(group, static_cast<std::uint32_t>(iconImage.size()));
    Put16(group, 1);
    sec += group;
    Set32(sec, 80, kRva + iconAt);
    Set32(sec, 84, static_cast<std::uint32_t>(iconImage.size()));
    Set32(sec, 144, kRva + groupAt);
    Set32(sec, 148, static_cast<std::uint32_t>(group.size()));
    const std::uint32_t size = static_cast<std::uint32_t>(sec.size());
    const std::uint32_t rawSize = Align(size, 0x200);

    std::string pe(kRaw, '\0');
    pe[0] = 'M';
    pe[1] = 'Z';
    Set32(pe, 60, 0x40);
    pe.replace(0x40, 4, std::string("PE\0\0", 4));
    Set16(pe, 0x44, 0x14C);   // i386
    Set16(pe, 0x46, 1);       // one section
    Set16(pe, 0x54, 224);     // SizeOfOptionalHeader
    Set16(pe, 0x56, 0x0102);  // executable, 32-bit
    const std::size_t opt = 0x58;
    Set16(pe, opt, 0x10B);
    Set32(pe, opt + 8, rawSize);  // SizeOfInitializedData
    Set32(pe, opt + 16, kRva);    // AddressOfEntryPoint
    Set32(pe, opt + 28, 0x400000);
    Set32(pe, opt + 32, 0x1000);  // SectionAlignment
    Set32(pe, opt + 36, 0x200);   // FileAlignment
    Set16(pe, opt + 40, 4);
    Set16(pe, opt + 48, 4);
    Set32(pe, opt + 56, kRva + Align(size, 0x1000));  // SizeOfImage
    Set32(pe, opt + 60, kRaw);                        // SizeOfHeaders
    Set16(pe, opt + 68, 2);                           // GUI
    Set32(pe, opt + 72, 0x100000);
    Set32(pe, opt + 76, 0x1000);
    Set32(pe, opt + 80, 0x100000);
    Set32(pe, opt + 84, 0x1000);
    Set32(pe, opt + 92, 16);
    Set32(pe, opt + 96 + 16, kRva);
    Set32(pe, opt + 96 + 20, size);
    const std::size_t table = opt + 224;
    pe.replace(table, 5, ".rsrc");
    Set32(pe, table + 8, size);
    Set32(pe, table + 12, kRva);
    Set32(pe, table + 16, rawSize);
    Set32(pe, table + 20, kRaw);
    Set32(pe, table + 36, 0x40000040);
    sec.resize(rawSize, '\0');
    return pe + sec;
}

// One image of an icon: a DIB (header, palette, colour rows, mask rows) or a PNG file.
struct IconImage {
    unsigned width = 16, height = 16;
    unsigned bits = 32;
    std::string bytes;
};

inline IconImage DibImage(unsigned w, unsigned h, unsigned bits) {
    IconImage img{w, h, bits, {}};
    std::string& b = img.bytes;
    Put32(b, 40);
    Put32(b, w);
    Put32(b, h * 2);  // colour rows and mask rows
    Put16(b, 1);
    Put16(b, bits);
    Put32(b, 0);
    const std::uint32_t stride = (w * bits + 31) / 32 * 4;
    const std::uint32_t maskStride = (w + 31) / 32 * 4;
    Put32(b, (stride + maskStride) * h);
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, 0);
    if (bits <= 8)
        for (unsigned i = 0; i < (1u << bits); ++i) Put32(b, (i * 0x3B1F7u) & 0xFFFFFF);
    for (unsigned y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < stride; ++x) b += static_cast<char>((x * 7 + y * 13) & 0xFF);
    for (unsigned y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < maskStride; ++x) b += static_cast<char>(y < h / 4 ? 0xFF : 0);
    return img;
}

// An .ico file: the directory, then the images back to back.
inline std::string IcoFile(const std::vector<IconImage>& images) {
    std::string out;
    Put16(out, 0);
    Put16(out, 1);
    Put16(out, static_cast<unsigned>(images.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
    for (const IconImage& img : images) {
        out += static_cast<char>(img.width >= 256 ? 0 : img.width);
        out += static_cast<char>(img.height >= 256 ? 0 : img.height);
        out += static_cast<char>(img.bits < 8 ? (1u << img.bits) : 0);
        out += '\0';
        Put16(out, 1);
        Put16(out, img.bits);
        Put32(out, static_cast<std::uint32_t>(img.bytes.size()));
        Put32(out, offset);
        offset += static_cast<std::uint32_t>(img.bytes.size());
    }
    for (const IconImage& img : images) out += img.bytes;
    return out;
}

// The input of the target that varies both files: the icon's length in 4 bytes, the icon, then
// the executable.
inline std::string JoinIconAndExecutable(const std::string& ico, const std::string& exe) {
    std::string out;
    Put32(out, static_cast<std::uint32_t>(ico.size()));
    return out + ico + exe;
}

}  // namespace nimbrel::fuzzinputs
