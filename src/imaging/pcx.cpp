#include <algorithm>
#include <array>
#include <vector>

#include "imaging/decoders.h"
#include "platform/error.h"

namespace nimbrel::imaging {

namespace {

constexpr std::size_t kHeaderSize = 128;
constexpr std::size_t kVgaPaletteSize = 769;  // 0x0C and 256 RGB triples

const char kNotPcx[] = "The file is not a PCX picture";
const char kDamaged[] = "The PCX picture is damaged";
const char kUnsupported[] = "The PCX picture uses a colour format that is not supported";
const char kTooLarge[] = "The PCX picture is too large";

unsigned Word(const std::uint8_t* p) {
    return p[0] | (p[1] << 8);
}

// Unpacks scan lines from the RLE stream. Runs may cross scan lines, as many writers emit them.
class RleReader {
public:
    RleReader(const std::uint8_t* p, const std::uint8_t* end, bool compressed)
        : p_(p), end_(end), compressed_(compressed) {}

    void Read(std::uint8_t* out, std::size_t count) {
        std::size_t done = 0;
        while (done < count) {
            if (run_ > 0) {
                std::size_t n = std::min<std::size_t>(run_, count - done);
                std::fill_n(out + done, n, value_);
                run_ -= static_cast<unsigned>(n);
                done += n;
                continue;
            }
            if (p_ == end_) throw Error(kDamaged);
            std::uint8_t b = *p_++;
            if (compressed_ && b >= 0xC0) {
                if (p_ == end_) throw Error(kDamaged);
                run_ = b & 0x3Fu;
                value_ = *p_++;
            } else {
                out[done++] = b;
            }
        }
    }

private:
    const std::uint8_t* p_;
    const std::uint8_t* end_;
    bool compressed_;
    unsigned run_ = 0;
    std::uint8_t value_ = 0;
};

}  // namespace

Image DecodePcx(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < kHeaderSize || data[0] != 0x0A) throw Error(kNotPcx);
    const unsigned encoding = data[2];
    const unsigned bits = data[3];
    const unsigned planes = data[65];
    const std::int64_t bytesPerLine = Word(data + 66);
    if (encoding > 1) throw Error(kNotPcx);
    const unsigned xMin = Word(data + 4), yMin = Word(data + 6), xMax = Word(data + 8),
                   yMax = Word(data + 10);
    if (xMax < xMin || yMax < yMin) throw Error(kDamaged);
    const std::int64_t width = std::int64_t{xMax} - xMin + 1;
    const std::int64_t height = std::int64_t{yMax} - yMin + 1;
    if (!ImageSizeAllowed(width, height)) throw Error(kTooLarge);

    const bool planar1 = bits == 1 && planes >= 1 && planes <= 4;
    const bool packed = (bits == 2 || bits == 4 || bits == 8) && planes == 1;
    const bool trueColour = bits == 8 && (planes == 3 || planes == 4);
    if (!planar1 && !packed && !trueColour) throw Error(kUnsupported);
    if (bytesPerLine * 8 < width * bits) throw Error(kDamaged);

    // A scan line holds every plane's bytes; refuse sizes the file cannot possibly hold before
    // allocating anything (an RLE pair yields at most 63 bytes).
    const std::int64_t lineBytes = bytesPerLine * planes;
    const std::int64_t total = lineBytes * height;
    const std::int64_t available = static_cast<std::int64_t>(size - kHeaderSize);
    if (encoding == 1 ? (total + 62) / 63 * 2 > available + 1 : total > available) throw Error(kDamaged);

    std::array<Pixel, 256> palette{};
    const unsigned indexBits = planar1 ? planes : bits;
    if (!trueColour) {
        if (indexBits == 8) {
            const std::uint8_t* pal = data + size - kVgaPaletteSize;
            if (size >= kHeaderSize + kVgaPaletteSize && pal[0] == 0x0C) {
                for (int i = 0; i < 256; ++i)
                    palette[i] = MakePixel(pal[1 + 3 * i], pal[2 + 3 * i], pal[3 + 3 * i]);
            } else {
                for (int i = 0; i < 256; ++i) palette[i] = MakePixel(i, i, i);
            }
        } else if (indexBits == 1) {
            palette[0] = kOpaqueBlack;
            palette[1] = kOpaqueWhite;
        } else {
            for (int i = 0; i < 16; ++i)
                palette[i] = MakePixel(data[16 + 3 * i], data[17 + 3 * i], data[18 + 3 * i]);
        }
    }

    Image image(static_cast<int>(width), static_cast<int>(height));
    RleReader reader(data + kHeaderSize, data + size, encoding == 1);
    std::vector<std::uint8_t> line(static_cast<std::size_t>(lineBytes));
    const auto bpl = static_cast<std::size_t>(bytesPerLine);
    for (int y = 0; y < image.Height(); ++y) {
        reader.Read(line.data(), line.size());
        Pixel* row = image.Row(y);
        if (trueColour) {
            const std::uint8_t* r = line.data();
            const std::uint8_t* g = r + bpl;
            const std::uint8_t* b = g + bpl;
            const std::uint8_t* a = planes == 4 ? b + bpl : nullptr;
            for (int x = 0; x < image.Width(); ++x) row[x] = MakePixel(r[x], g[x], b[x], a ? a[x] : 255);
        } else if (planar1) {
            for (int x = 0; x < image.Width(); ++x) {
                unsigned index = 0;
                for (unsigned p = 0; p < planes; ++p)
                    index |= ((line[p * bpl + x / 8] >> (7 - x % 8)) & 1u) << p;
                row[x] = palette[index];
            }
        } else {
            const unsigned perByte = 8 / bits, mask = (1u << bits) - 1;
            for (int x = 0; x < image.Width(); ++x) {
                unsigned shift = 8 - bits * (x % perByte + 1);
                row[x] = palette[(line[x / perByte] >> shift) & mask];
            }
        }
    }
    return image;
}

}  // namespace nimbrel::imaging
