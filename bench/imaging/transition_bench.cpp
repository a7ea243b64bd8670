// Prints the time to render one full-HD transition frame, per family: the mean, and the slowest
// single frame with its effect. The thread's processor time, so that other work on a busy
// machine does not count. Usage: imaging_bench [width height]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "bench_clock.h"
#include "imaging/transitions.h"

using namespace nimbrel::imaging;

using nimbrel::bench::CpuMs;

int main(int argc, char** argv) {
    const int w = argc > 2 ? std::atoi(argv[1]) : 1920;
    const int h = argc > 2 ? std::atoi(argv[2]) : 1080;
    Image from(w, h), to(w, h), out(w, h);  // the frame is reused, as the show engine's is
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            from.Set(x, y, MakePixel(x & 255, y & 255, 40));
            to.Set(x, y, MakePixel(200, (x + y) & 255, y & 255));
        }
    constexpr int kFrames = 30;
    struct Figures {
        double total = 0, slowest = 0;
        int count = 0;
        std::string slowestName;
    };
    std::map<std::string, Figures> families;
    for (int i = 0; i < TransitionCount(); ++i) {
        // What the show engine does on its decoding thread before a change starts.
        PrepareTransition(i, w, h);
        Figures& fig = families[TransitionFamilyName(TransitionFamilyOf(i))];
        double sum = 0;
        for (int f = 0; f < kFrames; ++f) {
            const double start = CpuMs();
            RenderTransition(i, from, to, (f + 0.5) / kFrames, out);
            const double ms = CpuMs() - start;
            sum += ms;
            if (ms > fig.slowest) {
                fig.slowest = ms;
                fig.slowestName = TransitionName(i);
            }
        }
        fig.total += sum / kFrames;
        ++fig.count;
    }
    std::printf("%dx%d, processor ms per frame (%d frames of each effect over t in 0..1)\n", w, h, kFrames);
    std::printf("%-18s %8s %14s  %s\n", "family", "mean", "slowest frame", "its effect");
    for (const auto& [name, fig] : families)
        std::printf("%-18s %8.2f %14.2f  %s\n", name.c_str(), fig.total / fig.count, fig.slowest,
                    fig.slowestName.c_str());
    return 0;
}
