#include "test_pictures.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace nimbrel::codecs::testing {

imaging::Image Gradient(int width, int height, bool withAlpha) {
    imaging::Image image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.Set(
                x, y,
                imaging::MakePixel(static_cast<std::uint8_t>(x * 255 / std::max(1, width - 1)),
                                   static_cast<std::uint8_t>(y * 255 / std::max(1, height - 1)),
                                   static_cast<std::uint8_t>((x + y) * 255 / std::max(1, width + height - 2)),
                                   withAlpha ? static_cast<std::uint8_t>(x % 2 ? 255 : x * 3) : 255));
    return image;
}

Bytes WithExifOrientation(const Bytes& jpeg, int orientation) {
    Bytes tiff = {'I',  'I',  42, 0, 8, 0, 0, 0,  // header, IFD0 at 8
                  1,    0,                        // one entry
                  0x12, 0x01, 3,  0, 1, 0, 0, 0, static_cast<std::uint8_t>(orientation),
                  0,    0,    0,  0, 0, 0, 0};  // no next IFD
    Bytes segment = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    segment.insert(segment.end(), tiff.begin(), tiff.end());
    const std::size_t length = segment.size() - 2;
    segment[2] = static_cast<std::uint8_t>(length >> 8);
    segment[3] = static_cast<std::uint8_t>(length);
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), segment.begin(), segment.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

namespace {
int WriteGif(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}
}  // namespace

Bytes MakeGif(int screenWidth, int screenHeight, int left, int top, int w, int h, int transparent) {
    Bytes out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteGif, &error);
    if (!gif) throw std::runtime_error("EGifOpen");
    GifColorType colours[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    ColorMapObject* map = GifMakeMapObject(4, colours);
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, screenWidth, screenHeight, 2, 0, map);
    if (transparent >= 0) {
        GraphicsControlBlock control{};
        control.TransparentColor = transparent;
        GifByteType block[4];
        EGifGCBToExtension(&control, block);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, block);
    }
    EGifPutImageDesc(gif, left, top, w, h, false, nullptr);
    std::vector<GifPixelType> line(static_cast<std::size_t>(w));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            line[x] = static_cast<GifPixelType>(y % 2 == 0 ? 1 : (x % 2 == 0 ? 2 : 0));
        EGifPutLine(gif, line.data(), w);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

Bytes MakeBmp24(const imaging::Image& image) {
    const int stride = (image.Width() * 3 + 3) & ~3;
    const std::uint32_t size = 54 + static_cast<std::uint32_t>(stride) * image.Height();
    Bytes b(size, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    b[0] = 'B', b[1] = 'M';
    put32(2, size);
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(image.Width()));
    put32(22, static_cast<std::uint32_t>(image.Height()));
    b[26] = 1, b[28] = 24;
    for (int y = 0; y < image.Height(); ++y) {
        std::uint8_t* row = b.data() + 54 + static_cast<std::size_t>(image.Height() - 1 - y) * stride;
        for (int x = 0; x < image.Width(); ++x) {
            const imaging::Pixel p = image.At(x, y);
            row[3 * x] = imaging::BlueOf(p), row[3 * x + 1] = imaging::GreenOf(p),
                    row[3 * x + 2] = imaging::RedOf(p);
        }
    }
    return b;
}

int ChannelDistance(imaging::Pixel a, imaging::Pixel b) {
    int most = 0;
    for (int shift = 0; shift < 32; shift += 8)
        most = std::max(
            most, std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)));
    return most;
}

}  // namespace nimbrel::codecs::testing
