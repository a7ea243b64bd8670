#include "show/live_show.h"

#include <algorithm>

namespace nimbrel::show {

LiveShow::LiveShow(Show& show, int frameMs, DecodeAhead::ReadyCallback ready, std::int64_t delayMs)
    : show_(show), frameMs_(std::max(frameMs, 1)), delayMs_(std::max<std::int64_t>(delayMs, 0)),
      live_(show.Clock()) {
    // Nothing showable: no worker, and the background stays.
    if (show_.PictureCount() == 0) return;
    ahead_ = std::make_unique<DecodeAhead>(show_, std::move(ready));
    ahead_->Request(0);
}

LiveShow::~LiveShow() {
    Stop();
}

void LiveShow::Stop() {
    if (ahead_) ahead_->Stop();
}

bool LiveShow::Draw(const Moment& moment, Frame& out) {
    if (!show_.Draw(moment, out)) return false;
    drawnSlide_ = moment.phase == Phase::Still && !Moving() ? moment.slide : -1;
    return true;
}

LiveShow::Step LiveShow::Update(std::int64_t wallMs, Frame& out) {
    Step step;
    const std::int64_t lastReady = ReadySlide();
    // A show of one picture keeps showing it, without decoding it again, unless it moves.
    const bool still = show_.PictureCount() == 1 && !Moving();
    if (!showing_) {
        if (lastReady < 0) return step;
        // The first picture shows at once.
        showing_ = true;
        live_.Start(wallMs + delayMs_);
        current_ = 0;
        step.drew = Draw(show_.Clock().At(0), out);
        if (!still) ahead_->Request(1);
    }
    if (still) return step;
    const std::int64_t now = live_.Now(wallMs, lastReady);
    const Moment moment = show_.Clock().At(now);
    if (moment.slide > current_) {
        current_ = moment.slide;
        ahead_->Request(current_ + 1);
    }
    if (moment.phase == Phase::Change || moment.slide != drawnSlide_) {
        const bool drew = Draw(moment, out);
        step.drew = step.drew || drew;
        if (drew) step.showTime = now;
    }
    if (moment.phase == Phase::Still) {
        // Waiting for the next picture: its report starts the change.
        if (lastReady <= moment.slide && now >= live_.HoldPoint(lastReady)) return step;
        const std::int64_t change = show_.Clock().ChangeStart(moment.slide);
        // Before the lane's show time starts, it holds its first moment.
        const std::int64_t wait = now == 0 && wallMs < live_.StartedAt() ? live_.StartedAt() - wallMs : change - now;
        step.wakeAt = wallMs + std::clamp<std::int64_t>(Moving() ? frameMs_ : wait, 1, 0x7FFFFFFF);
    } else {
        step.wakeAt = wallMs + frameMs_;
    }
    return step;
}

}  // namespace nimbrel::show
