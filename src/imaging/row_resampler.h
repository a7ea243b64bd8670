#pragma once
// Scales a picture that arrives row by row, from top to bottom, without ever holding it whole:
// the slideshow player feeds it the rows of a large photo as the decoder gives them and keeps
// only the screen-sized result. Shrinking averages the area each target pixel covers; enlarging
// interpolates linearly between pixel centres. Transparent pixels are weighted by their alpha
// and the result is laid over an opaque background colour.

#include <cstdint>
#include <vector>

#include "imaging/image.h"
#include "imaging/layout.h"

namespace nimbrel::imaging {

class RowResampler {
public:
    // Scales a sourceWidth x sourceHeight picture to targetWidth x targetHeight, of which only
    // `crop` (in target coordinates, clipped to the target) is produced. Raises nimbrel::Error
    // for sizes below 1 or beyond the image limits of the crop.
    RowResampler(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight, Rect crop,
                 Pixel background);

    // The range of source rows [first, last) that the crop needs; others may be left out.
    int FirstNeededRow() const { return firstNeeded_; }
    int LastNeededRow() const { return lastNeeded_; }
    // Source row `index`, `sourceWidth` pixels of 0xAARRGGBB (straight alpha). Rows come in
    // order from the top; rows outside the needed range may be left out and cost nothing.
    void PushRow(int index, const Pixel* row);
    // True when every row of the crop has been produced.
    bool Done() const { return nextOutput_ >= crop_.y + crop_.height; }
    // Writes the crop's rows into the caller's pixels instead of a picture of its own (crop row
    // j at rows + j * stride), each pixel ANDed with `mask` (0x00FFFFFF clears alpha, as frames
    // keep it). Call before the first row; the pixels must stay valid until Done, and Take is
    // then empty. Rows never produced are left as they were.
    void WriteInto(Pixel* rows, std::size_t stride, Pixel mask);
    // The crop's pixels, opaque. Rows not yet produced (the source ended early) are background.
    Image Take();

private:
    struct Taps {
        int first = 0;
        std::vector<float> weights;
        int Last() const { return first + static_cast<int>(weights.size()) - 1; }
    };
    static std::vector<Taps> ComputeTaps(int source, int target, int from, int to);
    void EmitRow(int targetRow);
    float* Sum(int targetRow);
    Pixel* OutputRow(int targetRow);

    int sourceWidth_;
    bool sameSize_ = false;  // nothing to scale: opaque rows are copied as they are
    Rect crop_;
    Pixel background_;
    std::vector<Taps> columns_;                   // one for each crop column
    std::vector<int> columnFirst_, columnCount_;  // the same, flat, for the inner loop
    std::vector<float> columnWeights_;
    std::vector<Taps> rows_;  // one for each crop row
    int firstNeeded_ = 0;
    int lastNeeded_ = 0;
    int inFlight_ = 1;           // the most target rows that gather source rows at one time
    std::vector<float> scaled_;  // the current source row scaled across, premultiplied RGBA
    std::vector<float> sums_;    // inFlight_ target rows being gathered, by row modulo inFlight_
    int nextOutput_ = 0;
    Image result_;           // made at the first row when there is no caller's output
    Pixel* into_ = nullptr;  // the caller's output, if given
    std::size_t intoStride_ = 0;
    Pixel mask_ = 0xFFFFFFFFu;
};

}  // namespace nimbrel::imaging
