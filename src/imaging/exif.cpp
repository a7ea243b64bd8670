#include "imaging/exif.h"

namespace nimbrel::imaging {

namespace {

// Reads the TIFF structure inside an Exif block; every offset is checked against its size.
class TiffReader {
public:
    TiffReader(const std::uint8_t* p, std::size_t size) : p_(p), size_(size) {}

    bool Valid() {
        if (size_ < 8) return false;
        if (p_[0] == 'I' && p_[1] == 'I') {
            little_ = true;
        } else if (p_[0] == 'M' && p_[1] == 'M') {
            little_ = false;
        } else {
            return false;
        }
        return U16(2) == 42;
    }
    bool Has(std::size_t offset, std::size_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }
    std::uint32_t U16(std::size_t o) const {
        return little_ ? p_[o] | (p_[o + 1] << 8) : (p_[o] << 8) | p_[o + 1];
    }
    std::uint32_t U32(std::size_t o) const {
        return little_ ? U16(o) | (U16(o + 2) << 16) : (U16(o) << 16) | U16(o + 2);
    }

private:
    const std::uint8_t* p_;
    std::size_t size_;
    bool little_ = true;
};

int OrientationFromExif(const std::uint8_t* p, std::size_t size) {
    TiffReader tiff(p, size);
    if (!tiff.Valid()) return 1;
    const std::size_t ifd = tiff.U32(4);
    if (!tiff.Has(ifd, 2)) return 1;
    const std::size_t count = tiff.U16(ifd);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = ifd + 2 + 12 * i;
        if (!tiff.Has(entry, 12)) return 1;
        if (tiff.U16(entry) != 0x0112) continue;
        // SHORT (3) is the tag's type; some writers use LONG (4). The value sits in the entry.
        const std::uint32_t type = tiff.U16(entry + 2);
        std::uint32_t value = 0;
        if (type == 3) {
            value = tiff.U16(entry + 8);
        } else if (type == 4) {
            value = tiff.U32(entry + 8);
        } else {
            return 1;
        }
        return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
    return 1;
}

}  // namespace

int ReadExifOrientation(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return 1;
    std::size_t pos = 2;
    while (pos + 4 <= size) {
        if (data[pos] != 0xFF) return 1;
        const std::uint8_t marker = data[pos + 1];
        if (marker == 0xFF) {  // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
            pos += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) return 1;  // image data or the end: no Exif before it
        const std::size_t length = (data[pos + 2] << 8) | data[pos + 3];
        if (length < 2 || length > size - pos - 2) return 1;
        const std::uint8_t* body = data + pos + 4;
        const std::size_t bodySize = length - 2;
        if (marker == 0xE1 && bodySize >= 6 && body[0] == 'E' && body[1] == 'x' && body[2] == 'i' &&
            body[3] == 'f' && body[4] == 0 && body[5] == 0)
            return OrientationFromExif(body + 6, bodySize - 6);
        pos += 2 + length;
    }
    return 1;
}

Image ApplyOrientation(const Image& image, int orientation) {
    if (orientation < 2 || orientation > 8 || image.Empty()) return image;
    const int w = image.Width(), h = image.Height();
    const bool swap = orientation >= 5;
    Image out(swap ? h : w, swap ? w : h);
    for (int y = 0; y < out.Height(); ++y) {
        Pixel* row = out.Row(y);
        for (int x = 0; x < out.Width(); ++x) {
            int sx = x, sy = y;
            switch (orientation) {
                case 2: sx = w - 1 - x; break;
                case 3:
                    sx = w - 1 - x;
                    sy = h - 1 - y;
                    break;
                case 4: sy = h - 1 - y; break;
                case 5:
                    sx = y;
                    sy = x;
                    break;
                case 6:
                    sx = y;
                    sy = h - 1 - x;
                    break;
                case 7:
                    sx = w - 1 - y;
                    sy = h - 1 - x;
                    break;
                case 8:
                    sx = w - 1 - y;
                    sy = x;
                    break;
                default: break;
            }
            row[x] = image.At(sx, sy);
        }
    }
    return out;
}

Rect StoredRect(const Rect& upright, int orientation, int storedWidth, int storedHeight) {
    const int x0 = upright.x, x1 = upright.x + upright.width;
    const int y0 = upright.y, y1 = upright.y + upright.height;
    const int w = storedWidth, h = storedHeight;
    switch (orientation) {
        case 2: return Rect{w - x1, y0, upright.width, upright.height};
        case 3: return Rect{w - x1, h - y1, upright.width, upright.height};
        case 4: return Rect{x0, h - y1, upright.width, upright.height};
        case 5: return Rect{y0, x0, upright.height, upright.width};
        case 6: return Rect{y0, h - x1, upright.height, upright.width};
        case 7: return Rect{w - y1, h - x1, upright.height, upright.width};
        case 8: return Rect{w - y1, x0, upright.height, upright.width};
        default: return upright;
    }
}

}  // namespace nimbrel::imaging
