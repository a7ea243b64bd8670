#include "show/show_clock.h"

#include <algorithm>

#include "imaging/layout.h"
#include "imaging/random_source.h"
#include "imaging/transitions.h"

namespace nimbrel::show {

ShowClock::ShowClock(int showSpeed, int transition, std::uint64_t seed)
    : still_(imaging::ShowDurationMs(showSpeed)),
      change_(transition >= 0 && transition <= imaging::kTransitionRandom ? kChangeMilliseconds : 0),
      transition_(transition),
      seed_(seed) {}

int ShowClock::EffectOf(std::int64_t slide) const {
    if (change_ == 0) return imaging::kNoTransition;
    // Each change draws from a source of its own, so any change's effect is known at once.
    imaging::RandomSource random(seed_ ^ (static_cast<std::uint64_t>(slide) * 0xD1B54A32D192ED03ull));
    random.Next();
    return imaging::ResolveTransition(transition_, random);
}

Moment ShowClock::At(std::int64_t ms) const {
    Moment moment;
    if (ms <= 0) return moment;
    moment.time = ms;
    const std::int64_t period = still_ + change_;
    moment.slide = ms / period;
    const std::int64_t into = ms % period;
    if (into >= still_) {
        moment.phase = Phase::Change;
        moment.progress = static_cast<double>(into - still_) / change_;
        moment.effect = EffectOf(moment.slide);
    }
    return moment;
}

double ShowClock::OnScreen(std::int64_t slide, std::int64_t ms) const {
    const std::int64_t begin = slide > 0 ? SlideStart(slide) - change_ : 0;
    const std::int64_t end = ChangeStart(slide) + change_;
    if (end <= begin) return 0;
    return std::clamp(static_cast<double>(ms - begin) / static_cast<double>(end - begin), 0.0, 1.0);
}

std::int64_t LiveClock::Now(std::int64_t wallMs, std::int64_t lastReady) {
    std::int64_t now = wallMs - offset_;
    const std::int64_t limit = HoldPoint(lastReady);
    if (now > limit) {
        // Waiting for a picture: the show stands still, and goes on from here.
        offset_ = wallMs - limit;
        now = limit;
    }
    last_ = std::max(last_, now);
    return last_;
}

}  // namespace nimbrel::show
