#pragma once
// Where a picture goes on a screen, from the slideshow's Center, AutoSize, Stretch and
// KeepAspect options.

namespace nimbrel::player {

struct LayoutOptions {
    bool center = true;
    bool autoSize = false;    // pictures larger than the screen are shrunk to fit it
    bool stretch = false;     // every picture is scaled to the screen
    bool keepAspect = false;  // scaling keeps the picture's proportions
};

struct PlacedRect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const PlacedRect&) const = default;
};

// The rectangle of a `width` x `height` picture on an `areaWidth` x `areaHeight` screen, in the
// screen's coordinates. Scaled sizes are at least one pixel. Pictures are centred when `center`
// is set, otherwise they start at the top left corner.
PlacedRect PlacePicture(int width, int height, int areaWidth, int areaHeight, const LayoutOptions& options);

// The slide time in milliseconds for a ShowSpeed value (seconds, clamped to 1..240).
int SlideMilliseconds(int showSpeed);

}  // namespace nimbrel::player
