#include "transition.h"

#include <algorithm>
#include <cstring>

namespace nimbrel::player {
namespace {

std::uint32_t Mix(std::uint32_t a, std::uint32_t b, std::uint32_t weight) {  // weight 0..256 of b
    std::uint32_t rb = ((a & 0xFF00FF) * (256 - weight) + (b & 0xFF00FF) * weight) >> 8;
    std::uint32_t g = ((a & 0x00FF00) * (256 - weight) + (b & 0x00FF00) * weight) >> 8;
    return (rb & 0xFF00FF) | (g & 0x00FF00);
}

}  // namespace

int ResolveTransition(int index, std::uint32_t random) {
    if (index >= 0 && index < kTransitionCount) return index;
    if (index == kRandomTransition) return static_cast<int>(random % kTransitionCount);
    return -1;
}

void RenderTransition(int effect, const std::uint32_t* from, const std::uint32_t* to, std::uint32_t* out,
                      int width, int height, double t) {
    t = std::clamp(t, 0.0, 1.0);
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const int kind = effect < 0 ? 0 : effect % 5;
    if (kind == 0) {  // cross-fade
        std::uint32_t weight = static_cast<std::uint32_t>(t * 256.0 + 0.5);
        for (std::size_t i = 0; i < count; ++i) out[i] = Mix(from[i], to[i], weight);
        return;
    }
    // Wipes: the new picture pushes in from one edge.
    for (int y = 0; y < height; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        int edge = 0;
        switch (kind) {
            case 1: edge = static_cast<int>(t * width); break;                   // from the left
            case 2: edge = width - static_cast<int>(t * width); break;           // from the right
            case 3: edge = y < static_cast<int>(t * height) ? width : 0; break;  // from the top
            default: edge = y >= height - static_cast<int>(t * height) ? width : 0; break;
        }
        if (kind == 2) {
            std::memcpy(out + row, from + row, sizeof(std::uint32_t) * static_cast<std::size_t>(edge));
            std::memcpy(out + row + edge, to + row + edge,
                        sizeof(std::uint32_t) * static_cast<std::size_t>(width - edge));
        } else {
            std::memcpy(out + row, to + row, sizeof(std::uint32_t) * static_cast<std::size_t>(edge));
            std::memcpy(out + row + edge, from + row + edge,
                        sizeof(std::uint32_t) * static_cast<std::size_t>(width - edge));
        }
    }
}

}  // namespace nimbrel::player
