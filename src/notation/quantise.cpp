#include "notation/quantise.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

// An onset this close to a grid line (a 48th of a quarter) is on it: half the distance at which
// a reader of the page would place the note elsewhere. A fine grid takes less, an eighth of its
// step, or the finest grids would hold any note a hand played.
constexpr double kOnGrid = 2.0;
double OnGrid(int32_t step) {
    return std::min(kOnGrid, step / 8.0);
}
constexpr int kMaxVoices = 4;

// The grids a beat may take, simplest first: straight halves and quarters come before triplets,
// which come before the finer straight grids. `divisions` splits the beat; `triplet` in three.
struct GridChoice {
    int32_t divisions;
    bool triplet;
};
constexpr GridChoice kSimpleGrids[] = {{1, false}, {2, false},  {4, false}, {3, true}, {8, false},
                                       {6, true},  {16, false}, {12, true}, {24, true}};
constexpr GridChoice kCompoundGrids[] = {{1, false}, {3, false}, {6, false}, {12, false}, {24, false}};

int64_t RoundToSix(double units) {
    return static_cast<int64_t>(std::llround(units / 6.0)) * 6;
}

// Every grid of a beat of `length` that lands on written values: straight steps are multiples of
// a sixty-fourth (6 units), triplet steps multiples of a sixty-fourth triplet (4 units).
std::vector<GridChoice> GridsFor(const BeatFrame& beat) {
    std::vector<GridChoice> out;
    if (beat.partial) {
        out.push_back({1, false});
        if (beat.length > 6) out.push_back({beat.length / 6, false});
        return out;
    }
    const auto add = [&](const GridChoice* grids, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            const GridChoice g = grids[i];
            if (beat.length % g.divisions != 0) continue;
            const int32_t step = beat.length / g.divisions;
            if (step < 4 || step % (g.triplet ? 4 : 6) != 0) continue;
            out.push_back(g);
        }
    };
    if (beat.compound) {
        add(kCompoundGrids, std::size(kCompoundGrids));
    } else {
        add(kSimpleGrids, std::size(kSimpleGrids));
    }
    return out;
}

double Distance(double position, int32_t step) {
    const double r = std::fmod(position, step);
    return std::min(r, step - r);
}

int32_t NominalBeat(int32_t numerator, int32_t denominator, bool& compound) {
    compound = numerator % 3 == 0 && numerator >= 6 && denominator >= 8;
    const int32_t note = 4 * kUnitsPerQuarter / denominator;
    if (compound) return note * 3;
    return denominator <= 4 ? kUnitsPerQuarter : note;
}

struct RawNote {
    int32_t index;
    int32_t key;
    double start;
    double end;
    double onset;  // where the grid sees it: its chord's first onset
    bool played;   // its chord is spread wider than a grid line holds: it says nothing of the grid
    int8_t roll;   // 1 a roll upwards, -1 downwards
};

size_t BeatAt(const std::vector<BeatFrame>& beats, double position) {
    auto it = std::upper_bound(beats.begin(), beats.end(), position,
                               [](double p, const BeatFrame& b) { return p < static_cast<double>(b.start); });
    return it == beats.begin() ? 0 : static_cast<size_t>(it - beats.begin() - 1);
}

