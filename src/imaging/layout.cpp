#include "imaging/layout.h"

#include <algorithm>

#include "project/value_ranges.h"

namespace nimbrel::imaging {

namespace {

struct Size {
    std::int64_t w, h;
};

// The largest size of w:h proportions inside boxW x boxH (sides rounded, at least 1).
Size FitInside(std::int64_t w, std::int64_t h, std::int64_t boxW, std::int64_t boxH) {
    if (w * boxH <= h * boxW) {  // relatively taller than the box: the height decides
        return {std::max<std::int64_t>(1, (w * boxH * 2 + h) / (2 * h)), boxH};
    }
    return {boxW, std::max<std::int64_t>(1, (h * boxW * 2 + w) / (2 * w))};
}

}  // namespace

Rect LayoutPicture(int screenWidth, int screenHeight, int pictureWidth, int pictureHeight,
                   const LayoutOptions& options) {
    if (pictureWidth <= 0 || pictureHeight <= 0 || screenWidth <= 0 || screenHeight <= 0) return {};
    const std::int64_t sw = screenWidth, sh = screenHeight;
    Size size{pictureWidth, pictureHeight};
    if (options.stretch) {
        size = options.keepAspect ? FitInside(size.w, size.h, sw, sh) : Size{sw, sh};
    } else if (options.autoSize && (size.w > sw || size.h > sh)) {
        size = options.keepAspect ? FitInside(size.w, size.h, sw, sh)
                                  : Size{std::min(size.w, sw), std::min(size.h, sh)};
    }
    Rect r;
    r.width = static_cast<int>(size.w);
    r.height = static_cast<int>(size.h);
    if (options.center) {
        // Floor division, so that oversized pictures centre the same way as small ones.
        auto half = [](std::int64_t d) { return static_cast<int>(d >= 0 ? d / 2 : -((-d + 1) / 2)); };
        r.x = half(sw - size.w);
        r.y = half(sh - size.h);
    }
    return r;
}

int ShowDurationMs(int showSpeed) {
    return std::clamp(showSpeed, project::kMinShowSpeed, project::kMaxShowSpeed) * 1000;
}

Pixel BackgroundPixel(std::int32_t color) {
    if (color < 0) return kOpaqueBlack;
    const auto c = static_cast<std::uint32_t>(color);
    return MakePixel(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

}  // namespace nimbrel::imaging
