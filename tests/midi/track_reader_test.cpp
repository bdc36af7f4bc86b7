// A walk over a track's events gives exactly the events one Next after another gives: the same
// ticks, statuses, data and places, running status and one-byte events included, however the
// walk is stopped (by tick or by its caller) and however the file's windows cut the events.
#include "midi/track_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "smf_builder.h"

using namespace smf;

namespace {

struct Seen {
    int64_t tick;
    size_t offset;
    int status, data1, data2;
    uint32_t metaLength;
    bool operator==(const Seen&) const = default;
};

// What an event says; a meta or system-exclusive event carries no second data byte, and a
// system-exclusive one no first.
Seen Of(const MidiEvent& e) {
    const bool meta = e.status >= 0xF0;
    return {e.tick,
            e.offset,
            e.status,
            e.status == 0xF0 ? 0 : e.data1,
            meta ? 0 : e.data2,
            meta ? e.metaLength : 0};
}

// Channel events of every length, in and out of running status, between metas and a long
// system-exclusive message, with deltas of one to three bytes. `strikes` gets the tick of each
// note-on that sounds, as written.
Bytes TrackBody(std::vector<int64_t>& strikes) {
    Bytes body = Name("walked");
    int64_t tick = 0;
    for (int i = 0; i < 400; ++i) {
        const uint32_t delta = i % 50 == 0  ? 20000u
                               : i % 9 == 0 ? 128u + static_cast<uint32_t>(i) * 37u
                                            : static_cast<uint32_t>(i % 4);
        const auto key = static_cast<uint8_t>(30 + i * 7 % 60);
        body = Cat({body, On(delta, i % 3, key, 1 + i % 120), Bytes{0x00, key, 0x00}});  // running status
        tick += delta;
        strikes.push_back(tick);
        if (i % 37 == 0) {
            body = Cat({body, Program(1, 2, i % 128), Event(0, {0xD2, 0x40})});
            tick += 1;
        }
        if (i % 91 == 0)
            body = Cat({body, Event(0, Cat({Bytes{0xF0}, Vlq(150), Bytes(149, 0x11), Bytes{0xF7}}))});
        if (i % 53 == 0) {
            body = Cat({body, Tempo(2, 400000 + static_cast<uint32_t>(i))});
            tick += 2;
        }
    }
    return Cat({body, EndOfTrack(5)});
}

std::vector<Seen> ByNext(TrackReader reader, TrackStep& end) {
    std::vector<Seen> seen;
    MidiEvent e{};
    while ((end = reader.Next(e)) == TrackStep::Event) seen.push_back(Of(e));
    return seen;
}

// Walks in steps of `stride` ticks, and has every `refuseEvery`-th event handed back untaken.
std::vector<Seen> ByWalk(TrackReader reader, int64_t stride, int refuseEvery, TrackStep& end) {
    std::vector<Seen> seen;
    MidiEvent e{};
    int64_t until = stride;
    int offered = 0;
    bool pending = false;
    for (;;) {
        if (pending) seen.push_back(Of(e));  // the event the last walk stopped on
        end = reader.Walk(e, until, [&](const MidiEvent& n) {
            if (refuseEvery > 0 && ++offered % refuseEvery == 0) return false;
            seen.push_back(Of(n));
            return true;
        });
        if (end != TrackStep::Event) return seen;
        pending = true;
        if (e.tick > until) until = e.tick + stride;
    }
}

TEST(TrackReader, AWalkGivesTheEventsNextGives) {
    std::vector<int64_t> strikes;
    const Bytes body = TrackBody(strikes);
    const Bytes whole = Chunk("MTrk", body);
    const Bytes cut(whole.begin(), whole.end() - 2);
    const Bytes damaged = Cat({Bytes(whole.begin(), whole.end() - 4), Bytes{0x00, 0xF4, 0x00, 0x00}});
    // A name of this process's own: another run of the tests on the machine must not write or
    // remove the file while this one reads it.
    const std::string path = testing::TempDir() + "track_reader_test-" + std::to_string(getpid()) + ".mid";
    for (const Bytes* data : {&whole, &cut, &damaged}) {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(data->data(), 1, data->size(), f);
        std::fclose(f);
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const auto length = static_cast<uint32_t>(body.size());
        TrackStep expectedEnd;
        const std::vector<Seen> expected =
            ByNext(TrackReader(data->data(), data->size(), 8, length, 0), expectedEnd);
        ASSERT_GT(expected.size(), 800u);
        if (data == &whole) {
            // Every note struck where it was written, whatever its delta's length.
            std::vector<int64_t> struck;
            for (const Seen& e : expected)
                if ((e.status & 0xF0) == 0x90 && e.data2 != 0) struck.push_back(e.tick);
            EXPECT_EQ(struck, strikes);
        }
        for (const size_t window : {size_t{0}, size_t{64}, size_t{100}, size_t{4096}}) {
            for (const auto& [stride, refuse] :
                 {std::pair<int64_t, int>{INT64_MAX / 2, 0}, {0, 0}, {3, 0}, {7, 5}}) {
                SCOPED_TRACE("window " + std::to_string(window) + ", stride " + std::to_string(stride) +
                             ", refusing every " + std::to_string(refuse) + ", of " +
                             std::to_string(data->size()) + " bytes");
                FileRegion region{fd, 0, data->size(), 0};
                std::vector<uint8_t> memory(std::max<size_t>(window, TrackReader::kLeastWindow));
                TrackReader reader = window == 0 ? TrackReader(data->data(), data->size(), 8, length, 0)
                                                 : TrackReader(region, memory.data(), window, 8, length, 0);
                TrackStep end;
                EXPECT_EQ(ByWalk(reader, stride, refuse, end), expected);
                EXPECT_EQ(end, expectedEnd);
                EXPECT_EQ(region.error, 0);
            }
        }
        close(fd);
    }
    std::remove(path.c_str());
}

}  // namespace
