#include "midi/meter_events.h"

#include <algorithm>

#include "midi/midi_reader.h"
#include "midi/track_reader.h"

namespace {

// Keeps one event per tick, the last one read, in tick order.
template <typename Event>
void SortAndKeepLast(std::vector<Event>& events) {
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.tick < b.tick; });
    std::vector<Event> kept;
    for (const Event& e : events) {
        if (!kept.empty() && kept.back().tick == e.tick) {
            kept.back() = e;
        } else {
            kept.push_back(e);
        }
    }
    events = std::move(kept);
}

}  // namespace

SongMeters ReadSongMeters(const uint8_t* data, size_t size) {
    SongMeters out;
    const MidiBytes in = StandardMidiBytes(data, size);
    const uint8_t* d = in.data;
    const size_t n = in.size;
    if (n < 14 || d[0] != 'M' || d[1] != 'T' || d[2] != 'h' || d[3] != 'd' || (d[12] & 0x80)) return out;
    out.division = (int32_t{d[12]} << 8) | d[13];
    if (out.division == 0) return out;
    size_t pos = 14;
    uint8_t running = 0;
    while (pos <= n && n - pos >= 8) {
        const uint32_t length = BigEndian32(d + pos + 4);
        const bool track = d[pos] == 'M' && d[pos + 1] == 'T' && d[pos + 2] == 'r' && d[pos + 3] == 'k';
        if (track) {
            TrackReader reader(d, n, pos + 8, length, running);
            MidiEvent e{};
            while (reader.Next(e) == TrackStep::Event) {
                if (e.status != 0xFF) continue;
                if (e.data1 == 0x58 && e.metaLength == 4) {
                    const int power = e.meta[1];
                    if (e.meta[0] > 0 && power <= 6) out.times.push_back({e.tick, e.meta[0], 1 << power});
                } else if (e.data1 == 0x59 && e.metaLength == 2) {
                    const int fifths = static_cast<int8_t>(e.meta[0]);
                    if (fifths >= -7 && fifths <= 7 && e.meta[1] <= 1)
                        out.keys.push_back({e.tick, fifths, e.meta[1] == 1});
                }
            }
            running = reader.RunningStatus();
        }
        if (length > n - pos - 8) break;
        pos += 8 + static_cast<size_t>(length);
    }
    SortAndKeepLast(out.times);
    SortAndKeepLast(out.keys);
    return out;
}
