#pragma once
// Captions on the screen. Text is drawn into alpha masks once, where fonts are at hand (the
// build, nimbrel-cli render, the editor's preview), at a reference size; the masks travel in the
// screensaver as one member, so the players need no font code. The engine scales a mask to each
// monitor's height and composes it with a translucent band at the caption's place, the same way
// on every front end.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "imaging/image.h"
#include "imaging/layout.h"

namespace nimbrel::show {

// The member that carries a show's caption masks.
inline constexpr const char* kCaptionsMemberName = "Captions.dat";

// The text's coverage, 0 (none) to 255 (full), in rows from the top. The mask's height is the
// font's line height (ascender to descender) at `fontPixels` pixels to the em.
struct CaptionMask {
    int width = 0;
    int height = 0;
    int fontPixels = 0;
    std::vector<std::uint8_t> alpha;  // width * height
    bool Empty() const { return width <= 0 || height <= 0; }
};

// Where a caption sits on each monitor.
enum class CaptionPlace {
    BottomLeft = 0,
    BottomCenter = 1,
    BottomRight = 2,
    TopLeft = 3,
    TopCenter = 4,
    TopRight = 5,
};
// A stored value as a place (values outside the list give the bottom left, the default).
CaptionPlace CaptionPlaceFrom(int value);

// Sizes a caption keeps on a monitor, as shares of the monitor's height: the text's em, the safe
// margin from the monitor's edges (both ways), and the band's padding around the text (as a
// share of the em). A caption wider than the room left is scaled down to fit.
inline constexpr double kCaptionEmShare = 0.04;
inline constexpr double kCaptionMarginShare = 0.05;
inline constexpr double kCaptionPadShare = 0.35;
// The width, in ems, a mask may take at most: what fits a 4:3 monitor inside its margins and
// padding. Wider monitors show it at full size; narrower ones shrink it.
inline constexpr double kCaptionMaxEms =
    (4.0 / 3.0 - 2 * kCaptionMarginShare) / kCaptionEmShare - 2 * kCaptionPadShare;

// Where a caption's band and text lie on a monitor, in frame coordinates.
struct CaptionLayout {
    imaging::Rect band;
    imaging::Rect text;  // the scaled mask's place
};
CaptionLayout LayOutCaption(const CaptionMask& mask, const imaging::Rect& monitor, CaptionPlace place);

// The mask scaled to width x height by averaging the area each target pixel covers.
CaptionMask ScaleMask(const CaptionMask& mask, int width, int height);

// The masks of a show's captions as the member stores them, by entry (the picture's place in the
// project's file list), and back. Reading raises nimbrel::Error for damaged bytes.
std::string WriteCaptionMasks(const std::map<std::size_t, CaptionMask>& masks);
std::map<std::size_t, CaptionMask> ReadCaptionMasks(std::string_view bytes);

// The captions of a show, by member (the engine's picture index), with their masks scaled for
// each monitor size as they are first drawn.
class CaptionLayer {
public:
    CaptionLayer(std::map<std::size_t, CaptionMask> masks, CaptionPlace place)
        : masks_(std::move(masks)), place_(place) {}
    bool Has(std::size_t member) const { return masks_.count(member) != 0; }
    CaptionPlace Place() const { return place_; }
    // Draws the member's caption (none when it has none) on each monitor of `frame`, at
    // `opacity` (0 to 256; a change between pictures fades one caption into the next).
    void Draw(std::size_t member, const std::vector<imaging::Rect>& monitors, int opacity,
              imaging::Image& frame) const;

private:
    struct Scaled {
        CaptionLayout layout;
        CaptionMask mask;
    };
    std::shared_ptr<const Scaled> ScaledFor(std::size_t member, const imaging::Rect& monitor) const;

    std::map<std::size_t, CaptionMask> masks_;
    CaptionPlace place_;
    mutable std::mutex cacheMutex_;  // guards cache_
    mutable std::map<std::tuple<std::size_t, int, int, int, int>, std::shared_ptr<const Scaled>> cache_;
};

}  // namespace nimbrel::show
