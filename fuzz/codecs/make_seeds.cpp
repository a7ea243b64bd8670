// Writes the codecs fuzzer's seed corpus: small pictures of every format, each after its
// selector byte, made through the same encoders the tests use.
#include <fstream>
#include <string>

#include "codecs/codecs.h"
#include "test_pictures.h"

using namespace nimbrel;
using namespace nimbrel::codecs::testing;

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string dir = argv[1];
    auto write = [&](const std::string& name, std::uint8_t selector, const Bytes& bytes) {
        std::ofstream out(dir + "/" + name, std::ios::binary);
        out.put(static_cast<char>(selector));
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    };
    const imaging::Image picture = Gradient(24, 16, true);
    const double p3[6] = {0.680, 0.320, 0.265, 0.690, 0.150, 0.060};
    write("jpeg", 0x80, WithExifOrientation(codecs::EncodeJpeg(picture), 6));
    write("png", 1, codecs::EncodePng(picture));
    write("gif", 2, MakeGif(8, 6, 1, 1, 5, 4, 0));
    write("bmp", 3, MakeBmp24(picture));
    write("wbmp", 6, Bytes{0, 0, 8, 2, 0xF0, 0x0F});
    write("heic", 7, MakeHeif(Gradient(64, 64), false, codecs::MakeRgbProfile(p3), 6));
    write("avif", 8, MakeHeif(picture, true));
    write("webp", 0x89, MakeWebpLossless(picture));
    write("tiff", 10, MakeTiff16(picture, 6));
    // Grid pictures: 2 x 3 cells of two 16 x 16 tiles, turned and mirrored, the descriptor in idat.
    for (bool avif : {false, true}) {
        const std::vector<HeifTile> tiles = {
            TakeHeifTile(MakeHeif(Gradient(16, 16), avif)),
            TakeHeifTile(MakeHeif(imaging::Image(16, 16, 0xFF2040C0u), avif))};
        HeifGridLayout layout;
        layout.rows = 2, layout.columns = 3;
        layout.cells = {0, 1, 0, 1, 1, 0};
        layout.width = 40, layout.height = 30;
        layout.avif = avif;
        layout.rotation = 1;
        layout.mirror = avif ? 0 : -1;
        layout.descriptorInIdat = avif;
        write(avif ? "avif-grid" : "heic-grid", avif ? 8 : 7, MakeHeifGrid(tiles, layout));
    }
    return 0;
}