// Notes struck a little apart that all sound on together are one chord: a hand's uneven chord,
// or a roll. Each takes the onset of the chord's first note, so that the beat's grid is chosen for
// the chord and not for its spread. Successive onsets lie less than an eighth of the beat apart
// (closer than any written run of thirty-seconds in a quarter beat), the whole chord within a
// third of the beat (a triplet eighth), and every note sounds on past the last onset for at least
// the spread: a fast run whose notes overlap a little is not a chord. A chord whose notes climb or
// fall one by one over at least a twelfth of the beat is a roll: a hand's chord is rarely that
// uneven, and an evenly struck one never keeps its keys in order.
void GroupChords(std::vector<RawNote>& notes, const std::vector<BeatFrame>& beats) {
    size_t i = 0;
    while (i < notes.size()) {
        const BeatFrame& beat = beats[BeatAt(beats, notes[i].start)];
        const double gap = beat.length / 8.0, span = beat.length / 3.0;
        double held = notes[i].end;  // where the chord's first note to end ends
        size_t j = i;
        while (j + 1 < notes.size()) {
            const RawNote& next = notes[j + 1];
            const double spread = next.start - notes[i].start;
            if (next.start - notes[j].start >= gap || spread > span) break;
            const double until = std::min(held, next.end);
            if (until - next.start <= 0 || until - next.start < spread) break;
            held = until;
            ++j;
        }
        const double spread = notes[j].start - notes[i].start;
        // A roll: each onset's keys all above those of the onset before (or all below), as a hand
        // sweeps across them.
        std::vector<std::pair<int32_t, int32_t>> range;  // lowest and highest key at each onset
        for (size_t k = i; k <= j; ++k) {
            if (k == i || notes[k].start != notes[k - 1].start)
                range.emplace_back(notes[k].key, notes[k].key);
            range.back().first = std::min(range.back().first, notes[k].key);
            range.back().second = std::max(range.back().second, notes[k].key);
        }
        bool up = true, down = true;
        for (size_t k = 1; k < range.size(); ++k) {
            up &= range[k].first > range[k - 1].second;
            down &= range[k].second < range[k - 1].first;
        }
        const bool rolled = range.size() > 1 && spread >= beat.length / 12.0 && (up || down);
        const int8_t roll = rolled ? (up ? 1 : -1) : 0;
        for (size_t k = i; k <= j; ++k) {
            notes[k].onset = notes[i].start;
            notes[k].played = spread > kOnGrid;
            notes[k].roll = roll;
        }
        i = j + 1;
    }
}

// Chooses each beat's grid from the onsets in it.
void ChooseGrids(std::vector<BeatFrame>& beats, const std::vector<RawNote>& notes) {
    size_t i = 0;
    for (size_t b = 0; b < beats.size(); ++b) {
        BeatFrame& beat = beats[b];
        std::vector<double> onsets;
        std::vector<char> played;
        while (i < notes.size() && notes[i].onset < static_cast<double>(beat.start + beat.length)) {
            onsets.push_back(std::max(0.0, notes[i].onset - static_cast<double>(beat.start)));
            played.push_back(notes[i].played ? 1 : 0);
            ++i;
        }
        if (onsets.empty()) continue;
        const std::vector<GridChoice> grids = GridsFor(beat);
        const GridChoice* chosen = nullptr;
        const bool anyWritten = std::find(played.begin(), played.end(), 0) != played.end();
        for (const GridChoice& g : grids) {
            if (!anyWritten) break;
            const int32_t step = beat.length / g.divisions;
            double worst = 0;
            for (size_t k = 0; k < onsets.size(); ++k) {
                if (played[k] == 0) worst = std::max(worst, Distance(onsets[k], step));
            }
            if (worst <= OnGrid(step)) {
                chosen = &g;
                beat.exact = true;
                break;
            }
        }
        if (chosen == nullptr) {
            // Played by hand: the cheapest of the grids a player means, a busier grid costing
            // more per note than a little movement does.
            double best = std::numeric_limits<double>::max();
            for (size_t k = 0; k < grids.size() && k < 6; ++k) {
                const int32_t step = beat.length / grids[k].divisions;
                double cost = 0;
                for (double o : onsets) cost += Distance(o, step) + 1.5 * static_cast<double>(k);
                if (cost < best) best = cost, chosen = &grids[k];
            }
        }
        beat.step = beat.length / chosen->divisions;
        beat.triplet = chosen->triplet;
    }
}

int64_t Snap(double position, const BeatFrame& beat, int32_t step) {
    const double within = position - static_cast<double>(beat.start);
    return beat.start + static_cast<int64_t>(std::llround(within / step)) * step;
}

