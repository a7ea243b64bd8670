// Writes the imaging fuzzer's seed corpus (each file: a parser byte, then a small valid file).
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

namespace {

void Write(const std::string& dir, const char* name, std::uint8_t parser, const Bytes& body) {
    std::ofstream out(dir + "/" + name, std::ios::binary);
    out.put(static_cast<char>(parser));
    out.write(reinterpret_cast<const char*>(body.data()), static_cast<std::streamsize>(body.size()));
}

Bytes PcxHeader(int w, int h, int bits, int planes, int bytesPerLine) {
    Bytes b(128, 0);
    b[0] = 0x0A;
    b[1] = 5;
    b[2] = 1;
    b[3] = static_cast<std::uint8_t>(bits);
    b[8] = static_cast<std::uint8_t>(w - 1);
    b[10] = static_cast<std::uint8_t>(h - 1);
    for (int i = 0; i < 48; ++i) b[16 + i] = static_cast<std::uint8_t>(i * 5);
    b[65] = static_cast<std::uint8_t>(planes);
    b[66] = static_cast<std::uint8_t>(bytesPerLine);
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 1;
    const std::string dir = argv[1];
    Bytes pcx8 = PcxHeader(3, 2, 8, 1, 4);
    Bytes data8 = {0xC2, 5, 0xC1, 0xC7, 9, 1, 2, 3, 4};
    pcx8.insert(pcx8.end(), data8.begin(), data8.end());
    pcx8.push_back(0x0C);
    for (int i = 0; i < 768; ++i) pcx8.push_back(static_cast<std::uint8_t>(i));
    Write(dir, "pcx8", 0, pcx8);

    Bytes pcx24 = PcxHeader(2, 2, 8, 3, 2);
    for (int i = 0; i < 12; ++i) pcx24.push_back(static_cast<std::uint8_t>(i * 20));
    Write(dir, "pcx24", 0, pcx24);

    Bytes ega = PcxHeader(8, 2, 1, 4, 1);
    Bytes egaData = {0xC4, 0xAA, 0x0F, 0xF0, 0x3C, 0xC3};
    ega.insert(ega.end(), egaData.begin(), egaData.end());
    Write(dir, "pcx_ega", 0, ega);

    Write(dir, "wbmp", 1, {0, 0, 10, 2, 0x80, 0x40, 0xFF, 0xC0});
    Write(dir, "wbmp_wide", 1,
          {0, 0, 0x81, 0x08, 1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17});

    // Targa: 2x2 true colour plain (bottom-up), RLE top-down with alpha, colour-mapped with a
    // footer, and greyscale RLE.
    auto tga = [](std::uint8_t type, std::uint8_t depth, std::uint8_t descriptor, Bytes map, Bytes pixels) {
        Bytes b(18, 0);
        b[1] = map.empty() ? 0 : 1;
        b[2] = type;
        if (!map.empty()) {
            b[5] = static_cast<std::uint8_t>(map.size() / 3);
            b[7] = 24;
        }
        b[12] = 2;
        b[14] = 2;
        b[16] = depth;
        b[17] = descriptor;
        b.insert(b.end(), map.begin(), map.end());
        b.insert(b.end(), pixels.begin(), pixels.end());
        return b;
    };
    Write(dir, "tga24", 4, tga(2, 24, 0, {}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    Write(dir, "tga32_rle", 4, tga(10, 32, 0x28, {}, {0x81, 1, 2, 3, 200, 0x01, 4, 5, 6, 7, 8, 9, 10, 11}));
    Bytes mapped = tga(9, 8, 0, {0, 0, 255, 0, 255, 0}, {0x83, 1});
    const char footer[] = "\0\0\0\0\0\0\0\0TRUEVISION-XFILE.";
    mapped.insert(mapped.end(), footer, footer + sizeof footer);
    Write(dir, "tga_mapped", 4, mapped);
    Write(dir, "tga_grey", 4, tga(11, 8, 0, {}, {0x01, 10, 20, 0x81, 30}));

    Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE1, 0, 34, 'E', 'x', 'i',  'f',  0,    0,    'M', 'M',
                  0,    42,   0,    0,    0, 8,  0,   1,   0x01, 0x12, 0,    3,    0,   0,
                  0,    1,    0,    6,    0, 0,  0,   0,   0,    0,    0xFF, 0xDA, 0,   2};
    Write(dir, "exif_mm", 2, jpeg);
    Bytes jpegLe = {0xFF, 0xD8, 0xFF, 0xE1, 0, 34, 'E', 'x', 'i',  'f',  0,    0,    'I', 'I',
                    42,   0,    8,    0,    0, 0,  1,   0,   0x12, 0x01, 3,    0,    1,   0,
                    0,    0,    8,    0,    0, 0,  0,   0,   0,    0,    0xFF, 0xDA, 0,   2};
    Write(dir, "exif_ii", 2, jpegLe);
    return 0;
}
