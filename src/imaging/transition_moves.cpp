// The moving families: slides, pushes and uncovers move whole pictures; zooms and stretches scale
// one picture into a growing or shrinking rectangle.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/transition_effects.h"

namespace nimbrel::imaging::detail {

namespace {

// Draws `image` moved by (dx, dy) onto `out`; the uncovered parts of `out` stay as they are.
void DrawMoved(const Image& image, int dx, int dy, Image& out) {
    const int w = out.Width(), h = out.Height();
    const int x0 = std::max(0, dx), x1 = std::min(w, w + dx);
    if (x0 >= x1) return;
    for (int y = std::max(0, dy); y < std::min(h, h + dy); ++y)
        std::memcpy(out.Row(y) + x0, image.Row(y - dy) + (x0 - dx),
                    static_cast<std::size_t>(x1 - x0) * sizeof(Pixel));
}

}  // namespace

void RenderMove(const Effect& e, const Image& from, const Image& to, double t, Image& out) {
    const int w = from.Width(), h = from.Height();
    const int dir = e.a;
    const int sx = (dir == kLeft || dir == kTopLeft || dir == kBottomLeft)      ? 1
                   : (dir == kRight || dir == kTopRight || dir == kBottomRight) ? -1
                                                                                : 0;
    const int sy = (dir == kTop || dir == kTopLeft || dir == kTopRight)            ? 1
                   : (dir == kBottom || dir == kBottomLeft || dir == kBottomRight) ? -1
                                                                                   : 0;
    const int mx = static_cast<int>(std::lround(t * w)), my = static_cast<int>(std::lround(t * h));
    const int inX = sx * (mx - w), inY = sy * (my - h);  // where the incoming picture lies
    const int outX = sx * mx, outY = sy * my;            // where the outgoing one lies
    switch (e.family) {
        case F::Slide:
            std::memcpy(out.Data(), from.Data(), static_cast<std::size_t>(w) * h * sizeof(Pixel));
            DrawMoved(to, inX, inY, out);
            break;
        case F::Uncover:
            std::memcpy(out.Data(), to.Data(), static_cast<std::size_t>(w) * h * sizeof(Pixel));
            DrawMoved(from, outX, outY, out);
            break;
        default:  // push: the two pictures side by side cover the whole screen
            DrawMoved(from, outX, outY, out);
            DrawMoved(to, inX, inY, out);
            break;
    }
}

// Zooms and stretches: one picture scaled into a growing (or shrinking) rectangle.
void RenderScaled(const Effect& e, const Image& from, const Image& to, double t, Image& out) {
    const int w = from.Width(), h = from.Height();
    const bool shrinking = e.family == F::Zoom && e.b == 1;
    const double q = shrinking ? 1 - t : t;
    const bool scaleX = e.family == F::Zoom || e.b == 0;
    const bool scaleY = e.family == F::Zoom || e.b == 1;
    const int rw = scaleX ? static_cast<int>(std::lround(q * w)) : w;
    const int rh = scaleY ? static_cast<int>(std::lround(q * h)) : h;
    const int rx = static_cast<int>(std::lround(kAnchors[e.a][0] / 2.0 * (w - rw)));
    const int ry = static_cast<int>(std::lround(kAnchors[e.a][1] / 2.0 * (h - rh)));
    const Image& base = shrinking ? to : from;
    const Image& layer = shrinking ? from : to;
    std::memcpy(out.Data(), base.Data(), static_cast<std::size_t>(w) * h * sizeof(Pixel));
    if (rw <= 0 || rh <= 0) return;
    std::vector<int> xs(static_cast<std::size_t>(rw));
    for (int x = 0; x < rw; ++x) xs[x] = static_cast<int>(static_cast<std::int64_t>(x) * w / rw);
    for (int y = 0; y < rh; ++y) {
        const Pixel* src = layer.Row(static_cast<int>(static_cast<std::int64_t>(y) * h / rh));
        Pixel* dst = out.Row(ry + y) + rx;
        if (rw == w) {
            std::memcpy(dst, src, static_cast<std::size_t>(w) * sizeof(Pixel));
        } else {
            for (int x = 0; x < rw; ++x) dst[x] = src[xs[x]];
        }
    }
}

}  // namespace nimbrel::imaging::detail