// Where a note's end goes: on its beat's grid when it lies close to it, else, in a beat written
// on its grid, on a finer straight grid down to thirty-seconds that holds it (an eighth note's
// end in a beat of quarter notes), else on the beat's grid all the same. A hand's note ends
// anywhere, and only the beat's own grid makes sense of it.
int64_t SnapEnd(double end, const std::vector<BeatFrame>& beats) {
    size_t b = BeatAt(beats, end);
    const BeatFrame* beat = &beats[b];
    if (static_cast<double>(beat->start) == end && b > 0) beat = &beats[b - 1];
    if (beat->step > 0 && Distance(end - static_cast<double>(beat->start), beat->step) <= OnGrid(beat->step))
        return Snap(end, *beat, beat->step);
    if (!beat->triplet && (beat->exact || beat->step == 0)) {
        for (int32_t step : {48, 24, 12}) {
            if (beat->step > 0 && step > beat->step) continue;
            if (beat->length % step != 0) continue;
            if (Distance(end - static_cast<double>(beat->start), step) <= OnGrid(step))
                return Snap(end, *beat, step);
        }
    }
    const int32_t fallback = beat->step > 0 ? beat->step : (beat->length % 24 == 0 ? 24 : 6);
    return Snap(end, *beat, fallback);
}

struct VoiceNote {
    int64_t start, end;  // units, on the grid
    int32_t key, index;
    int32_t attack;  // units after start that it sounds, in a roll
    int8_t roll;
};

// A voice while notes are shared out: its notes by onset, which overlap only where a note had no
// free voice and was held through the voice's later chords.
struct VoiceLine {
    std::vector<VoiceNote> notes;
    std::vector<size_t> open;  // the notes that may still sound: only these are looked at again
    int64_t busyUntil = 0;
};

// A chord joins the first voice that is free at its onset. A chord that overlaps the voice's
// sounding notes only a little (a legato player's overlap: a sixteenth at most, and a quarter of
// each note) cuts them short instead of opening a voice. Past four voices it joins the voice whose
// sounding keys lie nearest its own; the notes held there are split at its onset and tied, so
// that none loses length.
void PlaceChord(std::vector<VoiceLine>& lines, const std::vector<VoiceNote>& chord) {
    const int64_t start = chord.front().start;
    for (VoiceLine& line : lines) {
        std::erase_if(line.open, [&](size_t i) { return line.notes[i].end <= start; });
    }
    int chosen = -1;
    for (size_t v = 0; v < lines.size() && chosen < 0; ++v) {
        if (lines[v].open.empty()) chosen = static_cast<int>(v);
    }
    for (size_t v = 0; v < lines.size() && chosen < 0; ++v) {
        bool legato = true;
        for (size_t i : lines[v].open) {
            const VoiceNote& n = lines[v].notes[i];
            legato &= n.start < start && n.end - start <= std::min<int64_t>(24, (n.end - n.start) / 4);
        }
        if (!legato) continue;
        chosen = static_cast<int>(v);
        for (size_t i : lines[v].open) lines[v].notes[i].end = start;
        lines[v].open.clear();
    }
    if (chosen < 0 && static_cast<int>(lines.size()) < kMaxVoices) {
        chosen = static_cast<int>(lines.size());
        lines.emplace_back();
    }
    if (chosen < 0) {
        // The voice whose sounding keys lie nearest the chord's, so that one stem does not reach
        // across the staff; of those as near, the one that frees soonest.
        int32_t low = 127, high = 0;
        for (const VoiceNote& n : chord) low = std::min(low, n.key), high = std::max(high, n.key);
        int32_t bestDistance = std::numeric_limits<int32_t>::max();
        for (size_t v = 0; v < lines.size(); ++v) {
            int32_t distance = std::numeric_limits<int32_t>::max();
            for (size_t i : lines[v].open) {
                const int32_t key = lines[v].notes[i].key;
                distance = std::min(distance, key < low ? low - key : key > high ? key - high : 0);
            }
            if (distance < bestDistance ||
                (distance == bestDistance &&
                 lines[v].busyUntil < lines[static_cast<size_t>(chosen)].busyUntil)) {
                bestDistance = distance;
                chosen = static_cast<int>(v);
            }
        }
    }
    VoiceLine& line = lines[static_cast<size_t>(chosen)];
    for (const VoiceNote& c : chord) {
        bool doubled = false;  // the key already struck here in this voice: that head stays
        for (size_t i : line.open) {
            VoiceNote& n = line.notes[i];
            if (n.key != c.key) continue;
            if (n.start >= start)
                doubled = true;
            else
                n.end = std::min(n.end, start);  // the key struck again ends the held one
        }
        if (doubled) continue;
        line.open.push_back(line.notes.size());
        line.notes.push_back(c);
    }
    line.busyUntil = start;
    for (size_t i : line.open) line.busyUntil = std::max(line.busyUntil, line.notes[i].end);
}

