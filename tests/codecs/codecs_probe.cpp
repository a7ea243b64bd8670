// A helper of the Windows conversion test: "make DIR" writes the test pictures, "info FILE"
// prints a picture's format, upright size and the colour of its top right corner.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "codecs/codecs.h"
#include "imaging/exif.h"
#include "test_pictures.h"

using namespace nimbrel;
using namespace nimbrel::codecs::testing;

namespace {

// Red with a blue block in the top left corner.
imaging::Image Marked(int width, int height) {
    imaging::Image image(width, height, imaging::MakePixel(255, 0, 0));
    for (int y = 0; y < height / 4; ++y)
        for (int x = 0; x < width / 4; ++x) image.Set(x, y, imaging::MakePixel(0, 0, 255));
    return image;
}

void Write(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string command = argv[1], target = argv[2];
    if (command == "make") {
        // Stored on their sides with orientation 6: upright, the blue block is top right.
        Write(target + "/scan.tif", MakeTiff16(Marked(800, 400), 6));
        Write(target + "/photo.jpg", WithExifOrientation(codecs::EncodeJpeg(Marked(800, 400)), 6));
        Write(target + "/small.jpg", codecs::EncodeJpeg(Marked(100, 80)));
        Write(target + "/phone.heic", MakeHeif(Marked(128, 96), false, {}, 6));
        Write(target + "/web.webp", MakeWebpLossless(Marked(300, 200)));
        return 0;
    }
    if (command == "info") {
        std::ifstream in(target, std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        auto source = codecs::MakeLibraryDecoder()->Open(target, bytes, {});
        if (!source) {
            std::printf("undecodable\n");
            return 1;
        }
        const imaging::Image image =
            imaging::ApplyOrientation(imaging::ReadWholePicture(*source), source->Info().orientation);
        const imaging::Pixel corner = image.At(image.Width() - 3, 2);
        std::printf("%s %dx%d %s\n", source->Info().format.c_str(), image.Width(), image.Height(),
                    imaging::BlueOf(corner) > 200 && imaging::RedOf(corner) < 60 ? "blue" : "notblue");
        return 0;
    }
    return 2;
}
