#include "picture_layout.h"

#include <algorithm>
#include <cstdint>

namespace nimbrel::player {
namespace {

int Scaled(int value, std::int64_t numerator, std::int64_t denominator) {
    if (denominator <= 0) return 1;
    return std::max<int>(1, static_cast<int>((value * numerator + denominator / 2) / denominator));
}

}  // namespace

PlacedRect PlacePicture(int width, int height, int areaWidth, int areaHeight, const LayoutOptions& options) {
    PlacedRect rect;
    width = std::max(width, 1);
    height = std::max(height, 1);
    areaWidth = std::max(areaWidth, 1);
    areaHeight = std::max(areaHeight, 1);
    bool larger = width > areaWidth || height > areaHeight;
    bool scaleToFit = options.stretch || (options.autoSize && larger);
    if (!scaleToFit) {
        rect.width = width;
        rect.height = height;
    } else if (options.keepAspect) {
        // The largest size with the picture's proportions that fits the screen.
        if (static_cast<std::int64_t>(width) * areaHeight >= static_cast<std::int64_t>(height) * areaWidth) {
            rect.width = areaWidth;
            rect.height = std::min(areaHeight, Scaled(height, areaWidth, width));
        } else {
            rect.height = areaHeight;
            rect.width = std::min(areaWidth, Scaled(width, areaHeight, height));
        }
    } else if (options.stretch) {
        rect.width = areaWidth;
        rect.height = areaHeight;
    } else {
        // Shrink each side that is too large on its own.
        rect.width = std::min(width, areaWidth);
        rect.height = std::min(height, areaHeight);
    }
    if (options.center) {
        rect.x = (areaWidth - rect.width) / 2;
        rect.y = (areaHeight - rect.height) / 2;
    }
    return rect;
}

int SlideMilliseconds(int showSpeed) {
    return std::clamp(showSpeed, 1, 240) * 1000;
}

}  // namespace nimbrel::player
