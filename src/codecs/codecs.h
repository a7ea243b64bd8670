#pragma once
// Picture codecs of the core built on well-kept libraries: one decoder that picks by content
// among JPEG (libjpeg-turbo), PNG (libpng), GIF (giflib), BMP/DIB, PCX, WBMP, Targa, HEIF/AVIF
// (libheif), WebP (libwebp) and TIFF (libtiff), the encoders that write converted pictures, and
// colour conversion to sRGB (LittleCMS).

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/image.h"
#include "imaging/picture_decoder.h"

namespace nimbrel::codecs {

// The one decoder for every format above. A DecodeHint is taken as the upright size the picture
// will be shown at, at most: JPEG and WebP then decode at a reduced scale that is still at least
// as large as the picture fitted into that box. HEIF and AVIF pictures decoded whole come out
// upright already (the container's rotation is applied) with Info().orientation 1; a grid
// picture too large for that is read a tile row at a time as stored, its rotation and mirroring
// given as the equivalent Info().orientation for the caller to apply, as for a JPEG.
std::unique_ptr<imaging::PictureDecoder> MakeLibraryDecoder();

// The format of a file's bytes as PictureInfo::format names it ("jpeg", "png", "gif", "bmp",
// "pcx", "wbmp", "tga", "heif", "avif", "webp", "tiff"), empty when none of these. `name` only breaks
// ties for formats without a signature (WBMP, a DIB without its file header).
std::string DetectFormat(std::string_view name, std::span<const std::uint8_t> bytes);

// The size a storedWidth x storedHeight picture with an EXIF orientation (1..8) takes when
// shrunk (never enlarged) to fit the upright box of `hint`, keeping its aspect, in stored
// orientation; the stored size when the hint is 0 x 0 or the picture fits already.
void FittedStoredSize(int storedWidth, int storedHeight, int orientation, imaging::DecodeHint hint,
                      int& width, int& height);

// True for the formats the players decode themselves, which the build packs unchanged.
bool PlayersDecode(std::string_view format);

// JPEG at `quality` (1..100), 4:2:0, of an opaque picture (alpha is ignored). Raises nimbrel::Error.
std::vector<std::uint8_t> EncodeJpeg(const imaging::Image& image, int quality = 92);

// The same JPEG written a row at a time from the top, so that a picture made row by row (as the
// scaler below makes it) is never held whole (over WIC, on Windows, the rows are gathered and
// encoded at the end). Raises nimbrel::Error.
class JpegRowEncoder {
public:
    // `room` is memory to write the file into (what it holds is dropped): a caller encoding one
    // picture after another hands back the previous file, so that its pages are used again.
    JpegRowEncoder(int width, int height, int quality = 92, std::vector<std::uint8_t> room = {});
    ~JpegRowEncoder();
    JpegRowEncoder(const JpegRowEncoder&) = delete;
    JpegRowEncoder& operator=(const JpegRowEncoder&) = delete;
    // The next row, `width` pixels of 0xAARRGGBB (alpha is ignored).
    void WriteRow(const imaging::Pixel* row);
    // The file, once every row is written.
    std::vector<std::uint8_t> Finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};
// PNG, RGBA when some pixel is less than opaque, RGB otherwise. Raises nimbrel::Error.
std::vector<std::uint8_t> EncodePng(const imaging::Image& image);

// Converts rows of 0xAARRGGBB pixels from a picture's ICC profile to sRGB in place.
class SrgbConverter {
public:
    // Inactive (Apply does nothing) when the profile is empty, damaged, not RGB, or sRGB itself.
    explicit SrgbConverter(std::span<const std::uint8_t> iccProfile);
    ~SrgbConverter();
    SrgbConverter(const SrgbConverter&) = delete;
    SrgbConverter& operator=(const SrgbConverter&) = delete;
    bool Active() const { return transform_ != nullptr; }
    void Apply(imaging::Pixel* pixels, std::size_t count) const;

private:
    void* transform_ = nullptr;
};

// An ICC profile for RGB primaries given as CIE xy chromaticities with the sRGB tone curve and a
// D65 white (Display P3 is {0.680, 0.320, 0.265, 0.690, 0.150, 0.060}).
std::vector<std::uint8_t> MakeRgbProfile(const double primaries[6]);

// Shrinks a picture that arrives row by row from the top by averaging the area each target pixel
// covers, in linear light (sRGB decoded, alpha-weighted), so that fine detail keeps its
// brightness. Only shrinks: the target is at most the source in each direction.
class LinearAreaScaler {
public:
    // Each target row as it is finished, in order from the top; `pixels` (targetWidth of them)
    // are valid during the call only.
    using RowSink = std::function<void(int row, const imaging::Pixel* pixels)>;
    // Raises nimbrel::Error for sizes below 1, a target larger than the source, or a target
    // beyond the image limits. With a sink, the rows go there and Take() gives nothing.
    LinearAreaScaler(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight, RowSink sink = {});
    // Source row `index` (in order from 0), sourceWidth pixels of 0xAARRGGBB, straight alpha.
    void PushRow(const imaging::Pixel* row);
    bool Done() const { return nextSource_ >= sourceHeight_; }
    // True while every row pushed so far was opaque (then so is every target pixel).
    bool AllOpaque() const { return allOpaque_; }
    // The target picture (without a sink), straight alpha; rows never reached stay transparent black.
    imaging::Image Take() { return std::move(result_); }

private:
    // Writes target row `targetRow` from its sums so far (null for none) and `across` weighed by `w`.
    void EmitRow(int targetRow, const float* sum, const float* across, float w);
    template <int Taps>
    void Across();  // the current row's taps when every column has Taps of them
    // Opaque rows in fixed point (see linear_scaler.cpp); LeaveFixed hands the sums gathered so
    // far to the general path when the first row that is not opaque arrives.
    void PushOpaqueRow(int sourceRow);
    void LeaveFixed();

