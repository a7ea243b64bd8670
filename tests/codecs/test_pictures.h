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
// A lossless WebP of the picture (alpha kept).
Bytes MakeWebpLossless(const imaging::Image& image);
// A 16-bit RGB TIFF of the picture with an Orientation tag.
Bytes MakeTiff16(const imaging::Image& image, int orientation = 1);

// Decompression bombs: for every format the codecs read, a small file (named with the format's
// extension) whose header claims 100,000 x 100,000 pixels, or the most its format can say where
// that is less (JPEG, GIF, PCX 65,535 a side; a lossless WebP 16,384 a side, a quarter of a
// gigapixel that libwebp would decode whole).
std::vector<std::pair<std::string, Bytes>> DecompressionBombs();

}  // namespace nimbrel::codecs::testing
