#pragma once
// A Flash movie recorded at compile, played as a show: the recorded frames loop at the movie's
// frame rate from the first, and each is fitted into every monitor keeping its aspect, centred,
// on the movie's background colour. flash.bin (where no Flash control plays the movie),
// nimbrel-cli render and the editor's preview all draw recorded frames through this class, so
// they show the same frame at the same show time.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "flash/frame_index.h"
#include "imaging/image.h"
#include "imaging/picture_decoder.h"
#include "show/frame_composer.h"
#include "show/show.h"

namespace nimbrel::show {

// The frame of `index` shown `ms` into the looping show (0 before the start).
std::size_t MovieFrameAt(const flash::FrameIndex& index, std::int64_t ms);

// The show time at which the frame after the one of `ms` comes on screen.
std::int64_t NextMovieChange(const flash::FrameIndex& index, std::int64_t ms);

// Draws `picture` fitted into each of the screen's monitors (the whole screen when it has none)
// on `background` (0xRRGGBB) into `out`, which takes the screen's size.
void ComposeMovieScreen(const imaging::Image& picture, std::uint32_t background, const Screen& screen,
                        Frame& out);

class RecordedMovie {
public:
    // The bytes of the frame file or member `name`; throws or returns "" when it cannot be read.
    using FrameBytes = std::function<std::string(const std::string& name)>;

    // `decoder` must outlive the movie.
    RecordedMovie(flash::FrameIndex index, FrameBytes bytes, imaging::PictureDecoder& decoder);

    const flash::FrameIndex& Index() const { return index_; }
    std::size_t FrameAt(std::int64_t ms) const { return MovieFrameAt(index_, ms); }
    std::int64_t NextChange(std::int64_t ms) const { return NextMovieChange(index_, ms); }

    // Draws the frame of show time `ms` on `screen` into `out`. False when `out` already shows
    // it, or when its picture cannot be read (the picture shown before then stays; before any,
    // the background).
    bool Draw(std::int64_t ms, const Screen& screen, Frame& out);

private:
    flash::FrameIndex index_;
    FrameBytes bytes_;
    imaging::PictureDecoder& decoder_;
    std::string shownName_;  // the frame file `picture_` holds
    imaging::Image picture_;
    bool drawn_ = false;
    Screen drawnScreen_;  // the screen and the frame file drawn last
    std::string drawnName_;
};

}  // namespace nimbrel::show
