#pragma once
// The library decoder's pieces: one opener per format, each returning null for bytes it cannot
// read (never throwing for damaged input), and what they share.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "codecs/codecs.h"
#include "imaging/image.h"
#include "imaging/picture_decoder.h"

namespace nimbrel::codecs::detail {

using Bytes = std::span<const std::uint8_t>;
using SourcePtr = std::unique_ptr<imaging::PictureSource>;

// Pictures larger than this are refused even by the decoders that read in bands: decoding them
// would take minutes, and no photo comes near it (a decompression bomb claims far more).
inline constexpr int kMaxStoredSide = 65535;
inline constexpr std::int64_t kMaxStoredPixels = std::int64_t{400} * 1000 * 1000;
// Both record a refusal (see Refuse) when the size is not allowed.
bool StoredSizeAllowed(std::int64_t width, std::int64_t height);
// The same for a picture that must be held whole in memory (imaging's image limits).
bool WholeSizeAllowed(std::int64_t width, std::int64_t height);
// "too large (70000 x 70000 pixels)".
std::string TooLarge(std::int64_t width, std::int64_t height);

// An opener that returns null may first say why ("damaged", "too large (...)"); the library
// decoder hands the reason of its last Open to its caller. One per thread, as decoders are.
void Refuse(const std::string& why);

SourcePtr OpenJpeg(Bytes bytes, imaging::DecodeHint hint);
SourcePtr OpenPng(Bytes bytes);
SourcePtr OpenGif(Bytes bytes);
SourcePtr OpenBmp(Bytes bytes, bool bareDib);
SourcePtr OpenPcx(Bytes bytes);
SourcePtr OpenWbmp(Bytes bytes);
SourcePtr OpenTga(Bytes bytes);
SourcePtr OpenHeif(Bytes bytes, const std::string& format);
// A grid picture decoded a tile row at a time whatever its size (OpenHeif does so only beyond
// the whole-picture limits); null when the picture is no grid that can be read so.
SourcePtr OpenHeifGridInBands(Bytes bytes, const std::string& format);
SourcePtr OpenWebp(Bytes bytes, imaging::DecodeHint hint);
SourcePtr OpenTiff(Bytes bytes);

using codecs::FittedStoredSize;

// A picture decoded whole, handed out row by row.
class ImageSource : public imaging::PictureSource {
public:
    ImageSource(imaging::Image image, imaging::PictureInfo info, std::vector<std::uint8_t> profile = {})
        : image_(std::move(image)), info_(std::move(info)), profile_(std::move(profile)) {}
    const imaging::PictureInfo& Info() const override { return info_; }
    bool ReadRows(int first, int count, imaging::Pixel* into) override;
    std::vector<std::uint8_t> ColorProfile() const override { return profile_; }

private:
    imaging::Image image_;
    imaging::PictureInfo info_;
    std::vector<std::uint8_t> profile_;
};

// Straight alpha from premultiplied, in place.
void Unpremultiply(imaging::Pixel* pixels, std::size_t count);

}  // namespace nimbrel::codecs::detail
