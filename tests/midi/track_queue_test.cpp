// The queue that merges many tracks hands out their events in playing order: by tick, a lower
// track first on a shared tick, however the tracks' ticks interleave and whenever tracks end. So
// does the merge by windows, however little room it has and however the notes bunch.
#include "midi/track_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "midi/merge_windows.h"
#include "smf_builder.h"

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

struct Cursor {
    TrackReader reader;
    MidiEvent event;
    int32_t track;
};

TEST(MergeWindows, GivesEveryNoteInPlayingOrder) {
    uint32_t seed = 777;
    auto next = [&](uint32_t below) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % below;
    };
    // (tick, track, place in the track, key): the order the player sends the notes in.
    using Sent = std::tuple<int64_t, int32_t, int32_t, int>;
    struct Shape {
        const char* name;
        int tracks;
        uint32_t most;  // the longest delta
        bool burst;     // a track strikes hundreds of notes on one tick
    };
    for (const Shape& shape : {Shape{"dense", 20, 3, false}, Shape{"sparse", 12, 200000, false},
                               Shape{"mixed", 40, 5000, false}, Shape{"bursts", 16, 40, true}}) {
        std::vector<smf::Bytes> bodies;
        std::vector<Sent> expected;
        for (int t = 0; t < shape.tracks; ++t) {
            smf::Bytes body;
            int64_t tick = 0;
            int32_t place = 0;
            for (uint32_t n = 20 + next(300); n > 0; --n) {
                const uint32_t delta = next(4) == 0 ? 0 : next(shape.most + 1);
                tick += delta;
                const int key = static_cast<int>(next(128));
                // A program change between notes, which the merge passes over.
                if (next(10) == 0) body = smf::Cat({body, smf::Event(0, {0xC0, 5})});
                body = smf::Cat(
                    {body, next(2) == 0 ? smf::On(delta, t % 16, key) : smf::Off(delta, t % 16, key)});
                expected.emplace_back(tick, t, place++, key);
                if (shape.burst && next(40) == 0) {
                    for (int b = 0; b < 300; ++b) {
                        body = smf::Cat({body, smf::On(0, t % 16, b % 128)});
                        expected.emplace_back(tick, t, place++, b % 128);
                    }
                }
            }
            bodies.push_back(smf::Cat({body, smf::EndOfTrack()}));
        }
        std::sort(expected.begin(), expected.end());
        for (const size_t room : {size_t{1}, size_t{7}, size_t{500}, size_t{1} << 16}) {
            SCOPED_TRACE(std::string(shape.name) + ", room " + std::to_string(room));
            std::vector<Cursor> cursors;
            for (int t = 0; t < shape.tracks; ++t) {
                const smf::Bytes& b = bodies[static_cast<size_t>(t)];
                Cursor c{TrackReader(b.data(), b.size(), 0, static_cast<uint32_t>(b.size()), 0), {}, t};
                ASSERT_EQ(c.reader.Next(c.event), TrackStep::Event);
                cursors.push_back(c);
            }
            MergeWindows<Cursor> merge(cursors, room);
            std::vector<Sent> got;
            std::vector<int32_t> places(cursors.size(), 0);
            while (merge.Fill()) {
                for (const auto& n : merge.Notes()) {
                    const int32_t track = cursors[n.cursor].track;
                    got.emplace_back(merge.Base() + n.tick, track, places[static_cast<size_t>(track)]++,
                                     n.data1);
                }
            }
            ASSERT_EQ(got.size(), expected.size());
            EXPECT_EQ(got, expected);
        }
    }
}

}  // namespace
