// Windows bitmaps (BMP, and DIB with or without the file header): 1, 2, 4, 8 bits with a palette
// (RLE8 and RLE4 too), 16 and 32 bits with masks, 24 bits. Every read is bounds-checked.
#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "codecs/sources.h"

namespace nimbrel::codecs::detail {

namespace {

std::uint32_t Le16(Bytes b, std::size_t at) {
    return b[at] | (b[at + 1] << 8);
}
std::uint32_t Le32(Bytes b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}

// One channel from a bit mask, widened to 8 bits.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;
    explicit Channel(std::uint32_t m = 0) : mask(m) {
        if (m == 0) return;
        shift = std::countr_zero(m);
        bits = std::popcount(m >> shift);
        if (bits > 8) shift += bits - 8, bits = 8;
    }
    std::uint8_t Of(std::uint32_t v) const {
        if (mask == 0) return 0;
        std::uint32_t c = ((v & mask) >> shift) & ((1u << bits) - 1);
        const std::uint32_t most = (1u << bits) - 1;
        return static_cast<std::uint8_t>((c * 255 + most / 2) / most);
    }
};

class BmpSource : public imaging::PictureSource {
public:
    bool Start(Bytes bytes, bool bareDib) {
        bytes_ = bytes;
        const std::size_t base = bareDib ? 0 : 14;
        if (bytes.size() < base + 12) return false;
        const std::uint32_t headerSize = Le32(bytes, base);
        if (headerSize < 12 || headerSize > bytes.size() - base) return false;
        std::int64_t width = 0, height = 0;
        std::uint32_t compression = 0, colours = 0;
        std::uint32_t masks[4] = {0, 0, 0, 0};
        std::size_t paletteEntry = 4;
        std::size_t afterHeader = base + headerSize;
        if (headerSize == 12) {
            width = Le16(bytes, base + 4);
            height = static_cast<std::int16_t>(Le16(bytes, base + 6));
            bits_ = static_cast<int>(Le16(bytes, base + 10));
            paletteEntry = 3;
        } else {
            if (headerSize < 40) return false;
            width = static_cast<std::int32_t>(Le32(bytes, base + 4));
            height = static_cast<std::int32_t>(Le32(bytes, base + 8));
            bits_ = static_cast<int>(Le16(bytes, base + 14));
            compression = Le32(bytes, base + 16);
            colours = Le32(bytes, base + 32);
            if (headerSize >= 52) {
                for (int i = 0; i < 3; ++i) masks[i] = Le32(bytes, base + 40 + 4 * i);
                if (headerSize >= 56) masks[3] = Le32(bytes, base + 52);
            } else if (compression == 3 || compression == 6) {
                const int count = compression == 6 ? 4 : 3;
                if (bytes.size() < afterHeader + 4 * count) return false;
                for (int i = 0; i < count; ++i) masks[i] = Le32(bytes, afterHeader + 4 * i);
                afterHeader += 4 * count;
            }
        }
        topDown_ = height < 0;
        height = height < 0 ? -height : height;
        if (!detail::WholeSizeAllowed(width, height) || width < 1 || height < 1) return false;
        info_.width = static_cast<int>(width);
        info_.height = static_cast<int>(height);
        info_.format = "bmp";

        switch (compression) {
            case 0: break;
            case 1:
                rle_ = bits_ == 8;
                if (!rle_) return false;
                break;
            case 2:
                rle_ = bits_ == 4;
                if (!rle_) return false;
                break;
            case 3:
            case 6:
                if (bits_ != 16 && bits_ != 32) return false;
                break;
            default: return false;  // embedded JPEG or PNG, or unknown
        }
        if (bits_ != 1 && bits_ != 2 && bits_ != 4 && bits_ != 8 && bits_ != 16 && bits_ != 24 && bits_ != 32)
            return false;
        if (bits_ <= 8) {
            const std::size_t most = std::size_t{1} << bits_;
            std::size_t count = colours == 0 ? most : std::min<std::size_t>(colours, most);
            if (bytes.size() < afterHeader) return false;
            count = std::min(count, (bytes.size() - afterHeader) / paletteEntry);
            if (count == 0) return false;
            palette_.assign(most, imaging::kOpaqueBlack);
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint8_t* e = bytes.data() + afterHeader + i * paletteEntry;
                palette_[i] = imaging::MakePixel(e[2], e[1], e[0]);
            }
            afterHeader += count * paletteEntry;
        } else {
            if (compression == 0) {
                if (bits_ == 16) masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
                if (bits_ == 32 || bits_ == 24) masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
                masks[3] = 0;  // the fourth byte of a plain 32-bit bitmap is not alpha
            }
            for (int i = 0; i < 4; ++i) channels_[i] = Channel(masks[i]);
            info_.hasAlpha = masks[3] != 0;
        }
        std::size_t offset = bareDib ? afterHeader : Le32(bytes, 10);
        if (offset == 0 || offset >= bytes.size()) offset = afterHeader;
        if (offset >= bytes.size()) return false;
        pixels_ = offset;
        stride_ = ((static_cast<std::size_t>(width) * bits_ + 31) / 32) * 4;
        return true;
    }

