#include "midi/note_timeline.h"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

void TempoMap::Build(int32_t division, std::vector<TempoChange> changes) {
    division_ = division > 0 ? division : 1;
    std::stable_sort(changes.begin(), changes.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    segments_.clear();
    segments_.reserve(changes.size() + 1);
    segments_.push_back({0, kDefaultMicrosPerQuarter, 0.0, 0.0, 0.0});
    for (const TempoChange& c : changes) {
        TempoSegment& last = segments_.back();
        if (c.tick == last.firstTick) {
            last.microsPerQuarter = c.microsPerQuarter;  // the later change at one tick wins
            continue;
        }
        const double start = last.startMicros +
                             static_cast<double>(c.tick - last.firstTick) * last.microsPerQuarter / division_;
        segments_.push_back({c.tick, c.microsPerQuarter, start, 0.0, 0.0});
    }
    for (TempoSegment& s : segments_) {
        s.startSeconds = s.startMicros / 1e6;
        s.secondsPerTick = s.microsPerQuarter / division_ / 1e6;
    }
}

double TempoMap::SecondsIn(const TempoSegment& s, int64_t tick) const {
    return (s.startMicros + static_cast<double>(tick - s.firstTick) * s.microsPerQuarter / division_) / 1e6;
}

double TempoMap::Seconds(int64_t tick) const {
    auto after = std::upper_bound(segments_.begin() + 1, segments_.end(), tick,
                                  [](int64_t t, const TempoSegment& s) { return t < s.firstTick; });
    return SecondsIn(*std::prev(after), std::max<int64_t>(tick, 0));
}

int64_t TempoMap::TickAtOrBefore(double seconds) const {
    if (!(seconds > 0) || segments_.empty()) return 0;
    auto after = std::upper_bound(segments_.begin() + 1, segments_.end(), seconds,
                                  [](double t, const TempoSegment& s) { return t < s.startSeconds; });
    const TempoSegment& s = *std::prev(after);
    if (!(s.secondsPerTick > 0)) return s.firstTick;
    auto tick = s.firstTick + static_cast<int64_t>(std::floor((seconds - s.startSeconds) / s.secondsPerTick));
    // The division by the tick's length may land a hair past the time; a tick is never later.
    while (tick > s.firstTick && Seconds(tick) > seconds) --tick;
    return tick;
}

double TempoMap::TicksAt(double seconds) const {
    if (!(seconds > 0) || segments_.empty()) return 0.0;
    auto after = std::upper_bound(segments_.begin() + 1, segments_.end(), seconds,
                                  [](double t, const TempoSegment& s) { return t < s.startSeconds; });
    const TempoSegment& s = *std::prev(after);
    if (!(s.secondsPerTick > 0)) return static_cast<double>(s.firstTick);
    return static_cast<double>(s.firstTick) + (seconds - s.startSeconds) / s.secondsPerTick;
}

uint32_t TempoMap::MicrosPerQuarterAt(double seconds) const {
    if (segments_.empty()) return kDefaultMicrosPerQuarter;
    auto after = std::upper_bound(segments_.begin() + 1, segments_.end(), seconds,
                                  [](double t, const TempoSegment& s) { return t < s.startSeconds; });
    return std::prev(after)->microsPerQuarter;
}

void TempoMap::SetMeters(std::vector<MeterChange> meters) {
    std::stable_sort(meters.begin(), meters.end(),
                     [](const MeterChange& a, const MeterChange& b) { return a.tick < b.tick; });
    meters_.clear();
    for (const MeterChange& m : meters) {
        if (!meters_.empty() && meters_.back().tick == m.tick) {
            meters_.back() = m;  // the later signature at one tick wins, as with tempo
        } else {
            meters_.push_back(m);
        }
    }
}

bool SongBuilder::AllocateParts(const std::vector<int64_t>& counts, bool oneChannelParts) {
    int64_t total = 0;
    for (int64_t c : counts) total += c;
    if (!song.AllocateNotes(total)) return false;
#ifdef MADV_POPULATE_WRITE
    // The store is written from end to end. Taking a large one's pages from the system in one call
    // costs much less than a fault on each page as the notes arrive. Only whole pages inside the
    // store are asked for; where the system cannot, the pages simply come one by one. Huge pages
    // are not asked for: where the system compacts memory to find them for those who ask, as it
    // commonly does, the load stalls for as long as that takes, far longer than it saves.
    const uintptr_t kPage = 4096;
    const auto start = reinterpret_cast<uintptr_t>(song.noteStore.get());
    const uintptr_t from = (start + kPage - 1) & ~(kPage - 1);
    const uintptr_t to = (start + static_cast<uintptr_t>(total) * sizeof(NoteRecord)) & ~(kPage - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#endif
    int64_t first = 0;
    for (size_t p = 0; p < counts.size() && p < static_cast<size_t>(kMaxParts); ++p) {
        song.parts[p].notes = song.noteStore.get() + first;
        song.parts[p].noteCount = 0;
        next_[p] = song.parts[p].notes;
        room_[p] = song.parts[p].notes + counts[p];
        first += counts[p];
    }
    lastOfKey_.reset();
    if (oneChannelParts && !counts.empty()) {
        lastOfKey_.reset(new (std::nothrow) NoteRecord*[std::min<size_t>(counts.size(), kMaxParts) * 128]());
        if (lastOfKey_ == nullptr) return false;
    }
    return true;
}

void SongBuilder::CountParts() {
    for (int p = 0; p < song.partCount && p < kMaxParts; ++p) {
        if (next_[p] != nullptr)
            song.parts[p].noteCount = static_cast<int32_t>(next_[p] - song.parts[p].notes);
    }
}

void SongBuilder::EndUnended() {
    // Notes still sounding when the file ends never got a note-off: each lasts until its track
    // ends, and never less than the gap, so that it is seen while it is heard.
    for (int channel = 0; channel < 16; ++channel) {
        for (int key = 0; key < 128; ++key) {
            NoteRecord* s = sounding_[channel][key];
            if (s == nullptr) continue;
            const float trackEnd = trackEndOf_[channel][key];
            latestEnd_ = std::max(latestEnd_, trackEnd);
            if (s != &unstored_) {
                s->end = std::max(trackEnd, static_cast<float>(static_cast<double>(s->start) + kNoteGap));
                latestEnd_ = std::max(latestEnd_, s->end);
            }
            sounding_[channel][key] = nullptr;
        }
    }
}

void SongBuilder::CleanUpPart(SongPart& part) {
    // A note that follows the previous note of its key within 1/60 s (or starts before it ended)
    // shortens that note, leaving a visible gap, but never to or before its start: such a note
    // would vanish from the view while it is heard.
    int32_t lastIndexOfKey[128] = {};
    float lastEndOfKey[128];
    std::fill(std::begin(lastEndOfKey), std::end(lastEndOfKey), -1.0f);
    uint8_t low = 127, high = 0;
    for (int32_t i = 0; i < part.noteCount; ++i) {
        const NoteRecord note = part.notes[i];
        if (lastEndOfKey[note.key] >= 0.0f) PullApart(part.notes[lastIndexOfKey[note.key]], note.start);
        lastIndexOfKey[note.key] = i;
        lastEndOfKey[note.key] = note.end;
        low = std::min(low, note.key);
        high = std::max(high, note.key);
    }
    part.lowKey = low <= high ? low : 0;
    part.highKey = high;
}

void SongBuilder::Finish(const TempoMap& tempo, int32_t division, bool swapHands) {
    EndUnended();
    if (latestEnd_ > song.duration) song.duration = latestEnd_;

    // Bar lines every four quarter notes (time signatures are not read), from the start to the
    // first line more than 5 s past the last note end.
    song.barLineCount = 0;
    if (division > 0 && song.duration + 5.0 >= 0.0) {
        const int64_t step = 4 * static_cast<int64_t>(division);
        TempoMap::Walker walker(tempo);
        int64_t tick = 0;
        float t;
        do {
            if (song.barLineCount >= kMaxBarLines) break;
            t = walker.Seconds(tick);
            tick += step;
            song.barLines[song.barLineCount++] = t;
        } while (song.duration + 5.0 >= t);
    }

    // Parts of one channel each were cleaned up as their notes came, and the keys they use are
    // those with a last note.
    if (lastOfKey_ == nullptr) {
        for (int p = 0; p < song.partCount; ++p) CleanUpPart(song.parts[p]);
    } else {
        for (int p = 0; p < song.partCount && p < kMaxParts; ++p) {
            const NoteRecord* const* last = lastOfKey_.get() + static_cast<size_t>(p) * 128;
            int low = 0, high = 127;
            while (low < 128 && last[low] == nullptr) ++low;
            while (high > low && last[high] == nullptr) --high;
            song.parts[p].lowKey = static_cast<uint8_t>(low < 128 ? low : 0);
            song.parts[p].highKey = static_cast<uint8_t>(low < 128 ? high : 0);
        }
    }
    lastOfKey_.reset();

    // With channels 1 and 2 in use, channel 1 is the first hand.
    if (swapHands) {
        std::swap(song.parts[0], song.parts[1]);
        song.parts[0].colour = 0;
        song.parts[1].colour = 1;
    }
}
