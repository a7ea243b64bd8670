#pragma once
// A plain 32-bit pixel buffer: each pixel is one uint32_t 0xAARRGGBB, which lies in memory as the
// bytes B, G, R, A (the layout of a 32-bit top-down DIB). Alpha is 255 for opaque pixels; colours
// are not premultiplied.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace nimbrel::imaging {

using Pixel = std::uint32_t;

// Largest side and largest pixel count of any picture we hold (larger sizes raise nimbrel::Error).
inline constexpr int kMaxImageSide = 32768;
inline constexpr std::int64_t kMaxImagePixels = std::int64_t{64} * 1024 * 1024;

inline constexpr Pixel MakePixel(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255) {
    return (Pixel{a} << 24) | (Pixel{r} << 16) | (Pixel{g} << 8) | Pixel{b};
}
inline constexpr std::uint8_t RedOf(Pixel p) {
    return static_cast<std::uint8_t>(p >> 16);
}
inline constexpr std::uint8_t GreenOf(Pixel p) {
    return static_cast<std::uint8_t>(p >> 8);
}
inline constexpr std::uint8_t BlueOf(Pixel p) {
    return static_cast<std::uint8_t>(p);
}
inline constexpr std::uint8_t AlphaOf(Pixel p) {
    return static_cast<std::uint8_t>(p >> 24);
}

inline constexpr Pixel kOpaqueBlack = MakePixel(0, 0, 0);
inline constexpr Pixel kOpaqueWhite = MakePixel(255, 255, 255);

// Blends two pixels channel by channel (alpha too): a * (256 - w) / 256 + b * w / 256, w in 0..256;
// w = 0 gives exactly a and w = 256 exactly b.
inline constexpr Pixel BlendPixels(Pixel a, Pixel b, std::uint32_t w) {
    std::uint32_t iw = 256 - w;
    std::uint32_t rb = ((a & 0x00FF00FFu) * iw + (b & 0x00FF00FFu) * w) >> 8;
    std::uint32_t ga = (((a >> 8) & 0x00FF00FFu) * iw + ((b >> 8) & 0x00FF00FFu) * w) >> 8;
    return (rb & 0x00FF00FFu) | ((ga & 0x00FF00FFu) << 8);
}

// BlendPixels over `count` pixels: out[i] = BlendPixels(a[i], b[i], w), with the same result on
// every system (four or eight pixels at a time where the processor can). `out` may be `a` or `b`.
// `stream`: `out` goes to memory past the cache (a large frame's rows that nothing reads soon).
void BlendRow(const Pixel* a, const Pixel* b, std::uint32_t w, Pixel* out, int count, bool stream = false);
// The same with one pixel `b` for every pixel of `a`.
void BlendRowWith(const Pixel* a, Pixel b, std::uint32_t w, Pixel* out, int count, bool stream = false);

// Copies `count` pixels to memory past the cache where the processor can (for a large frame that
// nothing reads again soon): the pixels are those of std::copy.
void StreamPixels(const Pixel* from, Pixel* to, std::size_t count);

// True when a width x height picture is within kMaxImageSide and kMaxImagePixels (and not negative).
bool ImageSizeAllowed(std::int64_t width, std::int64_t height);

class Image {
public:
    Image() = default;
    // A width x height picture filled with `fill`; raises nimbrel::Error beyond the size limits.
    Image(int width, int height, Pixel fill = kOpaqueBlack);

    int Width() const { return width_; }
    int Height() const { return height_; }
    // Bytes from one row to the next (rows are packed: Width() * 4).
    int Stride() const { return width_ * 4; }
    bool Empty() const { return width_ == 0 || height_ == 0; }

    Pixel* Row(int y) { return pixels_.data() + static_cast<std::size_t>(y) * width_; }
    const Pixel* Row(int y) const { return pixels_.data() + static_cast<std::size_t>(y) * width_; }
    Pixel* Data() { return pixels_.data(); }
    const Pixel* Data() const { return pixels_.data(); }

    // Unchecked access: x and y must lie inside the picture.
    Pixel At(int x, int y) const { return Row(y)[x]; }
    void Set(int x, int y, Pixel p) { Row(y)[x] = p; }

    void Fill(Pixel p);
    // Changes the size; the content is then undefined unless `fill` is given by Fill.
    void Resize(int width, int height);

    bool operator==(const Image& other) const = default;

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<Pixel> pixels_;
};

// Scales to width x height taking the nearest source pixel (an empty result for 0 sizes).
Image ScaleNearest(const Image& source, int width, int height);
// Scales to width x height by bilinear interpolation of all four channels (pixel centres aligned).
Image ScaleBilinear(const Image& source, int width, int height);

}  // namespace nimbrel::imaging
