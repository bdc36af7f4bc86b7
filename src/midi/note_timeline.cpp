#include "midi/note_timeline.h"

#include <algorithm>
#include <utility>

namespace {

// Repeated notes of one key are pulled apart by this much so that they read as separate notes.
constexpr double kNoteGap = 1.0 / 60.0;

// A time computed from 32-bit stored values and stored back as 32 bits.
float MinusGap(float seconds) {
    return static_cast<float>(static_cast<double>(seconds) - kNoteGap);
}

}  // namespace

void SongBuilder::StartParse() {
    division = -1;
    runningStatus = 0;
    trackCounter = 0;
    notesInTrack = 0;
    channel0Seen = false;
    channel2Seen = false;
    tempoMap.assign(1, TempoSegment{0, kTempoMapEndTick, kDefaultMicrosPerQuarter, 0});
    appendPosition = 0;
    song.duration = 0.0;
    StartChunk();
}

void SongBuilder::StartChunk() {
    appendPosition = 0;
    for (auto& part : sounding) std::fill(std::begin(part), std::end(part), false);
}

void SongBuilder::SetDivision(int32_t ticksPerQuarter) {
    division = ticksPerQuarter;
    // A second header may change the division after tempo changes were seen; the cached start
    // times were computed with the old one.
    RecomputeStartTimes();
}

int SongBuilder::PartOf(int channel) const {
    // Channel 0 songs keep their hands in separate tracks: the n-th track that stores notes is
    // treated as channel n. Channel 2 lands in part 0 while reading; the finishing pass swaps the
    // parts when channel 2 was used, so that channel 1 ends up first.
    const int partChannel = channel == 0 ? trackCounter : channel;
    const int part = partChannel == 2 ? 0 : partChannel;
    return part < 2 ? part : -1;
}

int SongBuilder::AddNoteOn(int channel, int key, int velocity, int32_t tick) {
    if (key < 0 || key > 127) return 0;

    // Only two hands can be shown: channel 0 split by track, or channels 1 and 2. Mixing channel 0
    // with channel 2, or using any other channel, would put a third voice somewhere.
    switch (channel) {
        case 0:
            channel0Seen = true;
            break;
        case 1:
            break;
        case 2:
            if (channel0Seen) return MidiTooManyTracks;
            channel2Seen = true;
            break;
        default:
            return MidiTooManyTracks;
    }
    if (velocity == 0) {
        AddNoteOff(channel, key, tick);
        return 0;
    }

    const int p = PartOf(channel);
    if (p < 0) return 0;
    SongPart& part = song.parts[p];
    if (part.noteCount < kMaxPartNotes) {
        soundingIndex[p][key] = part.noteCount;
        // A velocity byte with bit 7 set is malformed; the views expect 1..127 (a glow's opacity
        // grows with it), so it is stored as the loudest velocity.
        part.notes[part.noteCount] = NoteRecord{key, TickToSeconds(tick), 0.0f, std::min(velocity, 127)};
        ++part.noteCount;
        ++notesInTrack;
    } else {
        // The part is full and the note is dropped. It still counts as sounding, so that its
        // note-off ends nothing instead of moving the end of an earlier note of the same key.
        soundingIndex[p][key] = -1;
    }
    sounding[p][key] = true;
    return 0;
}

void SongBuilder::AddNoteOff(int channel, int key, int32_t tick) {
    if (key < 0 || key > 127) return;
    const int p = PartOf(channel);
    if (p < 0) return;
    if (sounding[p][key] && soundingIndex[p][key] >= 0) {
        const float end = TickToSeconds(tick);
        song.parts[p].notes[soundingIndex[p][key]].end = end;
        if (end > song.duration) song.duration = end;
    }
    sounding[p][key] = false;
}

