#include "package_writer.h"

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
// libjpeg's header needs FILE and size_t declared first.
#include <jpeglib.h>

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

std::string MakeSolidJpeg(int width, int height, unsigned char r, unsigned char g, unsigned char b,
                          int orientation) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    if (orientation != 0) {
        // "Exif\0\0", then a little-endian TIFF header and IFD0 with the single Orientation tag.
        const unsigned char exif[] = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0,
                                      0x12, 0x01, 3, 0, 1, 0, 0, 0, static_cast<unsigned char>(orientation), 0,
                                      0, 0, 0, 0, 0, 0};
        jpeg_write_marker(&info, JPEG_APP0 + 1, exif, sizeof exif);
    }
    std::vector<unsigned char> row(static_cast<std::size_t>(width) * 3);
    for (int x = 0; x < width; ++x) {
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

namespace {

void AppendBigEndian32(std::string& out, std::uint32_t value) {
    for (int i = 3; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void AppendPngChunk(std::string& out, const char* type, const std::string& data) {
    AppendBigEndian32(out, static_cast<std::uint32_t>(data.size()));
    std::string body = std::string(type, 4) + data;
    out += body;
    AppendBigEndian32(out, static_cast<std::uint32_t>(
                               crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
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

}  // namespace nimbrel::testing
