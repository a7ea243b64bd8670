#pragma once
// Pictures made by the tests through the libraries' own encoders and small writers of ours.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "imaging/image.h"

namespace nimbrel::codecs::testing {

using Bytes = std::vector<std::uint8_t>;

// A picture whose every pixel differs from its neighbours: red by x, green by y, blue mixed.
imaging::Image Gradient(int width, int height, bool withAlpha = false);

// A JPEG with an EXIF block holding only the Orientation tag, placed right after SOI.
Bytes WithExifOrientation(const Bytes& jpeg, int orientation);

// A GIF of `screenWidth` x `screenHeight` whose first frame covers (left, top, w, h), palette
// index 1 red, 2 green; `transparent` (or -1) is the transparent index.
Bytes MakeGif(int screenWidth, int screenHeight, int left, int top, int w, int h, int transparent);

// A 24-bit bottom-up BMP of the picture (alpha dropped).
Bytes MakeBmp24(const imaging::Image& image);

// The largest difference of any channel between two pixels.
int ChannelDistance(imaging::Pixel a, imaging::Pixel b);

}  // namespace nimbrel::codecs::testing

namespace nimbrel::codecs::testing {

// An HEIC (`avif` false) or AVIF of the picture through libheif's encoders, optionally with an
// ICC profile and a container orientation (1..8, written as rotation and mirroring boxes and as
// EXIF, as phones do).
Bytes MakeHeif(const imaging::Image& image, bool avif, const Bytes& iccProfile = {}, int orientation = 1);
// A JPEG of the picture (alpha dropped) through libjpeg's encoder, in colour with chroma kept
// every `chromaStep` pixels across and down (2: 4:2:0, 1: 4:4:4) or in grey; sequential, or
// progressive in libjpeg's usual ten scans, or with `manyScans` one scan a coefficient, component
// and bit, 568 in all (a valid file that takes a decoder that many passes).
struct JpegMaking {
    int quality = 75;
    bool gray = false;
    int chromaStep = 2;
    bool progressive = false;
    bool manyScans = false;
};
Bytes MakeJpeg(const imaging::Image& image, const JpegMaking& making);
inline Bytes MakeProgressiveJpeg(const imaging::Image& image, bool manyScans) {
    return MakeJpeg(image, {.progressive = true, .manyScans = manyScans});
}
// A lossless WebP of the picture (alpha kept).
Bytes MakeWebpLossless(const imaging::Image& image);
// A 16-bit RGB TIFF of the picture with an Orientation tag.
Bytes MakeTiff16(const imaging::Image& image, int orientation = 1);

// A coded picture taken out of a single-picture HEIC or AVIF (its primary item): its type
// ("hvc1" or "av01"), its property boxes as they stand with their essential flags, its bytes.
struct HeifTile {
    std::uint32_t type = 0;
    std::vector<std::pair<Bytes, bool>> properties;
    Bytes data;
};
HeifTile TakeHeifTile(const Bytes& heif);

// A grid picture as cameras write them: rows x columns cells, cell i showing tiles[cells[i]]
// (all tiles of one size), cropped to width x height.
struct HeifGridLayout {
    int rows = 1, columns = 1;
    std::vector<int> cells;
    std::uint32_t width = 0, height = 0;
    bool avif = false;
    int rotation = -1;         // irot's quarter turns anticlockwise, -1 for none
    int mirror = -1;           // imir's axis, -1 for none
    bool mirrorFirst = false;  // imir listed before irot
    Bytes gridColr;            // a colr box for the grid item itself, or none
    bool descriptorInIdat = false;
};
Bytes MakeHeifGrid(const std::vector<HeifTile>& tiles, const HeifGridLayout& layout);

// Decompression bombs: for every format the codecs read, a small file (named with the format's
// extension) whose header claims 100,000 x 100,000 pixels, or the most its format can say where
// that is less (JPEG, GIF, PCX 65,535 a side; a lossless WebP 16,384 a side, a quarter of a
// gigapixel that libwebp would decode whole).
std::vector<std::pair<std::string, Bytes>> DecompressionBombs();

}  // namespace nimbrel::codecs::testing
