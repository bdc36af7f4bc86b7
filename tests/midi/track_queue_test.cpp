// The queue that merges many tracks hands out their events in playing order: by tick, a lower
// track first on a shared tick, however the tracks' ticks interleave and whenever tracks end.
#include "midi/track_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <utility>
#include <vector>

namespace {

TEST(TrackQueue, HandsOutEveryTracksEventsInPlayingOrder) {
    uint32_t seed = 12345;
    auto next = [&](uint32_t below) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % below;
    };
    for (const int tracks : {1, 2, 3, 17, 100}) {
        SCOPED_TRACE(tracks);
        // Each track's ticks rise, often staying on one tick and often meeting other tracks'.
        std::vector<std::vector<int64_t>> ticks(static_cast<size_t>(tracks));
        std::vector<std::pair<int64_t, int32_t>> expected;
        for (int t = 0; t < tracks; ++t) {
            int64_t tick = next(5);
            for (uint32_t n = 1 + next(40); n > 0; --n) {
                ticks[static_cast<size_t>(t)].push_back(tick);
                expected.emplace_back(tick, t);
                tick += next(3);
            }
        }
        std::sort(expected.begin(), expected.end());

        TrackQueue queue;
        std::vector<size_t> at(static_cast<size_t>(tracks), 0);
        // Added out of track order, as the tracks' order must come from the entries alone.
        for (int t = tracks - 1; t >= 0; --t) queue.Add({ticks[static_cast<size_t>(t)][0], t, t});
        queue.Order();
        std::vector<std::pair<int64_t, int32_t>> got;
        while (!queue.Empty()) {
            const TrackQueue::Entry top = queue.Top();
            // Second: the next event of the other tracks, where a run of the top track must stop.
            std::pair<int64_t, int32_t> other{INT64_MAX, -1};
            for (int t = 0; t < tracks; ++t) {
                const size_t i = at[static_cast<size_t>(t)];
                if (t != top.index && i < ticks[static_cast<size_t>(t)].size())
                    other = std::min(other, {ticks[static_cast<size_t>(t)][i], t});
            }
            const TrackQueue::Entry* second = queue.Second();
            ASSERT_EQ(second == nullptr, other.second < 0);
            if (second != nullptr) {
                EXPECT_EQ(std::make_pair(second->tick, second->track), other);
            }
            got.emplace_back(top.tick, top.track);
            const std::vector<int64_t>& own = ticks[static_cast<size_t>(top.index)];
            if (++at[static_cast<size_t>(top.index)] < own.size()) {
                queue.ReplaceTop(own[at[static_cast<size_t>(top.index)]]);
            } else {
                queue.DropTop();
            }
        }
        EXPECT_EQ(got, expected);
    }
}

}  // namespace