// A voice's notes as chords one after another: a chord at every onset and end within the voice,
// holding the keys that sound there, tied where a note goes on through.
std::vector<ChordSpan> ChordsOf(std::vector<VoiceNote> notes) {
    std::stable_sort(notes.begin(), notes.end(),
                     [](const VoiceNote& a, const VoiceNote& b) { return a.start < b.start; });
    std::vector<int64_t> edges;
    for (const VoiceNote& n : notes) {
        if (n.end <= n.start) continue;
        edges.push_back(n.start);
        edges.push_back(n.end);
    }
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    std::vector<ChordSpan> out;
    std::vector<const VoiceNote*> sounding;
    size_t next = 0;
    for (size_t e = 0; e + 1 < edges.size(); ++e) {
        const int64_t a = edges[e], b = edges[e + 1];
        std::erase_if(sounding, [&](const VoiceNote* n) { return n->end <= a; });
        for (; next < notes.size() && notes[next].start <= a; ++next) {
            if (notes[next].end > notes[next].start) sounding.push_back(&notes[next]);
        }
        if (sounding.empty()) continue;
        std::vector<const VoiceNote*> heads = sounding;
        std::sort(heads.begin(), heads.end(),
                  [](const VoiceNote* x, const VoiceNote* y) { return x->key < y->key; });
        ChordSpan c{a, b, {}, {}, {}, {}, {}, 0};
        int rolledHeads = 0;
        for (const VoiceNote* n : heads) {
            const bool struck = n->start == a;
            c.keys.push_back(n->key);
            c.notes.push_back(n->index);
            c.tiedIn.push_back(struck ? 0 : 1);
            c.tiedOn.push_back(n->end > b ? 1 : 0);
            c.attack.push_back(struck && n->roll != 0 ? n->attack : 0);
            if (struck && n->roll != 0) c.roll = n->roll, ++rolledHeads;
        }
        if (rolledHeads < 2) c.roll = 0;  // a roll's lone key in another voice keeps only its attack
        out.push_back(std::move(c));
    }
    return out;
}

}  // namespace

std::vector<MeasureFrame> FrameMeasures(const ScoreSong& song, int64_t endUnit) {
    std::vector<TimeSignatureEvent> times = song.times;
    if (times.empty() || times.front().tick > 0) times.insert(times.begin(), {0, 4, 4});
    std::vector<MeasureFrame> out;
    int64_t at = 0;
    size_t sig = 0;
    const int32_t division = song.division > 0 ? song.division : 1;
    auto changeAt = [&](size_t k) {
        return k < times.size() ? RoundToSix(UnitsOf(times[k].tick, division))
                                : std::numeric_limits<int64_t>::max();
    };
    do {
        while (sig + 1 < times.size() && changeAt(sig + 1) <= at) ++sig;
        const TimeSignatureEvent& t = times[sig];
        int64_t length = int64_t{t.numerator} * 4 * kUnitsPerQuarter / t.denominator;
        const int64_t next = changeAt(sig + 1);
        if (at + length > next) length = next - at;
        const auto tick =
            static_cast<int64_t>(std::llround(static_cast<double>(at) * division / kUnitsPerQuarter));
        out.push_back({at, static_cast<int32_t>(length), tick, t.numerator, t.denominator});
        at += length;
    } while (at < endUnit && static_cast<int32_t>(out.size()) < kMaxScoreMeasures);
    return out;
}

std::vector<BeatFrame> FrameBeats(const std::vector<MeasureFrame>& measures) {
    std::vector<BeatFrame> out;
    for (const MeasureFrame& m : measures) {
        bool compound = false;
        const int32_t beat = NominalBeat(m.numerator, m.denominator, compound);
        for (int32_t at = 0; at < m.length; at += beat) {
            const int32_t length = std::min(beat, m.length - at);
            out.push_back({m.start + at, length, 0, false, compound, length < beat, false});
        }
    }
    return out;
}

