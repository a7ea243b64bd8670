#include "simple_decoders.h"

namespace nimbrel::player {
namespace {

unsigned Byte(std::string_view b, std::size_t at) {
    return static_cast<unsigned char>(b[at]);
}
unsigned Word(std::string_view b, std::size_t at) {
    return Byte(b, at) | Byte(b, at + 1) << 8;
}
std::uint32_t Rgb(unsigned r, unsigned g, unsigned b) {
    return r << 16 | g << 8 | b;
}

bool SizeOk(std::int64_t width, std::int64_t height) {
    return width > 0 && height > 0 && width <= kMaxPicturePixels && height <= kMaxPicturePixels &&
           width * height <= kMaxPicturePixels;
}

}  // namespace

DecodedPicture DecodePcx(std::string_view bytes) {
    DecodedPicture out;
    if (bytes.size() < 128 || Byte(bytes, 0) != 0x0A) return out;
    unsigned bits = Byte(bytes, 3);
    std::int64_t width = static_cast<std::int64_t>(Word(bytes, 8)) - Word(bytes, 4) + 1;
    std::int64_t height = static_cast<std::int64_t>(Word(bytes, 10)) - Word(bytes, 6) + 1;
    unsigned planes = Byte(bytes, 65);
    std::size_t lineBytes = Word(bytes, 66);
    bool rle = Byte(bytes, 2) == 1;
    bool supported = (bits == 8 && (planes == 1 || planes == 3 || planes == 4)) ||
                     (bits == 1 && (planes == 1 || planes == 4)) || (bits == 4 && planes == 1);
    if (!supported || !SizeOk(width, height) || lineBytes * 8 < static_cast<std::size_t>(width) * bits)
        return out;

    std::uint32_t palette[256] = {};
    for (int i = 0; i < 16; ++i)
        palette[i] = Rgb(Byte(bytes, 16 + 3 * i), Byte(bytes, 17 + 3 * i), Byte(bytes, 18 + 3 * i));
    if (bits == 1 && planes == 1) {
        palette[0] = 0;
        palette[1] = 0xFFFFFF;
    }
    if (bits == 8 && planes == 1) {
        if (bytes.size() < 128 + 769 || Byte(bytes, bytes.size() - 769) != 0x0C) {
            for (int i = 0; i < 256; ++i) palette[i] = Rgb(i, i, i);  // no palette: grey levels
        } else {
            std::size_t at = bytes.size() - 768;
            for (int i = 0; i < 256; ++i)
                palette[i] =
                    Rgb(Byte(bytes, at + 3 * i), Byte(bytes, at + 3 * i + 1), Byte(bytes, at + 3 * i + 2));
        }
    }

    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t scan = lineBytes * planes;
    std::vector<unsigned char> line(scan);
    out.pixels.resize(w * static_cast<std::size_t>(height));
    std::size_t at = 128;
    for (std::int64_t y = 0; y < height; ++y) {
        std::size_t filled = 0;
        while (filled < scan) {
            if (at >= bytes.size()) return DecodedPicture{};  // cut short
            unsigned value = Byte(bytes, at++);
            std::size_t count = 1;
            if (rle && (value & 0xC0) == 0xC0) {
                count = value & 0x3F;
                if (at >= bytes.size()) return DecodedPicture{};
                value = Byte(bytes, at++);
            }
            for (; count > 0 && filled < scan; --count) line[filled++] = static_cast<unsigned char>(value);
        }
        std::uint32_t* row = out.pixels.data() + static_cast<std::size_t>(y) * w;
        for (std::size_t x = 0; x < w; ++x) {
            if (bits == 8 && planes == 1) {
                row[x] = palette[line[x]];
            } else if (bits == 8) {
                row[x] = Rgb(line[x], line[lineBytes + x], line[2 * lineBytes + x]);
            } else if (bits == 4) {
                unsigned b = line[x / 2];
                row[x] = palette[(x % 2 == 0) ? b >> 4 : b & 0x0F];
            } else {
                unsigned index = 0;
                for (unsigned p = 0; p < planes; ++p)
                    index |= ((line[p * lineBytes + x / 8] >> (7 - x % 8)) & 1u) << p;
                row[x] = palette[index];
            }
        }
    }
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    return out;
}

DecodedPicture DecodeWbmp(std::string_view bytes) {
    DecodedPicture out;
    std::size_t at = 0;
    auto readNumber = [&](std::int64_t& value) {
        value = 0;
        for (int i = 0; i < 5; ++i) {
            if (at >= bytes.size()) return false;
            unsigned b = Byte(bytes, at++);
            value = value << 7 | (b & 0x7F);
            if ((b & 0x80) == 0) return true;
        }
        return false;
    };
    std::int64_t type = 0, width = 0, height = 0;
    if (!readNumber(type) || type != 0) return out;
    if (at >= bytes.size() || (Byte(bytes, at) & 0x9F) != 0) return out;  // fixed header, no extensions
    ++at;
    if (!readNumber(width) || !readNumber(height) || !SizeOk(width, height)) return out;
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t rowBytes = (w + 7) / 8;
    if (bytes.size() - at < rowBytes * static_cast<std::size_t>(height)) return out;
    out.pixels.resize(w * static_cast<std::size_t>(height));
    for (std::int64_t y = 0; y < height; ++y) {
        std::size_t rowStart = at + static_cast<std::size_t>(y) * rowBytes;
        for (std::size_t x = 0; x < w; ++x) {
            bool white = (Byte(bytes, rowStart + x / 8) >> (7 - x % 8)) & 1u;
            out.pixels[static_cast<std::size_t>(y) * w + x] = white ? 0xFFFFFF : 0;
        }
    }
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    return out;
}

}  // namespace nimbrel::player
