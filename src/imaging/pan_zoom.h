#pragma once
// Pan and zoom: a placed picture grows slowly larger (or smaller) while its view drifts toward a
// point of interest, for its whole time on screen. The view is always a part of the rectangle the
// still picture covers, magnified to fill that rectangle, so the moving picture never uncovers
// background that the still one covered. The pixels are sampled between pixels (bilinear), so
// the motion is smooth at any speed rather than stepping by whole pixels.

#include <cstdint>

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

// Draws the view of the part `area` of `still` into the same part of `out` (same size as
// `still`); the rest of `out` is left as it is. Samples never come from outside `area`. Only the
// area's rows fromRow to toRow - 1 are drawn, so that threads can share a large area.
void DrawPanZoom(const Image& still, const Rect& area, const PanZoomView& view, Image& out, int fromRow = 0,
                 int toRow = 1 << 30);

}  // namespace nimbrel::imaging
