#pragma once
// The show's clock: which picture shows at a time of the show, when each change of picture
// starts, which effect it plays and how far it has got. Pure arithmetic over the project's
// values and a seed, so every front end (the players, the editor's preview, nimbrel-cli render)
// agrees on what is on the screen at time t.
//
// Time is counted in milliseconds from the moment the first picture shows. Slide k (the k-th
// picture shown, from 0) stays ShowSpeed seconds; then the change to slide k + 1 runs for one
// second when the project plays a transition, or is a cut that takes no time.

#include <cstdint>

namespace nimbrel::show {

inline constexpr int kChangeMilliseconds = 1000;

enum class Phase { Still, Change };

// What the clock says about one time of the show.
struct Moment {
    std::int64_t slide = 0;  // the slide that shows (Still) or is being left (Change)
    Phase phase = Phase::Still;
    double progress = 0;  // how far the change has got, 0 to below 1 (Change only)
    int effect = -1;      // the transition's effect, 0..127 (Change only)
    std::int64_t time = 0;  // the show time of the moment, in milliseconds (0 for times before 0)
};

class ShowClock {
public:
    // `showSpeed` and `transition` as the project stores them (out-of-range values as the player
    // takes them); `seed` decides the effects of a random transition.
    ShowClock(int showSpeed, int transition, std::uint64_t seed);

    int StillMilliseconds() const { return still_; }
    // 1000 with a transition, 0 for cuts.
    int ChangeMilliseconds() const { return change_; }
    // The start of slide k's still phase and of the change from slide k to k + 1.
    std::int64_t SlideStart(std::int64_t slide) const { return slide * (still_ + change_); }
    std::int64_t ChangeStart(std::int64_t slide) const { return SlideStart(slide) + still_; }
    // The effect of the change from slide k to k + 1 (0..127), or -1 for a cut.
    int EffectOf(std::int64_t slide) const;
    // The moment at `ms` (times before 0 are the first slide's).
    Moment At(std::int64_t ms) const;
    // How far slide k has got through its time on screen at `ms`, 0 to 1: from the start of the
    // change that brings it (the show's start for slide 0) to the end of the change away from it.
    double OnScreen(std::int64_t slide, std::int64_t ms) const;

private:
    int still_;
    int change_;
    int transition_;
    std::uint64_t seed_;
};

// The show's time on a live screen. The clock runs with the wall clock, but holds at the start
// of a change while the picture it leads to is still being decoded, and goes on from there once
// it is ready: a picture never shows for less than its time, and no change is skipped.
class LiveClock {
public:
    explicit LiveClock(const ShowClock& clock) : clock_(clock) {}
    // The first picture went on screen at `wallMs`.
    void Start(std::int64_t wallMs) { offset_ = wallMs; }
    // The wall time the show's time 0 is at (later than Start's once it waited for a picture).
    std::int64_t StartedAt() const { return offset_; }
    // The show time at `wallMs` (never earlier than the last one given), when slides up to
    // `lastReady` are decoded.
    std::int64_t Now(std::int64_t wallMs, std::int64_t lastReady);
    // Where the show holds while slide lastReady + 1 is not decoded: the last millisecond before
    // the change to it.
    std::int64_t HoldPoint(std::int64_t lastReady) const { return clock_.ChangeStart(lastReady) - 1; }

private:
    const ShowClock& clock_;
    std::int64_t offset_ = 0;
    std::int64_t last_ = 0;
};

}  // namespace nimbrel::show
