#include "imaging/decoders.h"
#include "platform/error.h"

namespace nimbrel::imaging {

namespace {

const char kNotWbmp[] = "The file is not a WBMP picture";
const char kDamaged[] = "The WBMP picture is damaged";
const char kTooLarge[] = "The WBMP picture is too large";

// A multi-byte integer: 7 bits a byte, most significant first, high bit set on all but the last.
std::uint32_t ReadMultiByte(const std::uint8_t*& p, const std::uint8_t* end, const char* message) {
    std::uint32_t value = 0;
    for (int i = 0; i < 5; ++i) {
        if (p == end) throw Error(message);
        std::uint8_t b = *p++;
        value = (value << 7) | (b & 0x7Fu);
        if ((b & 0x80) == 0) return value;
        if (value > (1u << 24)) break;
    }
    throw Error(message);
}

}  // namespace

Image DecodeWbmp(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < 4) throw Error(kNotWbmp);
    const std::uint8_t* p = data;
    const std::uint8_t* end = data + size;
    if (ReadMultiByte(p, end, kNotWbmp) != 0) throw Error(kNotWbmp);
    // Type 0 has no extension headers: the fixed header byte is 0.
    if (p == end || *p++ != 0) throw Error(kNotWbmp);
    const std::uint32_t width = ReadMultiByte(p, end, kDamaged);
    const std::uint32_t height = ReadMultiByte(p, end, kDamaged);
    if (width == 0 || height == 0) throw Error(kDamaged);
    if (!ImageSizeAllowed(width, height)) throw Error(kTooLarge);
    const std::size_t rowBytes = (width + 7) / 8;
    if (static_cast<std::size_t>(end - p) / rowBytes < height) throw Error(kDamaged);

    Image image(static_cast<int>(width), static_cast<int>(height));
    for (int y = 0; y < image.Height(); ++y, p += rowBytes) {
        Pixel* row = image.Row(y);
        for (int x = 0; x < image.Width(); ++x)
            row[x] = (p[x / 8] >> (7 - x % 8)) & 1 ? kOpaqueWhite : kOpaqueBlack;
    }
    return image;
}

}  // namespace nimbrel::imaging
