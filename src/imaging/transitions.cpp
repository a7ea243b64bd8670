#include "imaging/transitions.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/error.h"

namespace nimbrel::imaging {

namespace {

using F = TransitionFamily;

// One catalogue entry: a family and up to three parameters whose meaning the family gives.
struct Effect {
    const char* name;
    F family;
    int a = 0, b = 0, c = 0;
};

// Directions of wipes, slides and the like: where the new picture comes from.
enum Dir { kLeft, kRight, kTop, kBottom, kTopLeft, kTopRight, kBottomLeft, kBottomRight };

// Box and zoom anchors in halves of the screen: 0 left/top, 1 centre, 2 right/bottom.
constexpr int kAnchors[][2] = {{1, 1}, {1, 1}, {0, 0}, {2, 0}, {0, 2},
                               {2, 2}, {1, 0}, {1, 2}, {0, 1}, {2, 1}};

// The stored indexes are the transition box's items: this order must never change.
const std::array<Effect, 128> kEffects = {{
    // Fades: a = 0 cross-fade, 1 through black, 2 through white.
    {"Fade", F::Fade, 0},
    {"Fade Through Black", F::Fade, 1},
    {"Fade Through White", F::Fade, 2},
    // Dissolves: a = block size in pixels.
    {"Dissolve", F::Dissolve, 1},
    {"Dissolve In 2-Pixel Blocks", F::Dissolve, 2},
    {"Dissolve In 4-Pixel Blocks", F::Dissolve, 4},
    {"Dissolve In 8-Pixel Blocks", F::Dissolve, 8},
    {"Dissolve In 16-Pixel Blocks", F::Dissolve, 16},
    {"Dissolve In 32-Pixel Blocks", F::Dissolve, 32},
    // Wipes, slides, pushes, uncovers: a = direction.
    {"Wipe From Left", F::Wipe, kLeft},
    {"Wipe From Right", F::Wipe, kRight},
    {"Wipe From Top", F::Wipe, kTop},
    {"Wipe From Bottom", F::Wipe, kBottom},
    {"Wipe From Top Left", F::Wipe, kTopLeft},
    {"Wipe From Top Right", F::Wipe, kTopRight},
    {"Wipe From Bottom Left", F::Wipe, kBottomLeft},
    {"Wipe From Bottom Right", F::Wipe, kBottomRight},
    {"Slide In From Left", F::Slide, kLeft},
    {"Slide In From Right", F::Slide, kRight},
    {"Slide In From Top", F::Slide, kTop},
    {"Slide In From Bottom", F::Slide, kBottom},
    {"Slide In From Top Left", F::Slide, kTopLeft},
    {"Slide In From Top Right", F::Slide, kTopRight},
    {"Slide In From Bottom Left", F::Slide, kBottomLeft},
    {"Slide In From Bottom Right", F::Slide, kBottomRight},
    {"Push From Left", F::Push, kLeft},
    {"Push From Right", F::Push, kRight},
    {"Push From Top", F::Push, kTop},
    {"Push From Bottom", F::Push, kBottom},
    {"Uncover To Right", F::Uncover, kLeft},
    {"Uncover To Left", F::Uncover, kRight},
    {"Uncover Downwards", F::Uncover, kTop},
    {"Uncover Upwards", F::Uncover, kBottom},
    {"Uncover To Bottom Right", F::Uncover, kTopLeft},
    {"Uncover To Bottom Left", F::Uncover, kTopRight},
    {"Uncover To Top Right", F::Uncover, kBottomLeft},
    {"Uncover To Top Left", F::Uncover, kBottomRight},
    // Blinds: a = slat count, b = 1 for vertical slats.
    {"Horizontal Blinds (4)", F::Blinds, 4, 0},
    {"Horizontal Blinds (8)", F::Blinds, 8, 0},
    {"Horizontal Blinds (16)", F::Blinds, 16, 0},
    {"Horizontal Blinds (32)", F::Blinds, 32, 0},
    {"Vertical Blinds (4)", F::Blinds, 4, 1},
    {"Vertical Blinds (8)", F::Blinds, 8, 1},
    {"Vertical Blinds (16)", F::Blinds, 16, 1},
    {"Vertical Blinds (32)", F::Blinds, 32, 1},
    {"Horizontal Venetian Blinds (8)", F::Venetian, 8, 0},
    {"Horizontal Venetian Blinds (16)", F::Venetian, 16, 0},
    {"Vertical Venetian Blinds (8)", F::Venetian, 8, 1},
    {"Vertical Venetian Blinds (16)", F::Venetian, 16, 1},
    // Boxes: a = anchor (kAnchors), b = 1 for a box closing in.
    {"Box Out", F::Box, 0, 0},
    {"Box In", F::Box, 1, 1},
    {"Box From Top Left", F::Box, 2, 0},
    {"Box From Top Right", F::Box, 3, 0},
    {"Box From Bottom Left", F::Box, 4, 0},
    {"Box From Bottom Right", F::Box, 5, 0},
    {"Box From Top", F::Box, 6, 0},
    {"Box From Bottom", F::Box, 7, 0},
    {"Box From Left", F::Box, 8, 0},
    {"Box From Right", F::Box, 9, 0},
    // Checkerboards: a = squares across the screen, b = 0 across, 1 down, 2 growing squares.
    {"Checkerboard Across (8)", F::Checkerboard, 8, 0},
    {"Checkerboard Across (16)", F::Checkerboard, 16, 0},
    {"Checkerboard Down (8)", F::Checkerboard, 8, 1},
    {"Checkerboard Down (16)", F::Checkerboard, 16, 1},
    {"Checkerboard Squares (8)", F::Checkerboard, 8, 2},
    {"Checkerboard Squares (16)", F::Checkerboard, 16, 2},
    // Shapes from the centre: a = 0 circle, 1 ellipse, 2 diamond, 3 cross; b = 1 closing in.
    {"Circle Out", F::Shape, 0, 0},
    {"Circle In", F::Shape, 0, 1},
    {"Ellipse Out", F::Shape, 1, 0},
    {"Ellipse In", F::Shape, 1, 1},
    {"Diamond Out", F::Shape, 2, 0},
    {"Diamond In", F::Shape, 2, 1},
    {"Cross Out", F::Shape, 3, 0},
    {"Cross In", F::Shape, 3, 1},
    // Clock wipes: a = start in quarter turns from 12 o'clock, b = 1 anticlockwise.
    {"Clock Wipe Clockwise From 12", F::Clock, 0, 0},
    {"Clock Wipe Clockwise From 3", F::Clock, 1, 0},
    {"Clock Wipe Clockwise From 6", F::Clock, 2, 0},
    {"Clock Wipe Clockwise From 9", F::Clock, 3, 0},
    {"Clock Wipe Anticlockwise From 12", F::Clock, 0, 1},
    {"Clock Wipe Anticlockwise From 3", F::Clock, 1, 1},
    {"Clock Wipe Anticlockwise From 6", F::Clock, 2, 1},
    {"Clock Wipe Anticlockwise From 9", F::Clock, 3, 1},
    // Fans open both ways from one direction: a = quarter turns from 12 o'clock.
    {"Fan From Top", F::Fan, 0},
    {"Fan From Right", F::Fan, 1},
    {"Fan From Bottom", F::Fan, 2},
    {"Fan From Left", F::Fan, 3},
    // Windmills: a = blades.
    {"Windmill (2 Blades)", F::Windmill, 2},
    {"Windmill (3 Blades)", F::Windmill, 3},
    {"Windmill (4 Blades)", F::Windmill, 4},
    {"Windmill (6 Blades)", F::Windmill, 6},
    {"Windmill (8 Blades)", F::Windmill, 8},
    // Squares appearing one by one: a x b squares, c = order.
    {"Spiral In", F::Squares, 8, 6, 0},
    {"Spiral Out", F::Squares, 8, 6, 1},
    {"Spiral In (Small Squares)", F::Squares, 16, 12, 0},
    {"Spiral Out (Small Squares)", F::Squares, 16, 12, 1},
    {"Snake Across", F::Squares, 9, 7, 2},
    {"Snake Down", F::Squares, 9, 7, 3},
    {"Squares Across", F::Squares, 16, 12, 4},
    {"Squares Down", F::Squares, 16, 12, 5},
    {"Squares Diagonally", F::Squares, 16, 12, 6},
    // Splits (barn doors): a = 0 a vertical opening, 1 a horizontal one; b = 1 closing in.
    {"Split Out Horizontally", F::Split, 0, 0},
    {"Split In Horizontally", F::Split, 0, 1},
    {"Split Out Vertically", F::Split, 1, 0},
    {"Split In Vertically", F::Split, 1, 1},
    // Combs: a = stripes, b = 1 vertical stripes; neighbours wipe from opposite sides.
    {"Horizontal Comb (8)", F::Comb, 8, 0},
    {"Horizontal Comb (16)", F::Comb, 16, 0},
    {"Horizontal Comb (32)", F::Comb, 32, 0},
    {"Vertical Comb (8)", F::Comb, 8, 1},
    {"Vertical Comb (16)", F::Comb, 16, 1},
    {"Vertical Comb (32)", F::Comb, 32, 1},
    // Zooms: a = anchor (kAnchors), b = 1 the old picture shrinks away.
    {"Zoom In", F::Zoom, 0, 0},
    {"Zoom Out", F::Zoom, 0, 1},
    {"Zoom In From Top Left", F::Zoom, 2, 0},
    {"Zoom In From Top Right", F::Zoom, 3, 0},
    {"Zoom In From Bottom Left", F::Zoom, 4, 0},
    {"Zoom In From Bottom Right", F::Zoom, 5, 0},
    // Stretches: a = anchor (kAnchors), b = 0 horizontally, 1 vertically.
    {"Stretch From Left", F::Stretch, 8, 0},
    {"Stretch From Right", F::Stretch, 9, 0},
    {"Stretch From Top", F::Stretch, 6, 1},
    {"Stretch From Bottom", F::Stretch, 7, 1},
    {"Stretch Out Horizontally", F::Stretch, 0, 0},
    {"Stretch Out Vertically", F::Stretch, 0, 1},
    // a = 0 lines across, 1 lines down.
    {"Random Horizontal Lines", F::RandomLines, 0},
    {"Random Vertical Lines", F::RandomLines, 1},
    {"Drips Down", F::Drips, 0},
    {"Drips Across", F::Drips, 1},
    // a = stripes.
    {"Diagonal Stripes (8)", F::DiagonalStripes, 8},
    {"Diagonal Stripes (16)", F::DiagonalStripes, 16},
    // a = circles across the screen.
    {"Grid Of Circles", F::Circles, 8},
}};

constexpr double kPi = 3.14159265358979323846;

// A run of pixels [x0, x1) of one row.
struct Span {
    int x0, x1;
};
using Spans = std::vector<Span>;

// Adds the pixels whose centres lie in [lo, hi), merged with the previous span when they touch.
void AddSpan(Spans& spans, double lo, double hi, int w) {
    int x0 = static_cast<int>(std::ceil(std::clamp(lo, -1.0, w + 1.0) - 0.5));
    int x1 = static_cast<int>(std::ceil(std::clamp(hi, -1.0, w + 1.0) - 0.5));
    x0 = std::max(x0, 0);
    x1 = std::min(x1, w);
    if (x0 >= x1) return;
    if (!spans.empty() && spans.back().x1 >= x0 && spans.back().x0 <= x0) {
        spans.back().x1 = std::max(spans.back().x1, x1);
        return;
    }
    spans.push_back({x0, x1});
}

void AddPixels(Spans& spans, int x0, int x1) {
    if (x0 >= x1) return;
    if (!spans.empty() && spans.back().x1 == x0) {
        spans.back().x1 = x1;
        return;
    }
    spans.push_back({x0, x1});
}

// a + (b - a) q, exactly b at q = 1, so that neighbouring pieces meet without gaps.
double Mix(double a, double b, double q) {
    return q >= 1 ? b : a + (b - a) * q;
}

// True when the pixel centre c lies in [lo, hi).
bool Within(double c, double lo, double hi) {
    return c >= lo && c < hi;
}

// A stable hash of a cell, uniform in [0, 1).
double Hash01(std::uint32_t x, std::uint32_t y, std::uint32_t seed) {
    std::uint32_t h = x * 0x8DA6B343u ^ y * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return (h >> 8) * (1.0 / 16777216.0);
}

// The part of row `y` inside the angular sector [a0, a1] (radians clockwise from 12 o'clock,
// at most half a turn wide) around the centre (cx, cy).
void AddSector(Spans& spans, double a0, double a1, int y, double cx, double cy, int w) {
    auto snap = [](double v) { return std::fabs(v) < 1e-12 ? 0.0 : v; };
    const double d0x = snap(std::sin(a0)), d0y = snap(-std::cos(a0));
    const double d1x = snap(std::sin(a1)), d1y = snap(-std::cos(a1));
    const double vy = y + 0.5 - cy;
    double lo = -1e30, hi = 1e30;
    // Each side of the sector is a half-plane A * vx + B >= 0.
    const double sides[2][2] = {{-d0y, d0x * vy}, {d1y, -vy * d1x}};
    for (const auto& s : sides) {
        const double a = s[0], b = s[1];
        if (std::fabs(a) < 1e-12) {
            if (b < 0) return;
        } else if (a > 0) {
            lo = std::max(lo, -b / a);
        } else {
            hi = std::min(hi, -b / a);
        }
    }
    if (lo < hi) AddSpan(spans, lo + cx, std::nextafter(hi + cx, 1e300), w);
}

// The cells of a cols x rows grid in the order a Squares effect reveals them.
std::vector<int> CellRanks(int cols, int rows, int order) {
    std::vector<int> rank(static_cast<std::size_t>(cols * rows));
    int n = 0;
    auto put = [&](int c, int r) { rank[static_cast<std::size_t>(r * cols + c)] = n++; };
    switch (order) {
        case 0:
        case 1: {  // clockwise from the top-left corner inwards; order 1 plays it backwards
            int left = 0, top = 0, right = cols - 1, bottom = rows - 1;
            while (left <= right && top <= bottom) {
                for (int c = left; c <= right; ++c) put(c, top);
                for (int r = top + 1; r <= bottom; ++r) put(right, r);
                if (top < bottom)
                    for (int c = right - 1; c >= left; --c) put(c, bottom);
                if (left < right)
                    for (int r = bottom - 1; r > top; --r) put(left, r);
                ++left, ++top, --right, --bottom;
            }
            if (order == 1)
                for (int& v : rank) v = cols * rows - 1 - v;
            break;
        }
        case 2:
            for (int r = 0; r < rows; ++r)
                for (int i = 0; i < cols; ++i) put(r % 2 ? cols - 1 - i : i, r);
            break;
        case 3:
            for (int c = 0; c < cols; ++c)
                for (int i = 0; i < rows; ++i) put(c, c % 2 ? rows - 1 - i : i);
            break;
        case 4:
            for (int r = 0; r < rows; ++r)
                for (int c = 0; c < cols; ++c) put(c, r);
            break;
        case 5:
            for (int c = 0; c < cols; ++c)
                for (int r = 0; r < rows; ++r) put(c, r);
            break;
        default:
            for (int d = 0; d < cols + rows - 1; ++d)
                for (int c = 0; c < cols; ++c)
                    if (d - c >= 0 && d - c < rows) put(c, d - c);
            break;
    }
    return rank;
}

// A mask effect for one frame: the spans of each row that show the "inside" picture.
struct MaskPlan {
    std::function<void(int y, Spans&)> rowSpans;
    bool inverted = false;      // inside shows `from` over `to` (effects that close in)
    bool rowInvariant = false;  // every row has the same spans
};

MaskPlan PlanMask(const Effect& e, int w, int h, double t) {
    MaskPlan plan;
    const double W = w, H = h;
    const bool closing = (e.family == F::Box || e.family == F::Shape || e.family == F::Split) && e.b == 1;
    const double p = closing ? 1.0 - t : t;
    plan.inverted = closing;
    switch (e.family) {
        case F::Dissolve: {
            const int block = e.a;
            plan.rowSpans = [=](int y, Spans& s) {
                const auto by = static_cast<std::uint32_t>(y / block);
                for (int x = 0; x < w; x += block)
                    if (Hash01(static_cast<std::uint32_t>(x / block), by, 1u + block) < p)
                        AddPixels(s, x, std::min(w, x + block));
            };
            break;
        }
        case F::Wipe: {
            const int dir = e.a;
            const bool mirrorX = dir == kRight || dir == kTopRight || dir == kBottomRight;
            const bool mirrorY = dir == kBottom || dir == kBottomLeft || dir == kBottomRight;
            plan.rowSpans = [=](int y, Spans& s) {
                const double cy = (mirrorY ? h - 1 - y : y) + 0.5;
                if (dir == kLeft || dir == kRight) {
                    AddSpan(s, 0, p * W, w);
                } else if (dir == kTop || dir == kBottom) {
                    if (cy < p * H) AddPixels(s, 0, w);
                } else {
                    AddSpan(s, 0, W * (2 * p - cy / H), w);
                }
                if (mirrorX)
                    for (Span& sp : s) sp = {w - sp.x1, w - sp.x0};
            };
            plan.rowInvariant = dir == kLeft || dir == kRight;
            break;
        }
        case F::Blinds:
        case F::Venetian: {
            const int n = e.a;
            const bool vertical = e.b == 1;
            const bool venetian = e.family == F::Venetian;
            const double size = (vertical ? W : H) / n;
            // The part [lo, hi) of slat k that shows the new picture.
            auto part = [=](int k, double& lo, double& hi) {
                const double start = k * size, end = (k + 1) * size;
                if (venetian) {
                    const double mid = (start + end) / 2;
                    lo = Mix(mid, start, p);
                    hi = Mix(mid, end, p);
                } else {
                    lo = start;
                    hi = Mix(start, end, p);
                }
            };
            if (vertical) {
                plan.rowInvariant = true;
                plan.rowSpans = [=](int, Spans& s) {
                    for (int k = 0; k < n; ++k) {
                        double lo, hi;
                        part(k, lo, hi);
                        AddSpan(s, lo, hi, w);
                    }
                };
            } else {
                plan.rowSpans = [=](int y, Spans& s) {
                    const double cy = y + 0.5;
                    const int k = std::min(n - 1, static_cast<int>(cy / size));
                    double lo, hi;
                    part(k, lo, hi);
                    if (Within(cy, lo, hi)) AddPixels(s, 0, w);
                };
            }
            break;
        }
        case F::Box: {
            const double ax = kAnchors[e.a][0] / 2.0, ay = kAnchors[e.a][1] / 2.0;
            const double x0 = ax * W * (1 - p), y0 = ay * H * (1 - p);
            const double x1 = p >= 1 ? W : x0 + p * W, y1 = p >= 1 ? H : y0 + p * H;
            plan.rowSpans = [=](int y, Spans& s) {
                if (p > 0 && Within(y + 0.5, y0, y1)) AddSpan(s, x0, x1, w);
            };
            break;
        }
        case F::Checkerboard: {
            const int cols = e.a, mode = e.b;
            const double cell = W / cols;
            plan.rowSpans = [=](int y, Spans& s) {
                const double cy = y + 0.5;
                const int r = static_cast<int>(cy / cell);
                for (int c = 0; c < cols; ++c) {
                    const double q = std::clamp(2 * p - ((r + c) & 1), 0.0, 1.0);
                    if (q <= 0) continue;
                    const double left = c * cell, right = (c + 1) * cell;
                    const double top = r * cell, bottom = (r + 1) * cell;
                    if (mode == 0) {
                        AddSpan(s, left, Mix(left, right, q), w);
                    } else if (mode == 1) {
                        if (cy < Mix(top, bottom, q)) AddSpan(s, left, right, w);
                    } else {
                        const double mx = (left + right) / 2, my = (top + bottom) / 2;
                        if (Within(cy, Mix(my, top, q), Mix(my, bottom, q)))
                            AddSpan(s, Mix(mx, left, q), Mix(mx, right, q), w);
                    }
                }
            };
            break;
        }
        case F::Shape: {
            const int shape = e.a;
            const double cx = W / 2, cyc = H / 2;
            plan.rowSpans = [=](int y, Spans& s) {
                if (p <= 0) return;
                const double dy = y + 0.5 - cyc;
                double half = -1;  // half-width of the row's span around the centre
                switch (shape) {
                    case 0: {
                        const double r = p * std::hypot(cx, cyc);
                        if (dy * dy < r * r) half = std::sqrt(r * r - dy * dy);
                        break;
                    }
                    case 1: {
                        const double k = 2 * p * p - (dy / cyc) * (dy / cyc);
                        if (k > 0) half = cx * std::sqrt(k);
                        break;
                    }
                    case 2: half = cx * (2 * p - std::fabs(dy) / cyc); break;
                    default:
                        if (Within(y + 0.5, Mix(cyc, 0, p), Mix(cyc, H, p))) {
                            AddPixels(s, 0, w);
                            return;
                        }
                        AddSpan(s, Mix(cx, 0, p), Mix(cx, W, p), w);
                        return;
                }
                if (half > 0) AddSpan(s, cx - half, cx + half, w);
            };
            break;
        }
        case F::Clock:
        case F::Fan:
        case F::Windmill: {
            const double cx = W / 2, cy = H / 2;
            const double turn = 2 * kPi * p;
            std::vector<std::pair<double, double>> sectors;  // each at most half a turn
            auto add = [&](double a0, double a1) {
                if (a1 - a0 <= kPi) {
                    sectors.emplace_back(a0, a1);
                } else {
                    sectors.emplace_back(a0, a0 + kPi);
                    sectors.emplace_back(a0 + kPi, a1);
                }
            };
            const double start = e.a * kPi / 2;
            if (p <= 0) {
            } else if (e.family == F::Clock) {
                if (e.b == 0) {
                    add(start, start + turn);
                } else {
                    add(start - turn, start);
                }
            } else if (e.family == F::Fan) {
                add(start - turn / 2, start);
                add(start, start + turn / 2);
            } else {
                for (int i = 0; i < e.a; ++i) add(i * 2 * kPi / e.a, i * 2 * kPi / e.a + turn / e.a);
            }
            const bool full = p >= 1;
            plan.rowSpans = [=](int y, Spans& s) {
                if (full) {
                    AddPixels(s, 0, w);
                    return;
                }
                for (const auto& [a0, a1] : sectors) AddSector(s, a0, a1, y, cx, cy, w);
                std::sort(s.begin(), s.end(), [](const Span& l, const Span& r) { return l.x0 < r.x0; });
            };
            break;
        }
        case F::Squares: {
            const int cols = e.a, rows = e.b;
            auto ranks = std::make_shared<std::vector<int>>(CellRanks(cols, rows, e.c));
            const int shown = static_cast<int>(std::floor(p * cols * rows));
            plan.rowSpans = [=](int y, Spans& s) {
                const int r = static_cast<int>(static_cast<std::int64_t>(y) * rows / h);
                for (int c = 0; c < cols; ++c)
                    if ((*ranks)[static_cast<std::size_t>(r * cols + c)] < shown)
                        AddPixels(s, static_cast<int>(static_cast<std::int64_t>(c) * w / cols),
                                  static_cast<int>(static_cast<std::int64_t>(c + 1) * w / cols));
            };
            break;
        }
        case F::Split: {
            const bool rowsBand = e.a == 1;
            plan.rowSpans = [=](int y, Spans& s) {
                if (rowsBand) {
                    if (p > 0 && Within(y + 0.5, Mix(H / 2, 0, p), Mix(H / 2, H, p))) AddPixels(s, 0, w);
                } else if (p > 0) {
                    AddSpan(s, Mix(W / 2, 0, p), Mix(W / 2, W, p), w);
                }
            };
            break;
        }
        case F::Comb: {
            const int n = e.a;
            const bool vertical = e.b == 1;
            plan.rowSpans = [=](int y, Spans& s) {
                const double cy = y + 0.5;
                if (!vertical) {
                    const int k = std::min(n - 1, static_cast<int>(cy * n / H));
                    if (k % 2 == 0) {
                        AddSpan(s, 0, p * W, w);
                    } else {
                        AddSpan(s, Mix(W, 0, p), W, w);
                    }
                    return;
                }
                for (int k = 0; k < n; ++k) {
                    const bool shown = k % 2 == 0 ? cy < p * H : cy >= Mix(H, 0, p);
                    if (shown) AddSpan(s, k * W / n, (k + 1) * W / n, w);
                }
            };
            break;
        }
        case F::RandomLines: {
            if (e.a == 0) {
                plan.rowSpans = [=](int y, Spans& s) {
                    if (Hash01(static_cast<std::uint32_t>(y), 7, 3) < p) AddPixels(s, 0, w);
                };
            } else {
                plan.rowInvariant = true;
                plan.rowSpans = [=](int, Spans& s) {
                    for (int x = 0; x < w; ++x)
                        if (Hash01(static_cast<std::uint32_t>(x), 11, 5) < p) AddPixels(s, x, x + 1);
                };
            }
            break;
        }
        case F::Drips: {
            constexpr int kWidth = 8;
            // Each drip starts after a random delay of up to half the time and then runs for half.
            auto progress = [=](int k) {
                const double delay = 0.5 * Hash01(static_cast<std::uint32_t>(k), 13, 9);
                return std::clamp((p - delay) / 0.5, 0.0, 1.0);
            };
            if (e.a == 0) {
                plan.rowSpans = [=](int y, Spans& s) {
                    for (int x = 0; x < w; x += kWidth)
                        if (y + 0.5 < progress(x / kWidth) * H) AddPixels(s, x, std::min(w, x + kWidth));
                };
            } else {
                plan.rowSpans = [=](int y, Spans& s) { AddSpan(s, 0, progress(y / kWidth) * W, w); };
            }
            break;
        }
        case F::DiagonalStripes: {
            const int n = e.a;
            // Stripes run along u = x / W + y / H in [0, 2); stripe k covers [2k/n, 2(k+1)/n).
            plan.rowSpans = [=](int y, Spans& s) {
                const double v = (y + 0.5) / H;
                for (int k = 0; k < n; ++k) {
                    const double lo = 2.0 * k / n, hi = Mix(lo, 2.0 * (k + 1) / n, p);
                    if (p > 0) AddSpan(s, (lo - v) * W, (hi - v) * W, w);
                }
            };
            break;
        }
        case F::Circles: {
            const int cols = e.a;
            const double cell = W / cols;
            const int rows = static_cast<int>(std::ceil(H / cell));
            const double radius = p * cell * std::sqrt(0.5);
            plan.rowSpans = [=](int y, Spans& s) {
                if (p <= 0) return;
                const double cy = y + 0.5;
                const int r0 = static_cast<int>(cy / cell);
                for (int r = std::max(0, r0 - 1); r <= std::min(rows - 1, r0 + 1); ++r) {
                    const double dy = cy - (r + 0.5) * cell;
                    if (dy * dy >= radius * radius) continue;
                    const double half = std::sqrt(radius * radius - dy * dy);
                    for (int c = 0; c < cols; ++c)
                        AddSpan(s, (c + 0.5) * cell - half, (c + 0.5) * cell + half, w);
                }
                std::sort(s.begin(), s.end(), [](const Span& l, const Span& r) { return l.x0 < r.x0; });
            };
            break;
        }
        default: break;
    }
    return plan;
}

void RenderMask(const Effect& e, const Image& from, const Image& to, double t, Image& out) {
    const int w = from.Width(), h = from.Height();
    MaskPlan plan = PlanMask(e, w, h, t);
    const Image& base = plan.inverted ? to : from;
    const Image& top = plan.inverted ? from : to;
    Spans spans;
    spans.reserve(64);
    const auto rowBytes = static_cast<std::size_t>(w) * sizeof(Pixel);
    for (int y = 0; y < h; ++y) {
        if (!plan.rowInvariant || y == 0) {
            spans.clear();
            plan.rowSpans(y, spans);
        }
        Pixel* dst = out.Row(y);
        if (spans.size() == 1 && spans[0].x0 == 0 && spans[0].x1 == w) {
            std::memcpy(dst, top.Row(y), rowBytes);
            continue;
        }
        std::memcpy(dst, base.Row(y), rowBytes);
        const Pixel* src = top.Row(y);
        for (const Span& sp : spans) {
            if (sp.x1 - sp.x0 <= 4) {
                for (int x = sp.x0; x < sp.x1; ++x) dst[x] = src[x];
            } else {
                std::memcpy(dst + sp.x0, src + sp.x0,
                            static_cast<std::size_t>(sp.x1 - sp.x0) * sizeof(Pixel));
            }
        }
    }
}

// The dissolve's cells in the order they turn: each cell's Hash01 as a 24-bit key, worked out
// once for a size and block and kept for the frames that follow (the hashing is most of a
// dissolve's cost). A cell shows the new picture once its key is below t * 2^24, exactly where
// Hash01 < t.
struct DissolveKeys {
    int width = 0, height = 0, block = 0;
    int cols = 0;
    std::vector<std::uint32_t> keys;  // by cell row, then cell column
};

// Hash01's 24 bits as an integer, for a row of cells at once (the compiler vectorises it).
void HashRow(std::uint32_t row, std::uint32_t seed, int cols, std::uint32_t* keys) {
    const std::uint32_t base = row * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    for (int c = 0; c < cols; ++c) {
        std::uint32_t h = static_cast<std::uint32_t>(c) * 0x8DA6B343u ^ base;
        h ^= h >> 16;
        h *= 0x7FEB352Du;
        h ^= h >> 15;
        h *= 0x846CA68Bu;
        h ^= h >> 16;
        keys[c] = h >> 8;
    }
}

std::shared_ptr<const DissolveKeys> KeysFor(int w, int h, int block) {
    // The tables of the last two dissolves: the one being drawn and the one prepared next.
    static std::mutex mutex;
    static std::array<std::shared_ptr<DissolveKeys>, 2> recent;
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& keys : recent)
        if (keys && keys->width == w && keys->height == h && keys->block == block) return keys;
    // The older table's memory is reused when no frame is being drawn from it: a new allocation
    // of screen size costs more in page faults than the hashing.
    std::shared_ptr<DissolveKeys> made =
        recent[1] && recent[1].use_count() == 1 ? std::move(recent[1]) : std::make_shared<DissolveKeys>();
    made->width = w;
    made->height = h;
    made->block = block;
    made->cols = (w + block - 1) / block;
    const int rows = (h + block - 1) / block;
    made->keys.resize(static_cast<std::size_t>(made->cols) * static_cast<std::size_t>(rows));
    const auto seed = static_cast<std::uint32_t>(1 + block);
    for (int r = 0; r < rows; ++r)
        HashRow(static_cast<std::uint32_t>(r), seed, made->cols,
                made->keys.data() + static_cast<std::size_t>(r) * made->cols);
    recent[1] = std::move(recent[0]);
    recent[0] = made;
    return made;
}

void RenderDissolve(const Effect& e, const Image& from, const Image& to, double t, Image& out) {
    const int w = from.Width(), h = from.Height(), block = e.a;
    const auto keys = KeysFor(w, h, block);
    const auto threshold = static_cast<std::uint32_t>(std::ceil(t * 16777216.0));
    std::vector<std::uint32_t> expanded(block > 1 ? static_cast<std::size_t>(w) : 0);
    for (int y = 0; y < h; ++y) {
        const std::uint32_t* cells = keys->keys.data() + static_cast<std::size_t>(y / block) * keys->cols;
        const std::uint32_t* key = cells;
        if (block > 1) {
            if (y % block == 0)
                for (int c = 0, x = 0; x < w; ++c, x += block)
                    std::fill(expanded.begin() + x, expanded.begin() + std::min(w, x + block), cells[c]);
            key = expanded.data();
        }
        const Pixel* a = from.Row(y);
        const Pixel* b = to.Row(y);
        Pixel* dst = out.Row(y);
        // Without branches: at half way every other pixel would be a mispredicted jump.
        for (int x = 0; x < w; ++x) {
            const Pixel take = 0u - static_cast<Pixel>(key[x] < threshold);
            dst[x] = (b[x] & take) | (a[x] & ~take);
        }
    }
}

void RenderFade(const Effect& e, const Image& from, const Image& to, double t, Image& out) {
    const int w = from.Width(), h = from.Height();
    const Pixel through = e.a == 2 ? kOpaqueWhite : kOpaqueBlack;
    for (int y = 0; y < h; ++y) {
        const Pixel* a = from.Row(y);
        const Pixel* b = to.Row(y);
        Pixel* dst = out.Row(y);
        if (e.a == 0) {
            const auto k = static_cast<std::uint32_t>(std::lround(t * 256));
            for (int x = 0; x < w; ++x) dst[x] = BlendPixels(a[x], b[x], k);
        } else if (t < 0.5) {
            const auto k = static_cast<std::uint32_t>(std::lround(t * 512));
            for (int x = 0; x < w; ++x) dst[x] = BlendPixels(a[x], through, k);
        } else {
            const auto k = static_cast<std::uint32_t>(std::lround((t - 0.5) * 512));
            for (int x = 0; x < w; ++x) dst[x] = BlendPixels(through, b[x], k);
        }
    }
}

// Draws `image` moved by (dx, dy) onto `out`; the uncovered parts of `out` stay as they are.
void DrawMoved(const Image& image, int dx, int dy, Image& out) {
    const int w = out.Width(), h = out.Height();
    const int x0 = std::max(0, dx), x1 = std::min(w, w + dx);
    if (x0 >= x1) return;
    for (int y = std::max(0, dy); y < std::min(h, h + dy); ++y)
        std::memcpy(out.Row(y) + x0, image.Row(y - dy) + (x0 - dx),
                    static_cast<std::size_t>(x1 - x0) * sizeof(Pixel));
}

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

const char* const kFamilyNames[] = {"Fade",    "Dissolve",
                                    "Wipe",    "Slide",
                                    "Push",    "Uncover",
                                    "Blinds",  "Venetian Blinds",
                                    "Box",     "Checkerboard",
                                    "Shape",   "Clock",
                                    "Fan",     "Windmill",
                                    "Squares", "Split",
                                    "Comb",    "Zoom",
                                    "Stretch", "Random Lines",
                                    "Drips",   "Diagonal Stripes",
                                    "Circles"};

}  // namespace

