// The mask families (wipes, blinds, boxes, shapes, clocks, squares, lines, drips, stripes, circles):
// each frame is a set of spans per row that show the new picture over the old.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "imaging/transition_effects.h"

namespace nimbrel::imaging::detail {

namespace {

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

}  // namespace

template <class Rows>
void RenderMask(const Effect& e, const Rows& from, const Rows& to, double t, const FrameRows& out, int y0, int y1) {
    const int w = from.Width(), h = from.Height();
    MaskPlan plan = PlanMask(e, w, h, t);
    const Rows& base = plan.inverted ? to : from;
    const Rows& top = plan.inverted ? from : to;
    Spans spans;
    spans.reserve(64);
    const auto rowBytes = static_cast<std::size_t>(w) * sizeof(Pixel);
    for (int y = y0; y < y1; ++y) {
        if (!plan.rowInvariant || y == y0) {
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

template void RenderMask(const Effect&, const Image&, const Image&, double, const FrameRows&, int, int);
template void RenderMask(const Effect&, const PictureBand&, const PictureBand&, double, const FrameRows&, int, int);

}  // namespace nimbrel::imaging::detail
