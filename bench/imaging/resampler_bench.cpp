// Prints the time to scale a large photo to the screen row by row, as the slideshow player does:
// 5000 x 3500 into 1543 x 1080 (a full-HD screen, proportions kept), opaque and with alpha.
// Usage: resampler_bench [sourceWidth sourceHeight targetWidth targetHeight]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "imaging/row_resampler.h"

using namespace nimbrel::imaging;

int main(int argc, char** argv) {
    const bool sized = argc > 4;
    const int sw = sized ? std::atoi(argv[1]) : 5000, sh = sized ? std::atoi(argv[2]) : 3500;
    const int tw = sized ? std::atoi(argv[3]) : 1543, th = sized ? std::atoi(argv[4]) : 1080;
    std::vector<Pixel> row(static_cast<std::size_t>(sw));
    for (bool opaque : {true, false}) {
        double best = 1e9;
        for (int run = 0; run < 3; ++run) {
            const auto start = std::chrono::steady_clock::now();
            RowResampler resampler(sw, sh, tw, th, Rect{0, 0, tw, th}, kOpaqueBlack);
            for (int y = 0; y < sh; ++y) {
                for (int x = 0; x < sw; ++x)
                    row[static_cast<std::size_t>(x)] =
                        MakePixel(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 90,
                                  opaque ? 255 : static_cast<std::uint8_t>(x + y));
                resampler.PushRow(y, row.data());
            }
            Image out = resampler.Take();
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            if (ms < best) best = ms;
            if (out.Width() != tw) return 1;
        }
        std::printf("%dx%d -> %dx%d, %s: %.1f ms (best of 3, rows filled included)\n", sw, sh, tw, th,
                    opaque ? "opaque" : "with alpha", best);
    }
    return 0;
}
