// The cost of a recorded movie's frame on screen, which the Flash player pays at every frame of
// the movie: processor time one core takes to fit a recorded frame (800 x 600, the picture
// already decoded) onto a 1920 x 1080 monitor and onto two monitors side by side (1920 x 1080
// and 2560 x 1440), on the movie's background.
// Usage: recorded_movie_bench

#include <cstdio>

#include "bench_clock.h"
#include "show/recorded_movie.h"

using namespace nimbrel;

using nimbrel::bench::CpuMs;

int main() {
    imaging::Image picture(800, 600);
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 800; ++x)
            picture.Set(x, y, imaging::MakePixel(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
                                                 static_cast<std::uint8_t>(x ^ y)));
    const show::Screen one{1920, 1080, {}};
    const show::Screen two{4480, 1440, {{0, 0, 1920, 1080}, {1920, 0, 2560, 1440}}};
    for (const auto& [name, screen] : {std::pair{"1920 x 1080", one}, std::pair{"1920 x 1080 + 2560 x 1440", two}}) {
        show::Frame out;
        constexpr int kFrames = 30;
        const double start = CpuMs();
        for (int i = 0; i < kFrames; ++i) show::ComposeMovieScreen(picture, 0x102030, screen, out);
        std::printf("recorded frame 800 x 600 onto %s: %.2f ms a frame (one core)\n", name,
                    (CpuMs() - start) / kFrames);
    }
    return 0;
}