void SongBuilder::AddTempo(uint32_t microsPerQuarter, int32_t tick) {
    // Whatever followed the append position belonged to an earlier track and is replaced.
    tempoMap.resize(appendPosition + 1);
    TempoSegment& previous = tempoMap[appendPosition];
    previous.lastTick = tick - 1;
    const int64_t start = previous.startMicros + SegmentMicros(previous);
    tempoMap.push_back(TempoSegment{tick, kTempoMapEndTick, static_cast<int32_t>(microsPerQuarter), start});
    appendPosition = tempoMap.size() - 1;
}

int64_t SongBuilder::SegmentMicros(const TempoSegment& segment) const {
    if (division <= 0) return 0;
    // Each segment counts one tick more than its span, so tick t is converted as t + 1 ticks.
    return (static_cast<int64_t>(segment.lastTick) - segment.firstTick + 1) * segment.microsPerQuarter /
           division;
}

void SongBuilder::RecomputeStartTimes() {
    int64_t start = 0;
    for (TempoSegment& segment : tempoMap) {
        segment.startMicros = start;
        start += SegmentMicros(segment);
    }
}

float SongBuilder::TickToSeconds(int32_t tick) const {
    if (division <= 0) return 0.0f;
    // The map's first ticks never decrease along it and each segment ends where the next begins,
    // so the only segment that can hold the tick is the last one starting at or before it. A tick
    // that no segment holds gets the time at the end of the whole map.
    auto after = std::upper_bound(tempoMap.begin(), tempoMap.end(), tick,
                                  [](int32_t t, const TempoSegment& s) { return t < s.firstTick; });
    int64_t total;
    if (after != tempoMap.begin() && tick <= std::prev(after)->lastTick) {
        const TempoSegment& s = *std::prev(after);
        total =
            s.startMicros + (static_cast<int64_t>(tick) - s.firstTick + 1) * s.microsPerQuarter / division;
    } else {
        const TempoSegment& last = tempoMap.back();
        total = last.startMicros + SegmentMicros(last);
    }
    return static_cast<float>(total) / 1000000.0f;
}

void SongBuilder::FinishSong() {
    // Bar lines every four quarter notes (time signatures are not read), from the start to the
    // first line more than 5 s past the last note end. Without a header there is no bar length.
    song.barLineCount = 0;
    if (division > 0 && song.duration + 5.0 >= 0.0) {
        const int64_t step = 4 * static_cast<int64_t>(division);
        int64_t tick = 0;
        float t;
        do {
            if (song.barLineCount >= kMaxBarLines) break;
            t = TickToSeconds(static_cast<int32_t>(std::min<int64_t>(tick, INT32_MAX)));
            tick += step;
            song.barLines[song.barLineCount++] = t;
        } while (song.duration + 5.0 >= t);
    }

    // Note ends: a note that follows the previous note of its key within 1/60 s (or starts before
    // it ended) shortens that note, leaving a visible gap; a note that never got a note-off ends
    // 1/60 s before the next note of its part begins.
    for (SongPart& part : song.parts) {
        int32_t lastIndexOfKey[128] = {};
        float lastEndOfKey[128];
        std::fill(std::begin(lastEndOfKey), std::end(lastEndOfKey), -1.0f);
        float previousEnd = -1.0f;
        for (int32_t i = 0; i < part.noteCount; ++i) {
            const NoteRecord note = part.notes[i];
            if (static_cast<double>(note.start) - lastEndOfKey[note.key] < kNoteGap) {
                NoteRecord& earlier = part.notes[lastIndexOfKey[note.key]];
                earlier.end = MinusGap(earlier.end);
            }
            if (previousEnd == 0.0f) part.notes[i - 1].end = MinusGap(note.start);
            lastIndexOfKey[note.key] = i;
            lastEndOfKey[note.key] = note.end;
            previousEnd = note.end;
        }
    }

    // With channels 1 and 2 in use, channel 1 is the first part.
    if (channel2Seen) std::swap(song.parts[0], song.parts[1]);
}
