// Writes the seed corpora of the icon fuzz targets: .ico files of the layouts icon editors
// produce (several sizes, 1-, 4-, 8- and 32-bit images, PNG-compressed large images), and the
// same icons joined to the small executable, or to executables named on the command line.
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_inputs.h"

using namespace nimbrel::fuzzinputs;

namespace {

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void PngChunk(std::string& out, const char* type, const std::string& data) {
    std::string body = std::string(type, 4) + data;
    // PNG lengths and CRCs are big-endian.
    auto putBe = [&out](std::uint32_t v) {
        for (int i = 3; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    putBe(static_cast<std::uint32_t>(data.size()));
    out += body;
    putBe(static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
}

// A w x h RGBA PNG with a simple gradient: what icon editors store for 256 x 256 images.
IconImage PngImage(unsigned w, unsigned h) {
    std::string raw;
    for (unsigned y = 0; y < h; ++y) {
        raw += '\0';  // filter: none
        for (unsigned x = 0; x < w; ++x) {
            raw += static_cast<char>(x & 0xFF);
            raw += static_cast<char>(y & 0xFF);
            raw += static_cast<char>((x + y) & 0xFF);
            raw += static_cast<char>(0xFF);
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
              reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()), 9);
    packed.resize(packedSize);
    std::string ihdr;
    for (std::uint32_t v : {w, h})
        for (int i = 3; i >= 0; --i) ihdr += static_cast<char>((v >> (8 * i)) & 0xFF);
    ihdr += std::string("\x08\x06\x00\x00\x00", 5);
    IconImage img{w, h, 32, std::string("\x89PNG\r\n\x1A\n", 8)};
    PngChunk(img.bytes, "IHDR", ihdr);
    PngChunk(img.bytes, "IDAT", packed);
    PngChunk(img.bytes, "IEND", "");
    return img;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s icon-corpus both-corpus [executable...]\n", argv[0]);
        return 2;
    }
    const std::string icoDir = argv[1], bothDir = argv[2];
    std::vector<std::pair<std::string, std::string>> icons = {
        {"mono32", IcoFile({DibImage(32, 32, 1)})},
        {"vga16", IcoFile({DibImage(16, 16, 4)})},
        {"palette48", IcoFile({DibImage(48, 48, 8)})},
        {"true16", IcoFile({DibImage(16, 16, 32)})},
        {"sizes",
         IcoFile({DibImage(16, 16, 32), DibImage(24, 24, 32), DibImage(32, 32, 32), DibImage(48, 48, 32)})},
        {"png256", IcoFile({PngImage(256, 256)})},
        {"full", IcoFile({DibImage(16, 16, 1), DibImage(16, 16, 4), DibImage(16, 16, 8), DibImage(16, 16, 32),
                          DibImage(32, 32, 4), DibImage(32, 32, 8), DibImage(32, 32, 32), DibImage(48, 48, 8),
                          DibImage(48, 48, 32), PngImage(64, 64), PngImage(256, 256)})},
        {"large_dib", IcoFile({DibImage(128, 128, 32)})},  // above the in-memory limit
        {"empty", IcoFile({})},
    };
    std::vector<std::string> executables = {MinimalPe(DibImage(16, 16, 4).bytes)};
    for (int i = 3; i < argc; ++i) {
        std::string exe = ReadFile(argv[i]);
        if (!exe.empty()) executables.push_back(exe);
    }
    for (const auto& [name, ico] : icons) {
        Write(icoDir + "/" + name + ".ico", ico);
        for (std::size_t e = 0; e < executables.size(); ++e)
            Write(bothDir + "/" + name + "_exe" + std::to_string(e),
                  JoinIconAndExecutable(ico, executables[e]));
    }
    return 0;
}
