// Pan and zoom's speed. Prints the processor time one core takes to draw a 1920 x 1080 frame of a
// moving picture with a caption, still and during changes (mean and slowest over every effect,
// with the slowest effect's name), and the time of a
// frame of three 2560 x 1440 monitors spanned by one moving picture, which the engine draws on two
// threads: wall time, and the process's processor time (on a busy machine the wall time is longer
// than the frame takes on two free cores).
// Usage: motion_bench [one | span] [tries (default 3)]
// Times are the thread's processor time where one core is measured, so that other work on a busy
// machine does not count; each frame is drawn `tries` times and the quickest counts, so that a
// frame that other processes' work slowed does not either.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "bench_clock.h"
#include "imaging/transitions.h"
#include "pattern_pictures.h"
#include "show/captions.h"
#include "show/show.h"

using namespace nimbrel;

using nimbrel::bench::CpuMs;
using nimbrel::bench::PatternDecoder;
using nimbrel::bench::TwoPictures;
using nimbrel::bench::WallMs;

namespace {

int tries = 3;

double ProcessMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

// A caption of about 24 ems on each picture, with coverage like text's (strokes and gaps), so
// that the frames pay for a caption as a captioned show's do. No fonts: the mask is made up.
std::shared_ptr<const show::CaptionLayer> MadeUpCaptions() {
    show::CaptionMask mask;
    mask.fontPixels = 48;
    mask.width = 24 * 48;
    mask.height = 60;
    mask.alpha.resize(static_cast<std::size_t>(mask.width) * mask.height);
    for (int y = 0; y < mask.height; ++y)
        for (int x = 0; x < mask.width; ++x)
            mask.alpha[static_cast<std::size_t>(y) * mask.width + x] =
                y > 8 && y < 48 && (x / 3) % 5 < 2 ? static_cast<std::uint8_t>(255 - (x % 7) * 20) : 0;
    return std::make_shared<show::CaptionLayer>(
        std::map<std::size_t, show::CaptionMask>{{0, mask}, {1, mask}}, show::CaptionPlace::BottomCenter);
}

void OneMonitor() {
    PatternDecoder decoder(1920, 1080);
    show::Frame out;
    double stillSum = 0, stillWorst = 0, changeSum = 0, changeWorst = 0;
    int stillFrames = 0, changeFrames = 0, slowestEffect = 0;
    const auto captions = MadeUpCaptions();
    for (int effect = 0; effect < imaging::TransitionCount(); ++effect) {
        project::SlideShowValues values;
        values.stretch = true;
        values.showSpeed = 1;
        values.transition = effect;
        values.show.motion = true;
        show::Show engine(values, imaging::kOpaqueBlack, show::Screen{1920, 1080, {}},
                          std::make_shared<TwoPictures>(), {0, 1}, decoder, 1);
        engine.SetCaptions(captions);
        engine.Prepare(0);
        engine.Prepare(1);
        for (int f = 0; f < 10; ++f) {
            for (bool change : {false, true}) {
                const show::Moment m = engine.Clock().At(change ? 1000 + f * 100 + 50 : f * 100 + 40);
                double ms = 1e9;
                for (int k = 0; k < tries; ++k) {
                    const double start = CpuMs();
                    engine.Draw(m, out);
                    ms = std::min(ms, CpuMs() - start);
                }
                (change ? changeSum : stillSum) += ms;
                if (change && ms > changeWorst) slowestEffect = effect;
                (change ? changeWorst : stillWorst) = std::max(change ? changeWorst : stillWorst, ms);
                ++(change ? changeFrames : stillFrames);
            }
        }
    }
    std::printf(
        "1920x1080 moving picture with a caption, processor ms per frame on one core (the quickest of %d "
        "tries a frame)\n",
        tries);
    std::printf("  still phase: mean %.2f, slowest %.2f (%d frames)\n", stillSum / stillFrames, stillWorst,
                stillFrames);
    std::printf("  during a change (every effect): mean %.2f, slowest %.2f (%s) (%d frames)\n\n",
                changeSum / changeFrames, changeWorst, imaging::TransitionName(slowestEffect).c_str(),
                changeFrames);
}

void ThreeSpanned() {
    const int width = 3 * 2560, height = 1440;
    PatternDecoder decoder(width, height);
    project::SlideShowValues values;
    values.stretch = true;
    values.showSpeed = 1;
    values.transition = 0;
    values.show.motion = true;
    values.show.monitors = project::kMonitorsSpan;
    const show::Screen screen{
        width, height, {{0, 0, 2560, 1440}, {2560, 0, 2560, 1440}, {5120, 0, 2560, 1440}}};
    show::Show engine(values, imaging::kOpaqueBlack, screen, std::make_shared<TwoPictures>(), {0, 1}, decoder,
                      1);
    engine.Prepare(0);
    engine.Prepare(1);
    show::Frame out;
    for (bool change : {false, true}) {
        double sum = 0, worst = 0, cpu = 0;
        constexpr int kFrames = 20;
        for (int f = 0; f < kFrames; ++f) {
            const show::Moment m = engine.Clock().At(change ? 1000 + f * 45 : f * 45 + 20);
            double ms = 1e9, cpuMs = 1e9;
            for (int k = 0; k < tries; ++k) {
                const double start = WallMs(), cpuStart = ProcessMs();
                engine.Draw(m, out);
                ms = std::min(ms, WallMs() - start);
                cpuMs = std::min(cpuMs, ProcessMs() - cpuStart);
            }
            sum += ms;
            cpu += cpuMs;
            worst = std::max(worst, ms);
        }
        std::printf(
            "three 2560x1440 monitors spanned by one moving picture, %s: wall ms per frame mean %.2f, "
            "slowest %.2f; processor ms per frame %.2f (%u cores; the quickest of %d tries a frame)\n",
            change ? "during a fade" : "still phase", sum / kFrames, worst, cpu / kFrames,
            std::thread::hardware_concurrency(), tries);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const char* part = argc > 1 ? argv[1] : "";
    if (argc > 2) tries = std::max(1, std::atoi(argv[2]));
    if (std::strcmp(part, "span") != 0) OneMonitor();
    if (std::strcmp(part, "one") != 0) ThreeSpanned();
    return 0;
}
