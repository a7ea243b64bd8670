#pragma once
// Where the slideshow puts a picture on the screen, how long it stays, and on what background.
//
// The rules, in order:
// - Stretch scales every picture to the screen, enlarging small ones too: to the whole screen,
//   or with KeepAspect to the largest size of the picture's proportions that fits inside it.
// - Otherwise AutoSize shrinks only pictures larger than the screen in width or height: with
//   KeepAspect to the largest size of its proportions that fits; without it each side larger
//   than the screen's is cut down to the screen's on its own. Pictures that fit keep their size.
// - Otherwise the picture keeps its own size; a larger one is cut off at the screen's edges.
// - KeepAspect alone changes nothing: it only qualifies Stretch and AutoSize.
// - Center centres the result on the screen (a picture larger than the screen shows its
//   middle); without Center it sits at the top-left corner.
// Scaled sides are rounded to the nearest pixel and are at least 1 pixel.

#include <cstdint>

#include "imaging/image.h"

namespace nimbrel::imaging {

struct LayoutOptions {
    bool center = true;
    bool autoSize = false;
    bool stretch = false;
    bool keepAspect = false;
};

// A destination rectangle; x and y may be negative when a picture is larger than the screen.
struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Rect&) const = default;
};

// The picture's rectangle on a screenWidth x screenHeight screen; empty for an empty picture.
Rect LayoutPicture(int screenWidth, int screenHeight, int pictureWidth, int pictureHeight,
                   const LayoutOptions& options);

// How long each picture stays: ShowSpeed seconds, clamped to 1..240 (a stored value outside that
// range comes from a hand-edited file), in milliseconds.
int ShowDurationMs(int showSpeed);

// The opaque background pixel for a colour value as JoinColor(ColorR, ColorG, ColorB) gives it
// (red in the low byte, green in the next, blue in the third). A negative value, a system
// colour the player cannot know, gives black; bits above the third byte are ignored.
Pixel BackgroundPixel(std::int32_t color);

}  // namespace nimbrel::imaging
