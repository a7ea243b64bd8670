#pragma once
// Pan and zoom: a placed picture grows slowly larger (or smaller) while its view drifts toward a
// point of interest, for its whole time on screen. The view is always a part of the rectangle the
// still picture covers, magnified to fill that rectangle, so the moving picture never uncovers
// background that the still one covered. The pixels are sampled between pixels (bilinear), so
// the motion is smooth at any speed rather than stepping by whole pixels.

#include <cstdint>
#include <vector>

#include "imaging/image.h"
#include "imaging/layout.h"

namespace nimbrel::imaging {

// The part of a width x height rectangle that fills it at one moment: `zoom` >= 1, and the
// view's top-left corner in the rectangle's pixels (the view is width / zoom x height / zoom).
struct PanZoomView {
    double zoom = 1;
    double left = 0;
    double top = 0;
};

// One picture's motion: the zoom runs from `zoomFrom` to `zoomTo` (one of them 1) and the view's
// centre from the rectangle's centre toward the point of interest as the zoom grows.
struct PanZoomPath {
    double zoomFrom = 1;
    double zoomTo = 1;
    double focusX = 0.5;  // the point of interest, as fractions of the rectangle
    double focusY = 0.5;

    // The view at `progress` (0 to 1, clamped) of the picture's time on screen.
    PanZoomView At(double progress, int width, int height) const;
};

// The zoom a path reaches at most: 10 to 20 percent.
inline constexpr double kMinPanZoom = 1.10;
inline constexpr double kMaxPanZoom = 1.20;

// A path from a seed: the same seed gives the same path on every system.
PanZoomPath ChoosePanZoom(std::uint64_t seed);

// The view of the part `area` of `still` drawn into the same part of frames of the same size as
// `still`; the rest of a frame is left as it is. Samples never come from outside `area`. Where
// each column samples is worked out once, so that the rows can be drawn in bands, by any number of
// threads at once. `still` must outlive the object.
class PanZoomDrawing {
public:
    PanZoomDrawing(const Image& still, const Rect& area, const PanZoomView& view);
    // Draws the frame's rows [fromRow, toRow) (in the frame's coordinates) that lie in the area.
    void DrawRows(Image& out, int fromRow, int toRow) const;
    // The same into a band of rows of the frame's width, packed, whose first is frame row
    // `bandFirst`. `stream`: the rows go to memory past the cache (for a frame larger than the
    // cache, whose rows nothing reads soon); the pixels are the same.
    void DrawRows(Pixel* band, int bandFirst, int fromRow, int toRow, bool stream = false) const;

    // A source position split into the pixel before it and the weight (0..256) of the one after.
    struct Tap {
        int index;
        std::uint32_t weight;
    };

private:
    static Tap MakeTap(double position, int size);

    const Image& still_;
    int x0_ = 0, y0_ = 0, width_ = 0, height_ = 0;  // the area clipped to the picture
    bool empty_ = true;
    PanZoomView view_;
    double step_ = 1;
    std::vector<Tap> columns_;
    std::vector<std::int16_t> weights_;  // each column's two weights, four times each
    int first_ = 0, last_ = 0;           // the columns of the area the view takes
};

// Draws the whole area's view at once (see PanZoomDrawing). Only the area's rows fromRow to
// toRow - 1 (counted from the area's top) are drawn.
void DrawPanZoom(const Image& still, const Rect& area, const PanZoomView& view, Image& out, int fromRow = 0,
                 int toRow = 1 << 30);

}  // namespace nimbrel::imaging
