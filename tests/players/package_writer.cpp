#include "package_writer.h"

#include <zlib.h>

#include <cstdint>
#include <stdexcept>

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

}  // namespace nimbrel::testing
