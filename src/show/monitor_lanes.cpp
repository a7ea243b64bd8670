#include "show/monitor_lanes.h"

#include <algorithm>

namespace nimbrel::show {

std::vector<Lane> PlanLanes(const std::vector<imaging::Rect>& monitors, std::size_t primary,
                            const std::vector<std::size_t>& order, std::uint64_t seed, const ShowClock& clock) {
    std::vector<std::size_t> byLane;
    if (primary < monitors.size()) byLane.push_back(primary);
    for (std::size_t i = 0; i < monitors.size(); ++i)
        if (i != primary) byLane.push_back(i);
    const std::size_t count = byLane.size();
    const std::int64_t period = clock.StillMilliseconds() + clock.ChangeMilliseconds();
    std::vector<Lane> lanes;
    for (std::size_t k = 0; k < count; ++k) {
        Lane lane;
        lane.monitor = monitors[byLane[k]];
        lane.order = order;
        if (!order.empty())
            std::rotate(lane.order.begin(), lane.order.begin() + static_cast<std::ptrdiff_t>(k * order.size() / count % order.size()),
                        lane.order.end());
        lane.seed = k == 0 ? seed : seed ^ (static_cast<std::uint64_t>(k) * 0xA24BAED4963EE407ull);
        lane.delayMs = period * static_cast<std::int64_t>(k) / static_cast<std::int64_t>(count);
        lanes.push_back(std::move(lane));
    }
    return lanes;
}

std::size_t MonitorAt(const std::vector<imaging::Rect>& monitors, int x, int y) {
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        const imaging::Rect& m = monitors[i];
        if (x >= m.x && x < m.x + m.width && y >= m.y && y < m.y + m.height) return i;
    }
    return 0;
}

}  // namespace nimbrel::show
