#pragma once
// One screen's worth of a slideshow picture: the picture turned upright, placed and scaled on
// every monitor over the background colour. The decoders hand their rows over from the top, a
// band at a time, so a photo of any size is never held whole.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "imaging/image.h"
#include "imaging/layout.h"
#include "imaging/picture_decoder.h"

namespace nimbrel::show {

// A composed screen: top-down rows of 0x00RRGGBB (the alpha byte is cleared, so the pixels go
// straight into a 32-bit DIB).
using Frame = imaging::Image;

struct FrameSettings {
    int width = 0;  // the whole area: every monitor, or the preview window
    int height = 0;
    std::vector<imaging::Rect> monitors;  // in frame coordinates
    imaging::LayoutOptions layout;        // Center, AutoSize, Stretch, KeepAspect
    imaging::Pixel background = imaging::kOpaqueBlack;
};

// A composed picture: the frame and the rectangles the picture covers on it, one for each monitor
// it shows on (clipped to the monitor).
struct Composed {
    Frame frame;
    std::vector<imaging::Rect> areas;
};

// Where a width x height picture, turned upright by its EXIF `orientation`, covers the frame.
std::vector<imaging::Rect> PlacedAreas(int width, int height, int orientation, const FrameSettings& settings);

// A frame of the background alone.
std::unique_ptr<Frame> BlankFrame(const FrameSettings& settings);

// Fills `count` rows from row `first` of the stored picture, as 0xAARRGGBB (straight alpha);
// false when the decoder fails.
using RowReader = std::function<bool(int first, int count, imaging::Pixel* into)>;

// Draws a width x height picture whose rows `read` gives, upright by its EXIF `orientation`
// (1 to 8; other values leave it as stored), on every monitor of a new frame. Only the rows
// and columns that show are read and scaled. Null when `read` fails; nimbrel::Error for a
// picture without pixels.
std::unique_ptr<Frame> ComposeRows(int width, int height, int orientation, const RowReader& read,
                                   const FrameSettings& settings);

// The same where the rows come smaller than the picture (a decoder that scaled down on its own):
// the picture is placed by its own width x height and scaled from rowWidth x rowHeight rows.
std::unique_ptr<Frame> ComposeScaledRows(int width, int height, int rowWidth, int rowHeight, int orientation,
                                         const RowReader& read, const FrameSettings& settings);

// The same for a picture in memory (the PCX and WBMP decoders' output).
std::unique_ptr<Frame> ComposeImage(const imaging::Image& picture, const FrameSettings& settings);

// The same for an opened picture of any decoder.
std::unique_ptr<Frame> ComposePicture(imaging::PictureSource& source, const FrameSettings& settings);

}  // namespace nimbrel::show
