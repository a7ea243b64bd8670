#include "imaging/transitions.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "imaging/row_bands.h"
#include "imaging/transition_effects.h"
#include "platform/error.h"

namespace nimbrel::imaging {

namespace {

using detail::Effect;
using detail::F;
using namespace detail;  // the directions and anchors the table names

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
    if (e.family == F::Dissolve) PrepareDissolve(width, height, e.a);
}

void TransitionRowsRead(int index, double t, int width, int height, int first, int last, RowRange& from,
                        RowRange& to) {
    first = std::max(first, 0);
    last = std::min(last, height);
    from = to = {first, std::max(first, last)};
    if (index < 0 || index >= TransitionCount() || width < 1 || first >= last) return;
    t = std::isnan(t) ? 0.0 : std::clamp(t, 0.0, 1.0);
    const Effect& e = kEffects[static_cast<std::size_t>(index)];
    switch (e.family) {
        case F::Slide:
        case F::Push:
        case F::Uncover: MoveRowsRead(e, t, width, height, first, last, from, to); break;
        case F::Zoom:
        case F::Stretch: ScaledRowsRead(e, t, width, height, first, last, from, to); break;
        default: break;
    }
    for (RowRange* r : {&from, &to}) {
        r->first = std::clamp(r->first, 0, height);
        r->last = std::clamp(r->last, r->first, height);
    }
}

void RenderTransitionRows(int index, const Image& from, const Image& to, double t, Image& out, int first,
                          int last) {
    if (from.Width() != to.Width() || from.Height() != to.Height() || out.Width() != from.Width() ||
        out.Height() != from.Height())
        throw Error("The pictures of a transition must have the same size");
    first = std::max(first, 0);
    last = std::min(last, from.Height());
    if (first >= last || from.Empty()) return;
    t = std::isnan(t) ? 0.0 : std::clamp(t, 0.0, 1.0);
    if (index < 0 || index >= TransitionCount()) {
        const Image& shown = t >= 1 ? to : from;
        std::copy(shown.Row(first), shown.Row(first) + static_cast<std::size_t>(last - first) * from.Width(),
                  out.Row(first));
        return;
    }
    const Effect& e = kEffects[static_cast<std::size_t>(index)];
    const FrameRows rows{out.Data(), out.Width(), 0};
    switch (e.family) {
        case F::Fade: RenderFade(e, from, to, t, rows, first, last); break;
        case F::Slide:
        case F::Push:
        case F::Uncover: RenderMove(e, from, to, t, rows, first, last); break;
        case F::Zoom:
        case F::Stretch: RenderScaled(e, from, to, t, rows, first, last); break;
        case F::Dissolve: RenderDissolve(e, from, to, t, rows, first, last); break;
        default: RenderMask(e, from, to, t, rows, first, last); break;
    }
}

void RenderTransitionBand(int index, const PictureBand& from, const PictureBand& to, double t,
                          const FrameRows& out, int first, int last) {
    if (from.width != to.width || from.height != to.height || out.width != from.width) return;
    first = std::max(first, 0);
    last = std::min(last, from.height);
    if (first >= last || from.width <= 0) return;
    t = std::isnan(t) ? 0.0 : std::clamp(t, 0.0, 1.0);
    if (index < 0 || index >= TransitionCount()) {
        const PictureBand& shown = t >= 1 ? to : from;
        std::copy(shown.Row(first), shown.Row(first) + static_cast<std::size_t>(last - first) * from.width,
                  out.Row(first));
        return;
    }
    const Effect& e = kEffects[static_cast<std::size_t>(index)];
    switch (e.family) {
        case F::Fade: RenderFade(e, from, to, t, out, first, last); break;
        case F::Slide:
        case F::Push:
        case F::Uncover: RenderMove(e, from, to, t, out, first, last); break;
        case F::Zoom:
        case F::Stretch: RenderScaled(e, from, to, t, out, first, last); break;
        case F::Dissolve: RenderDissolve(e, from, to, t, out, first, last); break;
        default: RenderMask(e, from, to, t, out, first, last); break;
    }
}

bool TransitionWritesOnce(int index) {
    return index >= 0 && index < TransitionCount() && kEffects[static_cast<std::size_t>(index)].family == F::Fade;
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
    // A frame over several large monitors is drawn by a few threads, a band of rows at a time.
    const int threads = BandThreadsFor(static_cast<long long>(from.Width()) * from.Height());
    RunInBands(from.Height(), threads > 1 ? std::max(8, (1 << 16) / from.Width()) : from.Height(), threads,
               [&](int first, int last) { RenderTransitionRows(index, from, to, t, out, first, last); });
}

}  // namespace nimbrel::imaging
