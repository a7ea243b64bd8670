#pragma once
// A different picture on each monitor: the screen's monitors each run a show of their own (a
// "lane"), from the same pictures. Lane 0 is the primary monitor's and is the show a single
// monitor has; lane k starts k/N of the way through the pictures' order, walks it with a seed of
// its own (so a random show differs too), and runs k/N of a picture's time behind, so the
// monitors change one after another rather than all at once.

#include <cstdint>
#include <vector>

#include "imaging/layout.h"
#include "show/show_clock.h"

namespace nimbrel::show {

struct Lane {
    imaging::Rect monitor;  // in the screen's coordinates
    std::vector<std::size_t> order;
    std::uint64_t seed = 0;
    std::int64_t delayMs = 0;  // how far the lane's show time runs behind the screen's
};

// The lanes of `monitors` (in the screen's coordinates), the one at index `primary` first.
std::vector<Lane> PlanLanes(const std::vector<imaging::Rect>& monitors, std::size_t primary,
                            const std::vector<std::size_t>& order, std::uint64_t seed, const ShowClock& clock);

// The lane's show time at the screen's show time `ms`.
inline std::int64_t LaneTime(const Lane& lane, std::int64_t ms) {
    return ms > lane.delayMs ? ms - lane.delayMs : 0;
}

// The monitor holding the screen's point (x, y) (the primary monitor holds the desktop's origin),
// else the first.
std::size_t MonitorAt(const std::vector<imaging::Rect>& monitors, int x, int y);

}  // namespace nimbrel::show
