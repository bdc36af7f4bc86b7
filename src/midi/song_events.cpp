// The file is walked as the reader walks it (the declared tracks only, chunks of other kinds
// skipped, running status carried from one track to the next), every channel event kept, and the
// events of all tracks merged by tick and then by track. A note-on is given its part by finding the
// reader's note of the same key that starts at the very same moment: the times come from the same
// tempo map in the same 32-bit form, so the match is exact, and where two parts strike one key
// together the note of the event's own track and channel is taken first.
#include "midi/song_events.h"

#include <algorithm>
#include <cstring>

#include "midi/midi_reader.h"
#include "midi/note_timeline.h"
#include "midi/track_reader.h"

namespace {

struct Pending {
    int64_t tick;
    int32_t track;
    uint8_t status;
    uint8_t data1;
    uint8_t data2;
};

// Walks the declared tracks into `out`, in each track's own order. False for a file ParseSong
// would refuse.
bool CollectTracks(const MidiBytes in, std::vector<Pending>& out) {
    const uint8_t* d = in.data;
    const size_t n = in.size;
    if (n < 14 || std::memcmp(d, "MThd", 4) != 0) return false;
    const uint32_t declared = (uint32_t{d[10]} << 8) | d[11];
    size_t pos = 14;
    uint8_t runningStatus = 0;
    for (uint32_t track = 0; track < declared; ++track) {
        if (!FindTrackChunk(d, n, pos)) return false;
        const uint32_t length = BigEndian32(d + pos + 4);
        TrackReader reader(d, n, pos + 8, length, runningStatus);
        MidiEvent e{};
        TrackStep step;
        while ((step = reader.Next(e)) == TrackStep::Event) {
            if (e.status >= 0xF0 || e.data1 >= 0x80 || e.data2 >= 0x80) continue;
            uint8_t status = e.status;
            if ((status & 0xF0) == 0x90 && e.data2 == 0)
                status = static_cast<uint8_t>(0x80 | (status & 0x0F));
            out.push_back({e.tick, static_cast<int32_t>(track), status, e.data1, e.data2});
        }
        if (step != TrackStep::End) return false;
        runningStatus = reader.RunningStatus();
        pos = static_cast<size_t>(std::max<uint64_t>(reader.Position(), reader.StatedEnd()));
    }
    return true;
}

// The reader's notes by key and start, to find the part of a note-on.
class PartFinder {
  public:
    explicit PartFinder(const SongData& song) : song_(song) {
        for (int p = 0; p < song.PartsInUse(); ++p) {
            const SongPart& part = song.parts[p];
            for (int32_t i = 0; i < part.noteCount && part.notes != nullptr; ++i) {
                notes_.push_back({part.notes[i].key, part.notes[i].start, static_cast<int16_t>(p)});
            }
        }
        std::sort(notes_.begin(), notes_.end(), [](const Note& a, const Note& b) {
            return a.key != b.key ? a.key < b.key : a.start != b.start ? a.start < b.start : a.part < b.part;
        });
        claimed_.assign(notes_.size(), false);
    }

    int16_t Find(int key, float start, int track, int channel) {
        const auto first = std::lower_bound(
            notes_.begin(), notes_.end(), Note{key, start, INT16_MIN},
            [](const Note& a, const Note& b) { return a.key != b.key ? a.key < b.key : a.start < b.start; });
        size_t chosen = notes_.size();
        for (auto it = first; it != notes_.end() && it->key == key && it->start == start; ++it) {
            const size_t i = static_cast<size_t>(it - notes_.begin());
            if (claimed_[i]) continue;
            const SongPart& part = song_.parts[it->part];
            if (part.track == track && part.channel == channel) {
                chosen = i;
                break;
            }
            if (chosen == notes_.size()) chosen = i;
        }
        if (chosen == notes_.size()) return kNoPart;
        claimed_[chosen] = true;
        return notes_[chosen].part;
    }

  private:
    struct Note {
        int32_t key;
        float start;
        int16_t part;
    };
    const SongData& song_;
    std::vector<Note> notes_;
    std::vector<bool> claimed_;
};

}  // namespace

bool ReadSongEvents(const uint8_t* data, size_t size, const SongData& song, const TempoMap& tempo,
                    SongEvents& out) {
    out = {};
    std::vector<Pending> pending;
    if (!CollectTracks(StandardMidiBytes(data, size), pending)) return false;
    std::stable_sort(pending.begin(), pending.end(), [](const Pending& a, const Pending& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.track < b.track;
    });
    PartFinder parts(song);
    TempoMap::Walker walker(tempo);
    out.events.reserve(pending.size());
    for (const Pending& p : pending) {
        const int channel = p.status & 0x0F;
        int16_t part = kNoPart;
        if ((p.status & 0xF0) == 0x90) {
            part = channel == kPercussionChannel
                       ? kDrumsPart
                       : parts.Find(p.data1, walker.Seconds(p.tick), p.track, channel);
        }
        out.events.push_back({tempo.Seconds(p.tick), p.status, p.data1, p.data2, part});
        out.channels = static_cast<uint16_t>(out.channels | (1u << channel));
    }
    return true;
}
