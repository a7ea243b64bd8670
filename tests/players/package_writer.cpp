#include "package_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
// libjpeg's header needs FILE and size_t declared first.
// The Windows build of the logic tests has no JPEG library and needs none.
#ifndef NIMBREL_TEST_WITHOUT_JPEG
#include <jpeglib.h>
#endif

namespace nimbrel::testing {
namespace {

void PutInt32(std::string& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

void AppendInt32(std::string& out, std::uint32_t value) {
    out.append(4, '\0');
    PutInt32(out, out.size() - 4, value);
}

std::string Deflate(const std::string& in, int level) {
    uLongf size = compressBound(static_cast<uLong>(in.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(in.data()),
                  static_cast<uLong>(in.size()), level) != Z_OK)
        throw std::runtime_error("compress2 failed");
    out.resize(size);
    return out;
}

std::uint32_t Crc(const std::string& bytes) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

}  // namespace

std::string MakeTestArchive(const std::vector<TestMember>& members, bool compressRegistry,
                            bool compressMembers) {
    std::string data;
    std::string records;
    for (const TestMember& m : members) {
        std::string packed = compressMembers ? Deflate(m.bytes, 9) : std::string();
        bool stored = !compressMembers || packed.size() >= m.bytes.size();
        std::string record(532, '\0');
        record[0] = static_cast<char>(m.name.size());
        record.replace(1, m.name.size(), m.name);
        PutInt32(record, 512, static_cast<std::uint32_t>(m.bytes.size()));
        PutInt32(record, 516, static_cast<std::uint32_t>(stored ? m.bytes.size() : packed.size()));
        PutInt32(record, 520, static_cast<std::uint32_t>(data.size()));
        PutInt32(record, 524, Crc(m.bytes));
        record[528] = stored ? 1 : 0;
        record[529] = stored ? 0 : 3;
        data += stored ? m.bytes : packed;
        records += record;
    }
    std::uint32_t registryOffset = static_cast<std::uint32_t>(data.size());
    std::uint32_t registrySize = 0;
    if (compressRegistry) {
        std::string packed = Deflate(records, 9);
        registrySize = static_cast<std::uint32_t>(packed.size());
        data += packed;
    } else {
        data += records;
    }
    std::string trailer;
    AppendInt32(trailer, Crc(data));
    AppendInt32(trailer, static_cast<std::uint32_t>(members.size()));
    AppendInt32(trailer, 1);
    AppendInt32(trailer, registrySize);
    AppendInt32(trailer, registryOffset);
    trailer.push_back(compressRegistry ? 1 : 0);
    trailer.append(15, '\0');
    return data + trailer;
}

std::string MakeSlideShowProject(const std::vector<std::string>& files,
                                 const std::vector<std::string>& options) {
    std::string text = "[Header]\r\nNumber=" + std::to_string(files.size()) + "\r\nType=0\r\n\r\n[Files]\r\n";
    for (std::size_t i = 0; i < files.size(); ++i) text += std::to_string(i) + "=" + files[i] + "\r\n";
    text += "\r\n[Options]\r\n";
    for (const std::string& line : options) text += line + "\r\n";
    text += "\r\n[About]\r\nShowName=Test Show\r\nShowText=Hello\r\n\r\n";
    return text;
}

std::string MakeAboutFile(const std::string& name, const std::string& text) {
    return name + "\r\n" + text + "\r\n";
}

std::string MakeSolidBmp(int width, int height, unsigned char r, unsigned char g, unsigned char b) {
    int rowBytes = (width * 3 + 3) & ~3;
    std::uint32_t imageSize = static_cast<std::uint32_t>(rowBytes * height);
    std::string out = "BM";
    AppendInt32(out, 54 + imageSize);
    AppendInt32(out, 0);
    AppendInt32(out, 54);
    AppendInt32(out, 40);
    AppendInt32(out, static_cast<std::uint32_t>(width));
    AppendInt32(out, static_cast<std::uint32_t>(height));
    out += std::string("\x01\x00\x18\x00", 4);
    AppendInt32(out, 0);
    AppendInt32(out, imageSize);
    AppendInt32(out, 2835);
    AppendInt32(out, 2835);
    AppendInt32(out, 0);
    AppendInt32(out, 0);
    std::string row(static_cast<std::size_t>(rowBytes), '\0');
    for (int x = 0; x < width; ++x) {
        row[x * 3] = static_cast<char>(b);
        row[x * 3 + 1] = static_cast<char>(g);
        row[x * 3 + 2] = static_cast<char>(r);
    }
    for (int y = 0; y < height; ++y) out += row;
    return out;
}

#ifndef NIMBREL_TEST_WITHOUT_JPEG
std::string MakeSolidJpeg(int width, int height, unsigned char r, unsigned char g, unsigned char b,
                          int orientation, bool grey) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = grey ? 1 : 3;
    info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    if (orientation != 0) {
        // "Exif\0\0", then a little-endian TIFF header and IFD0 with the single Orientation tag.
        const unsigned char exif[] = {'E', 'x',  'i',  'f', 0,
                                      0,   'I',  'I',  42,  0,
                                      8,   0,    0,    0,   1,
                                      0,   0x12, 0x01, 3,   0,
                                      1,   0,    0,    0,   static_cast<unsigned char>(orientation),
                                      0,   0,    0,    0,   0,
                                      0,   0};
        jpeg_write_marker(&info, JPEG_APP0 + 1, exif, sizeof exif);
    }
    std::vector<unsigned char> row(static_cast<std::size_t>(width) * 3, r);
    for (int x = 0; x < width && !grey; ++x) {
        row[static_cast<std::size_t>(x) * 3] = r;
        row[static_cast<std::size_t>(x) * 3 + 1] = g;
        row[static_cast<std::size_t>(x) * 3 + 2] = b;
    }
    for (int y = 0; y < height; ++y) {
        JSAMPROW line = row.data();
        jpeg_write_scanlines(&info, &line, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string out(reinterpret_cast<const char*>(buffer), size);
    std::free(buffer);
    return out;
}
#else
std::string MakeSolidJpeg(int, int, unsigned char, unsigned char, unsigned char, int, bool) {
    throw std::runtime_error("this test build has no JPEG encoder");
}
#endif

namespace {

void AppendBigEndian32(std::string& out, std::uint32_t value) {
    for (int i = 3; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void AppendPngChunk(std::string& out, const char* type, const std::string& data) {
    AppendBigEndian32(out, static_cast<std::uint32_t>(data.size()));
    std::string body = std::string(type, 4) + data;
    out += body;
    AppendBigEndian32(out, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                                            static_cast<uInt>(body.size()))));
}

}  // namespace

std::string MakeFramedPng(int width, int height, InnerRect inner, unsigned char r, unsigned char g,
                          unsigned char b, unsigned char alpha) {
    std::string header;
    AppendBigEndian32(header, static_cast<std::uint32_t>(width));
    AppendBigEndian32(header, static_cast<std::uint32_t>(height));
    header += std::string("\x08\x06\x00\x00\x00", 5);  // 8-bit RGBA, no interlacing
    std::string pixels;
    for (int y = 0; y < height; ++y) {
        pixels += '\0';  // no filter
        for (int x = 0; x < width; ++x) {
            bool in = x >= inner.x && x < inner.x + inner.width && y >= inner.y && y < inner.y + inner.height;
            const unsigned char px[4] = {r, g, b, static_cast<unsigned char>(in ? alpha : 0)};
            pixels.append(reinterpret_cast<const char*>(px), 4);
        }
    }
    std::string out("\x89PNG\r\n\x1a\n", 8);
    AppendPngChunk(out, "IHDR", header);
    AppendPngChunk(out, "IDAT", Deflate(pixels, 6));
    AppendPngChunk(out, "IEND", "");
    return out;
}

namespace {

void Append16(std::string& out, unsigned value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void Append32(std::string& out, std::uint32_t value) {
    Append16(out, value & 0xFFFF);
    Append16(out, value >> 16);
}

}  // namespace

std::string MakeSolidGif(int width, int height, unsigned char r, unsigned char g, unsigned char b) {
    std::string out = "GIF89a";
    Append16(out, static_cast<unsigned>(width));
    Append16(out, static_cast<unsigned>(height));
    out += std::string("\xF1\x00\x00", 3);  // a global table of 4 colours
    const unsigned char table[12] = {r, g, b, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    out.append(reinterpret_cast<const char*>(table), sizeof table);
    out += ',';
    Append16(out, 0);
    Append16(out, 0);
    Append16(out, static_cast<unsigned>(width));
    Append16(out, static_cast<unsigned>(height));
    out += '\0';
    out += '\x02';  // minimum code size: codes are 3 bits wide
    // Uncompressed LZW: a clear code before every two pixels keeps the table from growing.
    std::string data;
    std::uint32_t bits = 0;
    int count = 0;
    auto put = [&](unsigned code) {
        bits |= code << count;
        count += 3;
        while (count >= 8) {
            data += static_cast<char>(bits & 0xFF);
            bits >>= 8;
            count -= 8;
        }
    };
    const long pixels = static_cast<long>(width) * height;
    for (long i = 0; i < pixels; i += 2) {
        put(4);
        put(0);
        if (i + 1 < pixels) put(0);
    }
    put(5);
    if (count > 0) data += static_cast<char>(bits & 0xFF);
    for (std::size_t at = 0; at < data.size(); at += 255) {
        std::size_t n = std::min<std::size_t>(255, data.size() - at);
        out += static_cast<char>(n);
        out += data.substr(at, n);
    }
    out += '\0';
    out += ';';
    return out;
}

std::string MakeSolidIco(int size, unsigned char r, unsigned char g, unsigned char b) {
    const std::uint32_t maskRow = static_cast<std::uint32_t>(((size + 31) / 32) * 4);
    const std::uint32_t bytes = 40 + static_cast<std::uint32_t>(size * size * 4) + maskRow * size;
    std::string out;
    Append16(out, 0);
    Append16(out, 1);
    Append16(out, 1);
    out += static_cast<char>(size >= 256 ? 0 : size);
    out += static_cast<char>(size >= 256 ? 0 : size);
    out += std::string("\0\0", 2);
    Append16(out, 1);
    Append16(out, 32);
    Append32(out, bytes);
    Append32(out, 22);
    Append32(out, 40);
    Append32(out, static_cast<std::uint32_t>(size));
    Append32(out, static_cast<std::uint32_t>(size * 2));
    Append16(out, 1);
    Append16(out, 32);
    for (int i = 0; i < 6; ++i) Append32(out, 0);
    for (int i = 0; i < size * size; ++i) {
        const unsigned char px[4] = {b, g, r, 255};
        out.append(reinterpret_cast<const char*>(px), 4);
    }
    out.append(static_cast<std::size_t>(maskRow) * size, '\0');
    return out;
}

std::string MakeSolidPcx(int width, int height, unsigned char r, unsigned char g, unsigned char b) {
    const int lineBytes = (width + 1) & ~1;
    std::string out;
    out += std::string("\x0A\x05\x01\x08", 4);
    Append16(out, 0);
    Append16(out, 0);
    Append16(out, static_cast<unsigned>(width - 1));
    Append16(out, static_cast<unsigned>(height - 1));
    Append16(out, 72);
    Append16(out, 72);
    out.append(48, '\0');
    out += '\0';
    out += '\x03';  // three planes: red, green, blue
    Append16(out, static_cast<unsigned>(lineBytes));
    Append16(out, 1);
    out.append(128 - out.size(), '\0');
    for (int y = 0; y < height; ++y)
        for (unsigned char value : {r, g, b})
            for (int left = lineBytes; left > 0;) {
                int run = std::min(left, 63);
                out += static_cast<char>(0xC0 | run);
                out += static_cast<char>(value);
                left -= run;
            }
    return out;
}

std::string MakeSolidTiff(int width, int height, unsigned char r, unsigned char g, unsigned char b) {
    const std::uint32_t rowBytes = static_cast<std::uint32_t>(width) * 3, rowsPerStrip = 16;
    const std::uint32_t strips = (static_cast<std::uint32_t>(height) + rowsPerStrip - 1) / rowsPerStrip;
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t count, value;
    };
    const std::uint32_t entries = 10;
    const std::uint32_t ifdSize = 2 + entries * 12 + 4;
    const std::uint32_t bitsAt = 8 + ifdSize, offsetsAt = bitsAt + 6, countsAt = offsetsAt + strips * 4;
    const std::uint32_t dataAt = countsAt + strips * 4;
    const Entry directory[entries] = {{256, 4, 1, static_cast<std::uint32_t>(width)},
                                      {257, 4, 1, static_cast<std::uint32_t>(height)},
                                      {258, 3, 3, bitsAt},
                                      {259, 3, 1, 1},  // no compression
                                      {262, 3, 1, 2},  // RGB
                                      {273, 4, strips, offsetsAt},
                                      {277, 3, 1, 3},
                                      {278, 4, 1, rowsPerStrip},
                                      {279, 4, strips, countsAt},
                                      {284, 3, 1, 1}};  // samples interleaved
    std::string out("II*\0", 4);
    AppendInt32(out, 8);
    out += static_cast<char>(entries);
    out += '\0';
    for (const Entry& e : directory) {
        out += static_cast<char>(e.tag & 0xFF);
        out += static_cast<char>(e.tag >> 8);
        out += static_cast<char>(e.type);
        out += '\0';
        AppendInt32(out, e.count);
        AppendInt32(out, e.value);
    }
    AppendInt32(out, 0);
    out += std::string("\x08\0\x08\0\x08\0", 6);
    for (std::uint32_t i = 0; i < strips; ++i) AppendInt32(out, dataAt + i * rowsPerStrip * rowBytes);
    for (std::uint32_t i = 0; i < strips; ++i)
        AppendInt32(out, std::min(rowsPerStrip, static_cast<std::uint32_t>(height) - i * rowsPerStrip) * rowBytes);
    std::string row;
    for (int x = 0; x < width; ++x) row += {static_cast<char>(r), static_cast<char>(g), static_cast<char>(b)};
    out.reserve(out.size() + static_cast<std::size_t>(rowBytes) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) out += row;
    return out;
}

std::string MakeWhiteWbmp(int width, int height) {
    std::string out("\0\0", 2);
    for (int value : {width, height}) {
        std::string digits;
        do {
            digits.insert(digits.begin(), static_cast<char>((value & 0x7F) | (digits.empty() ? 0 : 0x80)));
            value >>= 7;
        } while (value > 0);
        out += digits;
    }
    out.append(static_cast<std::size_t>((width + 7) / 8) * height, '\xFF');
    return out;
}

std::string MakeSolidEmf(int width, int height, unsigned char r, unsigned char g, unsigned char b) {
    std::string records;
    auto record = [&records](std::uint32_t type, const std::string& body) {
        Append32(records, type);
        Append32(records, static_cast<std::uint32_t>(8 + body.size()));
        records += body;
    };
    const std::uint32_t color = r | (g << 8) | (b << 16);
    std::string brush;
    Append32(brush, 1);  // handle 1
    Append32(brush, 0);  // BS_SOLID
    Append32(brush, color);
    Append32(brush, 0);
    record(39, brush);  // EMR_CREATEBRUSHINDIRECT
    std::string select;
    Append32(select, 1);
    record(37, select);  // EMR_SELECTOBJECT
    std::string noPen;
    Append32(noPen, 0x80000008u);  // the stock null pen
    record(37, noPen);
    std::string box;
    for (int v : {0, 0, width, height}) Append32(box, static_cast<std::uint32_t>(v));
    record(43, box);  // EMR_RECTANGLE
    std::string eof;
    Append32(eof, 0);
    Append32(eof, 16);
    Append32(eof, 20);
    record(14, eof);  // EMR_EOF
    std::string header;
    for (int v : {0, 0, width - 1, height - 1}) Append32(header, static_cast<std::uint32_t>(v));  // bounds
    // The frame in hundredths of a millimetre, at 96 pixels an inch.
    for (int v : {0, 0, width * 2540 / 96, height * 2540 / 96})
        Append32(header, static_cast<std::uint32_t>(v));
    Append32(header, 0x464D4520u);  // " EMF"
    Append32(header, 0x10000u);
    Append32(header, static_cast<std::uint32_t>(88 + records.size()));
    Append32(header, 6);  // records: the header and five more
    Append16(header, 2);  // handles, the first one reserved
    Append16(header, 0);
    Append32(header, 0);
    Append32(header, 0);
    Append32(header, 0);
    for (int v : {1024, 768, 271, 203})
        Append32(header, static_cast<std::uint32_t>(v));  // device, in pixels and mm
    std::string out;
    Append32(out, 1);  // EMR_HEADER
    Append32(out, 88);
    return out + header + records;
}

std::string MakeSolidWmf(int width, int height, unsigned char r, unsigned char g, unsigned char b) {
    std::string records;
    auto record = [&records](unsigned function, const std::vector<unsigned>& words) {
        Append32(records, static_cast<std::uint32_t>(3 + words.size()));
        Append16(records, function);
        for (unsigned w : words) Append16(records, w);
    };
    record(0x020B, {0, 0});                                                         // SetWindowOrg(y, x)
    record(0x020C, {static_cast<unsigned>(height), static_cast<unsigned>(width)});  // SetWindowExt
    record(0x02FC, {0, static_cast<unsigned>(r | (g << 8)), b, 0});  // CreateBrushIndirect: solid
    record(0x012D, {0});                                             // SelectObject(brush)
    record(0x02FA, {5, 0, 0, 0, 0});                                 // CreatePenIndirect: PS_NULL
    record(0x012D, {1});                                             // SelectObject(pen)
    record(0x041B, {static_cast<unsigned>(height), static_cast<unsigned>(width), 0, 0});  // Rectangle
    record(0x0000, {});                                                                   // EOF
    std::string meta;
    Append16(meta, 1);
    Append16(meta, 9);
    Append16(meta, 0x300);
    Append32(meta, static_cast<std::uint32_t>((18 + records.size()) / 2));
    Append16(meta, 2);
    Append32(meta, 8);
    Append16(meta, 0);
    // The placeable header: the picture's size in units of 1/96 inch, and its checksum.
    std::string placeable;
    Append32(placeable, 0x9AC6CDD7u);
    Append16(placeable, 0);
    Append16(placeable, 0);
    Append16(placeable, 0);
    Append16(placeable, static_cast<unsigned>(width));
    Append16(placeable, static_cast<unsigned>(height));
    Append16(placeable, 96);
    Append32(placeable, 0);
    unsigned sum = 0;
    for (std::size_t i = 0; i < placeable.size(); i += 2)
        sum ^= static_cast<unsigned char>(placeable[i]) | static_cast<unsigned char>(placeable[i + 1]) << 8;
    Append16(placeable, sum);
    return placeable + meta + records;
}

}  // namespace nimbrel::testing