int TransitionCount() {
    return static_cast<int>(kEffects.size());
}

std::string TransitionName(int index) {
    return index >= 0 && index < TransitionCount() ? kEffects[static_cast<std::size_t>(index)].name : "";
}

TransitionFamily TransitionFamilyOf(int index) {
    return kEffects.at(static_cast<std::size_t>(index)).family;
}

std::string TransitionFamilyName(TransitionFamily family) {
    return kFamilyNames[static_cast<int>(family)];
}

bool TransitionIsMask(int index) {
    switch (TransitionFamilyOf(index)) {
        case F::Fade:
        case F::Slide:
        case F::Push:
        case F::Uncover:
        case F::Zoom:
        case F::Stretch: return false;
        default: return true;
    }
}

int ResolveTransition(int index, RandomSource& random) {
    if (index >= 0 && index < TransitionCount()) return index;
    if (index == kTransitionRandom)
        return static_cast<int>(random.Below(static_cast<std::uint32_t>(TransitionCount())));
    return kNoTransition;
}

void PrepareTransition(int index, int width, int height) {
    if (index < 0 || index >= TransitionCount() || width < 1 || height < 1) return;
    const Effect& e = kEffects[static_cast<std::size_t>(index)];
    if (e.family == F::Dissolve) KeysFor(width, height, e.a);
}

void RenderTransition(int index, const Image& from, const Image& to, double t, Image& out) {
    if (from.Width() != to.Width() || from.Height() != to.Height())
        throw Error("The pictures of a transition must have the same size");
    if (&out == &from || &out == &to) {
        Image frame;
        RenderTransition(index, from, to, t, frame);
        out = std::move(frame);
        return;
    }
    t = std::isnan(t) ? 0.0 : std::clamp(t, 0.0, 1.0);
    out.Resize(from.Width(), from.Height());
    if (from.Empty()) return;
    if (index < 0 || index >= TransitionCount()) {
        out = t >= 1 ? to : from;
        return;
    }
    const Effect& e = kEffects[static_cast<std::size_t>(index)];
    switch (e.family) {
        case F::Fade: RenderFade(e, from, to, t, out); break;
        case F::Slide:
        case F::Push:
        case F::Uncover: RenderMove(e, from, to, t, out); break;
        case F::Zoom:
        case F::Stretch: RenderScaled(e, from, to, t, out); break;
        case F::Dissolve: RenderDissolve(e, from, to, t, out); break;
        default: RenderMask(e, from, to, t, out); break;
    }
}

}  // namespace nimbrel::imaging
