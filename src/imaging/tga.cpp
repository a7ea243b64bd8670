#include <algorithm>
#include <cstring>

#include "imaging/decoders.h"
#include "platform/error.h"

namespace nimbrel::imaging {

namespace {

const char kNotTga[] = "The file is not a Targa picture";
const char kDamaged[] = "The Targa picture is damaged";
const char kUnsupported[] = "The Targa picture is of a kind this program does not read";
const char kTooLarge[] = "The Targa picture is too large";

constexpr std::size_t kHeaderSize = 18;
// Optional TGA 2.0 footer: extension and developer offsets, then this signature.
constexpr std::size_t kFooterSize = 26;
constexpr char kFooterSignature[] = "TRUEVISION-XFILE.";

unsigned Le16(const std::uint8_t* p) {
    return p[0] | (p[1] << 8u);
}

// 5-5-5 with the top bit as a one-bit alpha (used only where the header says so).
Pixel From16(const std::uint8_t* p, bool alpha) {
    const unsigned v = Le16(p);
    auto widen = [](unsigned c) { return static_cast<std::uint8_t>((c << 3) | (c >> 2)); };
    return MakePixel(widen((v >> 10) & 31), widen((v >> 5) & 31), widen(v & 31),
                     alpha && (v & 0x8000) == 0 ? 0 : 255);
}

// One stored colour (true colour or a palette entry), stored blue first.
Pixel FromStored(const std::uint8_t* p, int bits, bool alpha16) {
    switch (bits) {
        case 15:
        case 16: return From16(p, alpha16);
        case 24: return MakePixel(p[2], p[1], p[0]);
        default: return MakePixel(p[2], p[1], p[0], p[3]);
    }
}

}  // namespace

bool HasTgaFooter(const std::uint8_t* data, std::size_t size) {
    return data != nullptr && size >= kHeaderSize + kFooterSize &&
           std::memcmp(data + size - sizeof kFooterSignature, kFooterSignature, sizeof kFooterSignature) == 0;
}

bool LooksLikeTgaHeader(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < kHeaderSize) return false;
    const unsigned mapType = data[1], type = data[2], depth = data[16];
    const unsigned width = Le16(data + 12), height = Le16(data + 14);
    if (mapType > 1 || width == 0 || height == 0 || (data[17] & 0xC0) != 0) return false;
    switch (type) {
        case 1:
        case 9: return mapType == 1 && depth == 8;
        case 2:
        case 10: return mapType == 0 && (depth == 15 || depth == 16 || depth == 24 || depth == 32);
        case 3:
        case 11: return mapType == 0 && depth == 8;
        default: return false;
    }
}

Image DecodeTga(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < kHeaderSize) throw Error(kNotTga);
    const unsigned idLength = data[0], mapType = data[1], type = data[2];
    const unsigned mapFirst = Le16(data + 3), mapLength = Le16(data + 5), mapBits = data[7];
    const unsigned width = Le16(data + 12), height = Le16(data + 14), depth = data[16];
    const unsigned descriptor = data[17];
    if (mapType > 1 || (type != 1 && type != 2 && type != 3 && type != 9 && type != 10 && type != 11))
        throw Error(kNotTga);
    if (width == 0 || height == 0) throw Error(kDamaged);
    if (!ImageSizeAllowed(width, height)) throw Error(kTooLarge);

    const bool mapped = type == 1 || type == 9, grey = type == 3 || type == 11;
    const bool rle = type >= 9;
    if (mapped ? depth != 8 : grey ? depth != 8 : depth != 15 && depth != 16 && depth != 24 && depth != 32)
        throw Error(kUnsupported);
    const unsigned alphaBits = descriptor & 15;

    // The bytes that hold pixels: everything after the header, the ID and the palette, without
    // the footer when there is one (RLE packets must not run into it).
    std::size_t end = HasTgaFooter(data, size) ? size - kFooterSize : size;
    std::size_t at = kHeaderSize + idLength;
    std::vector<Pixel> palette;
    if (mapType == 1) {
        if (mapBits != 15 && mapBits != 16 && mapBits != 24 && mapBits != 32) throw Error(kUnsupported);
        const std::size_t entryBytes = (mapBits + 7) / 8;
        const std::size_t mapBytes = entryBytes * mapLength;
        if (at > end || end - at < mapBytes) throw Error(kDamaged);
        if (mapped) {
            // Indexes count from the first entry; entries before it are black.
            palette.assign(mapFirst + mapLength, kOpaqueBlack);
            for (unsigned i = 0; i < mapLength; ++i)
                palette[mapFirst + i] = FromStored(data + at + i * entryBytes, static_cast<int>(mapBits),
                                                   alphaBits > 0);
        }
        at += mapBytes;
    } else if (mapped) {
        throw Error(kDamaged);
    }
    if (at > end) throw Error(kDamaged);

    const std::size_t pixelBytes = (depth + 7) / 8;
    const std::uint64_t pixels = std::uint64_t{width} * height;
    // Bound the picture by the bytes present before anything is allocated: plain data holds every
    // pixel, and an RLE packet of 1 + pixelBytes bytes gives at most 128 pixels.
    const std::uint64_t available = end - at;
    if (!rle && available / pixelBytes < pixels) throw Error(kDamaged);
    if (rle && available / (1 + pixelBytes) * 128 < pixels) throw Error(kDamaged);

    auto decode = [&](const std::uint8_t* p) -> Pixel {
        if (mapped) {
            if (*p >= palette.size()) throw Error(kDamaged);
            return palette[*p];
        }
        if (grey) return MakePixel(*p, *p, *p);
        return FromStored(p, static_cast<int>(depth), alphaBits > 0);
    };

    // Pixels come in stored order: rows from the bottom unless the descriptor says top-down.
    Image image(static_cast<int>(width), static_cast<int>(height));
    const bool topDown = (descriptor & 0x20) != 0, rightToLeft = (descriptor & 0x10) != 0;
    auto put = [&](std::size_t i, std::size_t count, const std::uint8_t* from, std::size_t step) {
        for (std::size_t k = 0; k < count; ++k, from += step) {
            const std::size_t n = i + k, sy = n / width, sx = n % width;
            image.Row(static_cast<int>(topDown ? sy : height - 1 - sy))[rightToLeft ? width - 1 - sx : sx] =
                decode(from);
        }
    };
    if (!rle) {
        put(0, static_cast<std::size_t>(pixels), data + at, pixelBytes);
    } else {
        for (std::size_t i = 0; i < pixels;) {
            if (at >= end) throw Error(kDamaged);
            const unsigned packet = data[at++];
            const std::size_t count = std::min<std::size_t>((packet & 0x7F) + 1, pixels - i);
            const bool repeated = (packet & 0x80) != 0;
            if ((end - at) / pixelBytes < (repeated ? 1 : count)) throw Error(kDamaged);
            put(i, count, data + at, repeated ? 0 : pixelBytes);
            at += repeated ? pixelBytes : count * pixelBytes;
            i += count;
        }
    }

    // A 32-bit picture whose alpha is 0 everywhere was written by a tool that did not fill it.
    Pixel* all = image.Data();
    const std::size_t total = static_cast<std::size_t>(pixels);
    if (depth == 32 && !mapped && std::all_of(all, all + total, [](Pixel p) { return AlphaOf(p) == 0; }))
        for (std::size_t i = 0; i < total; ++i) all[i] |= 0xFF000000u;
    return image;
}

}  // namespace nimbrel::imaging
