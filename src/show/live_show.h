#pragma once
// A running show on a live screen (the players, the editor's preview): the show's decoding ahead
// on a worker thread and its live clock, asked "draw this moment; when do I call again?" by a
// front end that owns a window and a timer. The front end calls Update when its timer fires and
// when the worker reports a slide ready, and puts the frame on screen when Update drew one.

#include <cstdint>
#include <memory>
#include <optional>

#include "show/decode_ahead.h"
#include "show/show.h"
#include "show/show_clock.h"

namespace nimbrel::show {

class LiveShow {
public:
    struct Step {
        bool drew = false;  // `out` holds a new frame for the screen
        // The wall time to call again at; none: when the worker reports the next slide ready (or
        // never, for a still show of one picture).
        std::optional<std::int64_t> wakeAt;
        std::int64_t showTime = 0;  // the show time of the frame drawn
    };

    // Starts decoding the first picture of `show` (which must outlive this object) at once.
    // `ready` runs on the worker as DecodeAhead's does. The show's time runs `delayMs` behind
    // the wall clock from the first picture on, holding its first moment meanwhile (a monitor
    // with a show of its own starts its changes a little later than the one before it).
    // `frameMs` is the time between frames while something moves.
    LiveShow(Show& show, int frameMs, DecodeAhead::ReadyCallback ready = {}, std::int64_t delayMs = 0);
    ~LiveShow();
    LiveShow(const LiveShow&) = delete;
    LiveShow& operator=(const LiveShow&) = delete;

    // Draws what the show's clock says at wall time `wallMs` into `out`, when it changed.
    Step Update(std::int64_t wallMs, Frame& out);
    bool Showing() const { return showing_; }
    std::int64_t ReadySlide() const { return ahead_ ? ahead_->ReadySlide() : -1; }
    // True once it is known that nothing can be shown.
    bool Failed() const { return !ahead_ || ahead_->Failed(); }
    // Ends the worker (see DecodeAhead::Stop).
    void Stop();

private:
    bool Moving() const { return show_.Options().motion; }
    bool Draw(const Moment& moment, Frame& out);

    Show& show_;
    const int frameMs_;
    const std::int64_t delayMs_;
    LiveClock live_;
    bool showing_ = false;
    std::int64_t current_ = 0;      // the slide the clock is at
    std::int64_t drawnSlide_ = -1;  // the slide on screen when still, else -1
    std::unique_ptr<DecodeAhead> ahead_;
};

}  // namespace nimbrel::show