    const imaging::PictureInfo& Info() const override { return info_; }

    bool ReadRows(int first, int count, imaging::Pixel* into) override {
        if (first < 0 || count < 0 || first + count > info_.height) return false;
        if (rle_ && expanded_.empty() && !ExpandRle()) return false;
        for (int i = 0; i < count; ++i)
            if (!Row(first + i, into + static_cast<std::size_t>(i) * info_.width)) return false;
        return true;
    }

private:
    bool Row(int y, imaging::Pixel* out) const {
        const int stored = topDown_ ? y : info_.height - 1 - y;
        const int width = info_.width;
        if (rle_) {
            const std::uint8_t* in = expanded_.data() + static_cast<std::size_t>(stored) * width;
            for (int x = 0; x < width; ++x) out[x] = palette_[in[x]];
            return true;
        }
        const std::size_t at = pixels_ + static_cast<std::size_t>(stored) * stride_;
        const std::size_t need = (static_cast<std::size_t>(width) * bits_ + 7) / 8;
        if (at > bytes_.size() || bytes_.size() - at < need) return false;
        const std::uint8_t* in = bytes_.data() + at;
        switch (bits_) {
            case 1:
            case 2:
            case 4:
            case 8: {
                const int perByte = 8 / bits_;
                const unsigned mask = (1u << bits_) - 1;
                for (int x = 0; x < width; ++x) {
                    const int shift = 8 - bits_ * (x % perByte + 1);
                    out[x] = palette_[(in[x / perByte] >> shift) & mask];
                }
                break;
            }
            case 16:
            case 32:
                for (int x = 0; x < width; ++x) {
                    const std::uint32_t v = bits_ == 16 ? (in[2 * x] | (in[2 * x + 1] << 8))
                                                        : Le32(bytes_, at + 4 * static_cast<std::size_t>(x));
                    out[x] = imaging::MakePixel(channels_[0].Of(v), channels_[1].Of(v), channels_[2].Of(v),
                                                channels_[3].mask ? channels_[3].Of(v) : 255);
                }
                break;
            case 24:
                for (int x = 0; x < width; ++x)
                    out[x] = imaging::MakePixel(in[3 * x + 2], in[3 * x + 1], in[3 * x]);
                break;
        }
        return true;
    }

    // Runs of RLE8 or RLE4 into one index a pixel; what the runs skip stays at index 0.
    bool ExpandRle() {
        const int width = info_.width, height = info_.height;
        expanded_.assign(static_cast<std::size_t>(width) * height, 0);
        std::size_t at = pixels_;
        int x = 0, y = 0;
        auto put = [&](int index) {
            if (x < width && y < height)
                expanded_[static_cast<std::size_t>(y) * width + x] = static_cast<std::uint8_t>(index);
            ++x;
        };
        while (at + 1 < bytes_.size() && y < height) {
            const int n = bytes_[at], v = bytes_[at + 1];
            at += 2;
            if (n > 0) {
                for (int i = 0; i < n; ++i) put(bits_ == 8 ? v : (i % 2 == 0 ? v >> 4 : v & 15));
            } else if (v == 0) {
                x = 0, ++y;
            } else if (v == 1) {
                break;
            } else if (v == 2) {
                if (at + 1 >= bytes_.size()) break;
                x += bytes_[at], y += bytes_[at + 1];
                at += 2;
            } else {
                const std::size_t size = bits_ == 8 ? v : (v + 1) / 2;
                if (size > bytes_.size() - at) break;
                for (int i = 0; i < v; ++i)
                    put(bits_ == 8 ? bytes_[at + i]
                                   : (i % 2 == 0 ? bytes_[at + i / 2] >> 4 : bytes_[at + i / 2] & 15));
                at += (size + 1) & ~std::size_t{1};
            }
        }
        return true;
    }

    Bytes bytes_;
    imaging::PictureInfo info_;
    int bits_ = 0;
    bool topDown_ = false;
    bool rle_ = false;
    std::size_t pixels_ = 0;
    std::size_t stride_ = 0;
    std::vector<imaging::Pixel> palette_;
    Channel channels_[4];
    std::vector<std::uint8_t> expanded_;
};

}  // namespace

SourcePtr OpenBmp(Bytes bytes, bool bareDib) {
    auto source = std::make_unique<BmpSource>();
    if (!source->Start(bytes, bareDib)) return nullptr;
    return source;
}

}  // namespace nimbrel::codecs::detail
