// The moving families: slides, pushes and uncovers move whole pictures; zooms and stretches scale
// one picture into a growing or shrinking rectangle.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/transition_effects.h"

namespace nimbrel::imaging::detail {

namespace {

// Where a move's pictures lie at t: the incoming one moved by (inX, inY), the outgoing one by
// (outX, outY).
struct Moves {
    int inX, inY, outX, outY;
};

Moves MovesAt(const Effect& e, int w, int h, double t) {
    const int dir = e.a;
    const int sx = (dir == kLeft || dir == kTopLeft || dir == kBottomLeft)      ? 1
                   : (dir == kRight || dir == kTopRight || dir == kBottomRight) ? -1
                                                                                : 0;
    const int sy = (dir == kTop || dir == kTopLeft || dir == kTopRight)            ? 1
                   : (dir == kBottom || dir == kBottomLeft || dir == kBottomRight) ? -1
                                                                                   : 0;
    const int mx = static_cast<int>(std::lround(t * w)), my = static_cast<int>(std::lround(t * h));
    return {sx * (mx - w), sy * (my - h), sx * mx, sy * my};
}

// The rows of out [y0, y1) that a picture moved down by dy covers, as rows of the picture.
RowRange MovedRows(int dy, int h, int y0, int y1) {
    return {std::max({0, dy, y0}) - dy, std::min({h, h + dy, y1}) - dy};
}

// Draws rows [y0, y1) of `image` moved by (dx, dy) onto `out`; the uncovered parts of `out` stay
// as they are.
template <class Rows>
void DrawMoved(const Rows& image, int dx, int dy, const FrameRows& out, int y0, int y1) {
    const int w = image.Width(), h = image.Height();
    const int x0 = std::max(0, dx), x1 = std::min(w, w + dx);
    if (x0 >= x1) return;
    for (int y = std::max({0, dy, y0}); y < std::min({h, h + dy, y1}); ++y)
        std::memcpy(out.Row(y) + x0, image.Row(y - dy) + (x0 - dx),
                    static_cast<std::size_t>(x1 - x0) * sizeof(Pixel));
}

template <class Rows>
void CopyRows(const Rows& image, const FrameRows& out, int y0, int y1) {
    if (y1 > y0)
        std::memcpy(out.Row(y0), image.Row(y0), static_cast<std::size_t>(image.Width()) * (y1 - y0) * sizeof(Pixel));
}

// A zoom's or stretch's rectangle at t: the layer scaled to rw x rh at (rx, ry) over the base.
struct Scaled {
    bool shrinking;
    int rw, rh, rx, ry;
};

Scaled ScaledAt(const Effect& e, int w, int h, double t) {
    const bool shrinking = e.family == F::Zoom && e.b == 1;
    const double q = shrinking ? 1 - t : t;
    const bool scaleX = e.family == F::Zoom || e.b == 0;
    const bool scaleY = e.family == F::Zoom || e.b == 1;
    const int rw = scaleX ? static_cast<int>(std::lround(q * w)) : w;
    const int rh = scaleY ? static_cast<int>(std::lround(q * h)) : h;
    const int rx = static_cast<int>(std::lround(kAnchors[e.a][0] / 2.0 * (w - rw)));
    const int ry = static_cast<int>(std::lround(kAnchors[e.a][1] / 2.0 * (h - rh)));
    return {shrinking, rw, rh, rx, ry};
}

}  // namespace

template <class Rows>
void RenderMove(const Effect& e, const Rows& from, const Rows& to, double t, const FrameRows& out, int y0, int y1) {
    const Moves m = MovesAt(e, from.Width(), from.Height(), t);
    switch (e.family) {
        case F::Slide:
            CopyRows(from, out, y0, y1);
            DrawMoved(to, m.inX, m.inY, out, y0, y1);
            break;
        case F::Uncover:
            CopyRows(to, out, y0, y1);
            DrawMoved(from, m.outX, m.outY, out, y0, y1);
            break;
        default:  // push: the two pictures side by side cover the whole screen
            DrawMoved(from, m.outX, m.outY, out, y0, y1);
            DrawMoved(to, m.inX, m.inY, out, y0, y1);
            break;
    }
}

// Zooms and stretches: one picture scaled into a growing (or shrinking) rectangle.
template <class Rows>
void RenderScaled(const Effect& e, const Rows& from, const Rows& to, double t, const FrameRows& out, int y0, int y1) {
    const int w = from.Width(), h = from.Height();
    const Scaled s = ScaledAt(e, w, h, t);
    const Rows& base = s.shrinking ? to : from;
    const Rows& layer = s.shrinking ? from : to;
    CopyRows(base, out, y0, y1);
    if (s.rw <= 0 || s.rh <= 0) return;
    const int first = std::max(0, y0 - s.ry), last = std::min(s.rh, y1 - s.ry);
    if (first >= last) return;
    // The columns each row takes, worked out once a call, for the rows that are drawn.
    thread_local std::vector<int> xs;
    xs.resize(static_cast<std::size_t>(s.rw));
    if (s.rw != w)
        for (int x = 0; x < s.rw; ++x)
            xs[static_cast<std::size_t>(x)] = static_cast<int>(static_cast<std::int64_t>(x) * w / s.rw);
    for (int y = first; y < last; ++y) {
        const Pixel* src = layer.Row(static_cast<int>(static_cast<std::int64_t>(y) * h / s.rh));
        Pixel* dst = out.Row(s.ry + y) + s.rx;
        if (s.rw == w) {
            std::memcpy(dst, src, static_cast<std::size_t>(w) * sizeof(Pixel));
        } else {
            for (int x = 0; x < s.rw; ++x) dst[x] = src[xs[static_cast<std::size_t>(x)]];
        }
    }
}

void MoveRowsRead(const Effect& e, double t, int w, int h, int y0, int y1, RowRange& from, RowRange& to) {
    const Moves m = MovesAt(e, w, h, t);
    from = e.family == F::Uncover || e.family == F::Push ? MovedRows(m.outY, h, y0, y1) : RowRange{y0, y1};
    to = e.family == F::Slide || e.family == F::Push ? MovedRows(m.inY, h, y0, y1) : RowRange{y0, y1};
}

void ScaledRowsRead(const Effect& e, double t, int w, int h, int y0, int y1, RowRange& from, RowRange& to) {
    const Scaled s = ScaledAt(e, w, h, t);
    RowRange& base = s.shrinking ? to : from;
    RowRange& layer = s.shrinking ? from : to;
    base = {y0, y1};
    layer = {};
    const int first = std::max(0, y0 - s.ry), last = std::min(s.rh, y1 - s.ry);
    if (s.rw > 0 && s.rh > 0 && first < last)
        layer = {static_cast<int>(static_cast<std::int64_t>(first) * h / s.rh),
                 static_cast<int>(static_cast<std::int64_t>(last - 1) * h / s.rh) + 1};
}

template void RenderMove(const Effect&, const Image&, const Image&, double, const FrameRows&, int, int);
template void RenderMove(const Effect&, const PictureBand&, const PictureBand&, double, const FrameRows&, int, int);
template void RenderScaled(const Effect&, const Image&, const Image&, double, const FrameRows&, int, int);
template void RenderScaled(const Effect&, const PictureBand&, const PictureBand&, double, const FrameRows&, int, int);

}  // namespace nimbrel::imaging::detail