    int sourceWidth_, sourceHeight_, targetWidth_, targetHeight_;
    int nextSource_ = 0;
    // The general path: linear light in floats, alpha-weighted.
    std::vector<int> columnStart_;      // first source column of each target column's taps
    std::vector<int> columnCount_;      // number of taps
    std::vector<float> columnWeights_;  // the taps' weights, flat
    int fixedTaps_ = 0;                 // 1..4 when every column has that many taps (padded)
    std::vector<float> linear_;         // the current source row in linear light, premultiplied RGBA
    std::vector<float> across_;         // the same scaled across
    std::vector<float> sums_[2];        // two target rows being gathered
    int sumRow_[2] = {-1, -1};
    bool sumOpaque_[2] = {true, true};  // every source row in the target row so far was opaque
    bool allOpaque_ = true;
    // The opaque path: 15-bit linear values, 14-bit weights, taps taken in pairs.
    // Where target row `row` is written, and its hand-over to the sink once written.
    imaging::Pixel* TargetRow(int row) { return sink_ ? sinkRow_.data() : result_.Row(row); }
    void Finished(int row) {
        if (sink_) sink_(row, sinkRow_.data());
    }
    bool fixed_ = false;                      // rows so far went the fixed-point way
    int pairs_ = 0;                           // pairs of taps of every target column
    std::vector<int> pairStart_;              // first source column of each target column's taps
    std::vector<std::int16_t> pairWeights_;   // each pair's two weights, four times over
    std::vector<std::uint16_t> linear16_;     // the current source row: blue, green, red, 0
    std::vector<std::uint16_t> across16_;     // the same scaled across
    std::vector<std::int32_t> sums32_[2];     // two target rows being gathered (weights 1 << 14)
    int sumWeight_[2] = {0, 0};               // their source rows' weights so far
    imaging::Image result_;
    RowSink sink_;
    std::vector<imaging::Pixel> sinkRow_;
};

}  // namespace nimbrel::codecs
