// The cost of captions. Prints the processor time one core takes to draw a caption's mask (what
// a compile pays per picture), and to compose a 1920 x 1080 frame with a caption: a still frame
// and frames of a change (a fade and the slowest effects), beside the same frames without one.
// Usage: caption_bench [frames per figure (default 200)]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "bench_clock.h"
#include "captions/text_mask.h"
#include "imaging/transitions.h"
#include "pattern_pictures.h"
#include "show/picture_sources.h"
#include "show/show.h"

using namespace nimbrel;

using nimbrel::bench::CpuMs;
using nimbrel::bench::PatternDecoder;
using nimbrel::bench::TwoPictures;

namespace {

struct Figure {
    double mean = 0, worst = 0;
};

// Frames of slide 0 at `from`..`to` ms of a show with `effect`, drawn from prepared slides.
Figure Time(int effect, bool captions, std::int64_t from, std::int64_t to, int frames,
            const std::map<std::size_t, show::CaptionMask>& masks) {
    PatternDecoder decoder;
    project::SlideShowValues values;
    values.center = true;
    values.showSpeed = 2;
    values.transition = effect;
    show::Show s(values, imaging::kOpaqueBlack, show::Screen{1920, 1080, {}}, std::make_shared<TwoPictures>(),
                 {0, 1}, decoder, 1);
    if (captions) s.SetCaptions(std::make_shared<show::CaptionLayer>(masks, show::CaptionPlace::BottomLeft));
    show::Frame frame;
    // As a live player does: the slides prepared once (decoded, the change made ready), then
    // frames drawn; the first draw also scales the captions, once.
    s.Prepare(0);
    s.Prepare(1);
    s.Draw(s.Clock().At(from), frame);
    Figure figure;
    for (int i = 0; i < frames; ++i) {
        const std::int64_t ms = from + (to - from) * i / std::max(1, frames - 1);
        const show::Moment moment = s.Clock().At(ms);
        const double start = CpuMs();
        s.Draw(moment, frame);
        const double took = CpuMs() - start;
        figure.mean += took / frames;
        figure.worst = std::max(figure.worst, took);
    }
    return figure;
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const captions::TextRenderer renderer(captions::CaptionFontPath());
    const std::string text = "Boats in the harbour at dawn, 1 June 2024";
    double start = CpuMs();
    const int masksDrawn = 50;
    show::CaptionMask mask;
    for (int i = 0; i < masksDrawn; ++i) mask = renderer.Render(text, captions::MaxCaptionWidth());
    std::printf("caption mask (%zu characters, %d x %d): %.3f ms each\n", text.size(), mask.width,
                mask.height, (CpuMs() - start) / masksDrawn);
    const std::map<std::size_t, show::CaptionMask> masks{{0, mask}, {1, renderer.Render("Sunset", 4000)}};

    std::printf("1920 x 1080 frames, processor time of one core (mean / slowest of %d):\n", frames);
    struct Case {
        const char* name;
        int effect;
        std::int64_t from, to;
    } cases[] = {{"still", 0, 0, 1900},
                 {"fade", 0, 2001, 2999},
                 {"effect 64", 64, 2001, 2999},
                 {"effect 127", 127, 2001, 2999}};
    for (const Case& c : cases) {
        const Figure plain = Time(c.effect, false, c.from, c.to, frames, masks);
        const Figure captioned = Time(c.effect, true, c.from, c.to, frames, masks);
        std::printf("  %-10s without caption %6.3f / %6.3f ms   with caption %6.3f / %6.3f ms\n", c.name,
                    plain.mean, plain.worst, captioned.mean, captioned.worst);
    }
    return 0;
}
