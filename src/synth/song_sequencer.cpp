#include "synth/song_sequencer.h"

#include <algorithm>
#include <cstring>

#include "midi/midi_reader.h"

namespace {

constexpr uint8_t kMeta = 0xFF;
constexpr uint8_t kTempo = 0x51;

}  // namespace

bool SongSequencer::Open(const uint8_t* data, size_t size) {
    readers_.clear();
    waiting_.clear();
    queue_ = TrackQueue();
    endTick_ = 0;
    const MidiBytes in = StandardMidiBytes(data, size);
    const uint8_t* d = in.data;
    const size_t n = in.size;
    // The header the reader takes: six bytes, formats 0 to 2, timed in ticks per quarter.
    if (n < 14 || std::memcmp(d, "MThd", 4) != 0 || BigEndian32(d + 4) != 6 || d[8] != 0 || d[9] > 2 ||
        (d[12] & 0x80) != 0)
        return false;
    const int32_t division = (int32_t{d[12]} << 8) | d[13];
    if (division == 0) return false;
    const uint32_t declared = (uint32_t{d[10]} << 8) | d[11];

    // The walk the reader makes: exactly the declared tracks, chunks of other kinds between them
    // stepped over, running status carried from one track into the next. Each track's decoder is
    // kept as it stood at the track's start; only the tempo changes are kept of its events.
    std::vector<TempoChange> changes;
    size_t pos = 14;
    uint8_t runningStatus = 0;
    readers_.reserve(declared);
    for (uint32_t track = 0; track < declared; ++track) {
        if (!FindTrackChunk(d, n, pos)) return false;
        const TrackReader start(d, n, pos + 8, BigEndian32(d + pos + 4), runningStatus);
        TrackReader reader = start;
        MidiEvent e{};
        TrackStep step;
        while ((step = reader.Next(e)) == TrackStep::Event) {
            if (e.status == kMeta && e.data1 == kTempo) {
                changes.push_back(
                    {e.tick, (uint32_t{e.meta[0]} << 16) | (uint32_t{e.meta[1]} << 8) | e.meta[2]});
            }
        }
        if (step != TrackStep::End) {
            readers_.clear();
            return false;
        }
        endTick_ = std::max(endTick_, reader.Tick());
        runningStatus = reader.RunningStatus();
        pos = static_cast<size_t>(std::max<uint64_t>(reader.Position(), reader.StatedEnd()));
        readers_.push_back(start);
    }
    tempo_.Build(division, std::move(changes));

    waiting_.resize(readers_.size());
    for (size_t t = 0; t < readers_.size(); ++t) {
        if (Advance(t)) queue_.Add({waiting_[t].tick, static_cast<int32_t>(t), static_cast<int32_t>(t)});
    }
    queue_.Order();
    return true;
}

bool SongSequencer::Advance(size_t index) {
    TrackReader& reader = readers_[index];
    MidiEvent& e = waiting_[index];
    // The file was walked whole when it was opened, so a track can only end here.
    while (reader.Next(e) == TrackStep::Event) {
        if (e.status < 0xF0 && e.data1 < 0x80 && e.data2 < 0x80) return true;
    }
    return false;
}

bool SongSequencer::Next(SequencedEvent& out) {
    if (queue_.Empty()) return false;
    const size_t track = static_cast<size_t>(queue_.Top().index);
    const MidiEvent& e = waiting_[track];
    uint8_t status = e.status;
    if ((status & 0xF0) == 0x90 && e.data2 == 0) status = static_cast<uint8_t>(0x80 | (status & 0x0F));
    out = {e.tick, tempo_.Seconds(e.tick), status, e.data1, e.data2};
    // The track's next event keeps it on top while it falls on the same tick: a later track's
    // event of that tick comes after every one of this track's.
    if (Advance(track)) {
        queue_.ReplaceTop(waiting_[track].tick);
    } else {
        queue_.DropTop();
    }
    return true;
}