StaffVoices QuantiseStaff(const ScoreSong& song, const std::vector<int32_t>& indices,
                          std::vector<BeatFrame> beats) {
    StaffVoices out;
    if (beats.empty()) return out;
    const double songEnd = static_cast<double>(beats.back().start + beats.back().length);
    std::vector<RawNote> raw;
    for (int32_t i : indices) {
        const ScoreNote& n = song.notes[static_cast<size_t>(i)];
        const double start = UnitsOf(n.start, song.division);
        if (start >= songEnd) continue;
        raw.push_back({i, n.key, start, std::min(UnitsOf(n.end, song.division), songEnd), start, false, 0});
    }
    std::stable_sort(raw.begin(), raw.end(),
                     [](const RawNote& a, const RawNote& b) { return a.start < b.start; });
    GroupChords(raw, beats);
    ChooseGrids(beats, raw);

    // Onto the grid, and into chords of notes that start and end together.
    std::vector<VoiceNote> placed;
    for (const RawNote& n : raw) {
        const BeatFrame& beat = beats[BeatAt(beats, n.onset)];
        const int32_t step = beat.step > 0 ? beat.step : 6;
        // A note rounded forward onto the end of the last bar starts the finest written value
        // before it (a sixty-fourth, or a triplet's in a triplet beat): a step of the beat's own
        // grid could move it a whole beat, and the unit before the end is no written value.
        int64_t start = Snap(n.onset, beat, step);
        if (start >= static_cast<int64_t>(songEnd))
            start = static_cast<int64_t>(songEnd) - (beat.triplet ? 4 : 6);
        int64_t end = SnapEnd(n.end, beats);
        // Too short to reach the next grid line: one step of the grid of the beat it now starts in,
        // which a note moved forward onto the next beat's start must follow (a triplet step
        // written in a straight beat has no written value).
        const BeatFrame& landed = beats[BeatAt(beats, static_cast<double>(start))];
        if (end <= start) end = start + (landed.step > 0 ? landed.step : (landed.length % 24 == 0 ? 24 : 6));
        const auto attack =
            n.roll != 0 ? static_cast<int32_t>(std::lround(n.start - static_cast<double>(start))) : 0;
        placed.push_back(
            {start, std::min<int64_t>(end, static_cast<int64_t>(songEnd)), n.key, n.index, attack, n.roll});
    }
    std::sort(placed.begin(), placed.end(), [](const VoiceNote& a, const VoiceNote& b) {
        if (a.start != b.start) return a.start < b.start;
        if (a.end != b.end) return a.end > b.end;
        return a.key < b.key;
    });
    std::vector<std::vector<VoiceNote>> chords;
    for (size_t i = 0; i < placed.size(); ++i) {
        const VoiceNote& p = placed[i];
        // A key struck twice at one place is one head; the longer stays.
        bool doubled = false;
        for (size_t j = i; j-- > 0 && placed[j].start == p.start;) doubled |= placed[j].key == p.key;
        if (doubled) continue;
        if (chords.empty() || chords.back().front().start != p.start || chords.back().front().end != p.end)
            chords.emplace_back();
        chords.back().push_back(p);
    }
    // At one onset the upper chord comes first, so that voice 1 (stems up) takes the upper line.
    const auto top = [](const std::vector<VoiceNote>& c) {
        int32_t k = 0;
        for (const VoiceNote& n : c) k = std::max(k, n.key);
        return k;
    };
    std::stable_sort(chords.begin(), chords.end(), [&](const auto& a, const auto& b) {
        return a.front().start != b.front().start ? a.front().start < b.front().start : top(a) > top(b);
    });

    std::vector<VoiceLine> lines;
    for (const std::vector<VoiceNote>& c : chords) PlaceChord(lines, c);
    for (VoiceLine& line : lines) out.voices.push_back(ChordsOf(line.notes));
    out.beats = std::move(beats);
    return out;
}
