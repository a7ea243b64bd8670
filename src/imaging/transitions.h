#pragma once
// The slideshow's picture transitions: 128 distinct effects (indexes 0..127) in families with
// parameters, and the renderer that makes the in-between frames.
//
// The project stores the transition as the transition box's item index: 0..127 an effect,
// 128 "Random" (a new random effect for every change of picture), 129 "None" and -1 (nothing
// chosen) a plain cut. Any other stored value is treated as a cut too.

#include <cstddef>
#include <string>

#include "imaging/image.h"
#include "imaging/random_source.h"
#include "project/value_ranges.h"

namespace nimbrel::imaging {

inline constexpr int kTransitionRandom = project::kTransitionRandom;
inline constexpr int kTransitionNone = project::kTransitionNone;
inline constexpr int kNoTransition = -1;  // what ResolveTransition gives for a cut

enum class TransitionFamily {
    Fade,
    Dissolve,
    Wipe,
    Slide,
    Push,
    Uncover,
    Blinds,
    Venetian,
    Box,
    Checkerboard,
    Shape,
    Clock,
    Fan,
    Windmill,
    Squares,
    Split,
    Comb,
    Zoom,
    Stretch,
    RandomLines,
    Drips,
    DiagonalStripes,
    Circles,
};

// The number of effects: 128.
int TransitionCount();
// The effect's own name ("Wipe From Left"); "" outside 0..TransitionCount()-1.
std::string TransitionName(int index);
// The family an effect belongs to (index must be in 0..TransitionCount()-1).
TransitionFamily TransitionFamilyOf(int index);
// The family's name ("Wipe").
std::string TransitionFamilyName(TransitionFamily family);
// True for effects whose every pixel shows either `from` or `to` at the same place, with the
// pixels showing `to` only growing as t grows (wipes, blinds, boxes, dissolves and the like).
bool TransitionIsMask(int index);

// The effect to play for one change of picture: the index itself for 0..127, a random effect
// for 128, and kNoTransition (a cut) for 129, -1 and every other value.
int ResolveTransition(int index, RandomSource& random);

// Renders the frame at time t (0..1, clamped) of effect `index` from `from` to `to`, both of the
// same size (else nimbrel::Error), into `out` (resized as needed; it may be one of the inputs).
// t = 0 gives exactly `from` and t = 1 exactly `to`. An index outside 0..127 is a cut: `from`
// before t = 1, `to` at t = 1.
void RenderTransition(int index, const Image& from, const Image& to, double t, Image& out);

// The same for rows [first, last) of the frame only (the other rows of `out` stay as they are):
// `out` must already have the pictures' size and be neither of them. The rows come out as
// RenderTransition gives them, so that threads can share a frame, a band of rows each.
void RenderTransitionRows(int index, const Image& from, const Image& to, double t, Image& out, int first,
                          int last);
// Rows [first, first + rows) of a width x height picture, held by themselves (a band of rows
// drawn just before a change's band is).
struct PictureBand {
    const Pixel* pixels = nullptr;  // the band's rows, packed
    int width = 0;                  // the whole picture's size
    int height = 0;
    int first = 0;  // the band's first row
    int Width() const { return width; }
    int Height() const { return height; }
    const Pixel* Row(int y) const { return pixels + static_cast<std::size_t>(y - first) * width; }
};
// The rows of a picture a band of a frame reads: [first, last).
struct RowRange {
    int first = 0;
    int last = 0;
};
// The rows of `from` and of `to` that rows [first, last) of a width x height frame of effect
// `index` at t read: the same rows for most effects, others for slides, pushes, uncovers, zooms
// and stretches. Either may be empty.
void TransitionRowsRead(int index, double t, int width, int height, int first, int last, RowRange& from,
                        RowRange& to);
// Rows [first, first + n) of a frame `width` pixels wide, packed, to draw into (an Image's rows, or
// a band of them held apart).
struct FrameRows {
    Pixel* pixels = nullptr;
    int width = 0;
    int first = 0;
    // The rows go to memory past the cache, for an effect that TransitionWritesOnce.
    bool stream = false;
    Pixel* Row(int y) const { return pixels + static_cast<std::size_t>(y - first) * width; }
};
// RenderTransitionRows from bands that hold (at least) the rows TransitionRowsRead names: the
// same rows as from whole pictures, so that a frame can be drawn a band at a time with each band of
// the two pictures made just before it.
// `out` holds rows [first, last) of the frame (it may hold more).
void RenderTransitionBand(int index, const PictureBand& from, const PictureBand& to, double t,
                          const FrameRows& out, int first, int last);
// True for an effect that writes each pixel of its rows once and reads none of them back (the
// fades): its rows can go straight to memory past the cache (FrameRows::stream).
bool TransitionWritesOnce(int index);

// Sets up what effect `index` needs for frames of width x height (a dissolve's order of cells),
// so that its first frame costs no more than the others: for the thread that prepares the next
// picture while another draws. Indexes outside 0..127 and effects that need nothing are ignored.
void PrepareTransition(int index, int width, int height);

}  // namespace nimbrel::imaging
