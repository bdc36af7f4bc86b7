#include "midi/track_merge.h"

#include <algorithm>
#include <cstring>

#include "midi/track_reader.h"

namespace {

void PutVlq(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[5];
    int n = 0;
    bytes[n++] = static_cast<uint8_t>(value & 0x7F);
    while ((value >>= 7) != 0) bytes[n++] = static_cast<uint8_t>(0x80 | (value & 0x7F));
    while (n > 0) out.push_back(bytes[--n]);
}

void PutBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// One event of a track as it will be written: where its track stands in the group, and its event.
struct Timed {
    int64_t tick;
    size_t track;
    MidiEvent event;
};

// Writes one event, its status always written out.
void PutEvent(std::vector<uint8_t>& out, const MidiEvent& e) {
    out.push_back(e.status);
    if (e.status < 0xF0) {
        out.push_back(e.data1);
        if ((e.status & 0xE0) != 0xC0) out.push_back(e.data2);
        return;
    }
    if (e.status == 0xFF) out.push_back(e.data1);
    PutVlq(out, e.metaLength);
    if (e.metaLength > 0) out.insert(out.end(), e.meta, e.meta + e.metaLength);
}

}  // namespace

std::vector<uint8_t> MergeTracks(const std::vector<uint8_t>& smf, size_t maxTracks) {
    const uint8_t* d = smf.data();
    const size_t n = smf.size();
    if (maxTracks == 0 || n < 14 || std::memcmp(d, "MThd", 4) != 0 || BigEndian32(d + 4) != 6) return smf;
    const size_t declared = (size_t{d[10]} << 8) | d[11];
    if (declared <= maxTracks) return smf;

    // Every declared track's events, read by the reader's own grammar, running status carried over.
    std::vector<std::vector<MidiEvent>> tracks(declared);
    std::vector<int64_t> ends(declared, 0);
    size_t pos = 14;
    uint8_t runningStatus = 0;
    for (size_t t = 0; t < declared; ++t) {
        if (!FindTrackChunk(d, n, pos)) return smf;
        TrackReader reader(d, n, pos + 8, BigEndian32(d + pos + 4), runningStatus);
        MidiEvent e{};
        TrackStep step;
        while ((step = reader.Next(e)) == TrackStep::Event) {
            if (e.status == 0xFF && e.data1 == 0x2F) continue;  // each merged track gets one of its own
            tracks[t].push_back(e);
        }
        if (step != TrackStep::End) return smf;
        ends[t] = reader.Tick();
        runningStatus = reader.RunningStatus();
        const uint64_t next = std::max<uint64_t>(reader.Position(), reader.StatedEnd());
        if (next > n) return smf;
        pos = static_cast<size_t>(next);
    }

    // Neighbouring tracks go together, so that the player's order across groups stays the tracks'.
    const size_t perGroup = (declared + maxTracks - 1) / maxTracks;
    const size_t groups = (declared + perGroup - 1) / perGroup;
    std::vector<uint8_t> out(d, d + 14);
    out[8] = 0;
    out[9] = 1;  // several tracks played together
    out[10] = static_cast<uint8_t>(groups >> 8);
    out[11] = static_cast<uint8_t>(groups);
    std::vector<Timed> events;
    for (size_t g = 0; g < groups; ++g) {
        const size_t first = g * perGroup, last = std::min(declared, first + perGroup);
        events.clear();
        int64_t end = 0;
        for (size_t t = first; t < last; ++t) {
            for (const MidiEvent& e : tracks[t]) events.push_back({e.tick, t, e});
            end = std::max(end, ends[t]);
        }
        // Taken in track order, so a stable sort by tick leaves ties by track, then by place.
        std::stable_sort(events.begin(), events.end(),
                         [](const Timed& a, const Timed& b) { return a.tick < b.tick; });
        std::vector<uint8_t> body;
        int64_t tick = 0;
        for (const Timed& t : events) {
            // A merged delta is never longer than its own track's, so it fits as the original did.
            PutVlq(body, static_cast<uint32_t>(t.tick - tick));
            tick = t.tick;
            PutEvent(body, t.event);
        }
        PutVlq(body, static_cast<uint32_t>(end - tick));
        body.insert(body.end(), {0xFF, 0x2F, 0x00});
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        PutBigEndian32(out, static_cast<uint32_t>(body.size()));
        out.insert(out.end(), body.begin(), body.end());
    }
    return out;
}
