#include "notation/quantise.h"

#include <algorithm>
#include <cmath>
#include <limits>

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
};

size_t BeatAt(const std::vector<BeatFrame>& beats, double position) {
    auto it = std::upper_bound(beats.begin(), beats.end(), position,
                               [](double p, const BeatFrame& b) { return p < static_cast<double>(b.start); });
    return it == beats.begin() ? 0 : static_cast<size_t>(it - beats.begin() - 1);
}

// Chooses each beat's grid from the onsets in it.
void ChooseGrids(std::vector<BeatFrame>& beats, const std::vector<RawNote>& notes) {
    size_t i = 0;
    for (size_t b = 0; b < beats.size(); ++b) {
        BeatFrame& beat = beats[b];
        std::vector<double> onsets;
        while (i < notes.size() && notes[i].start < static_cast<double>(beat.start + beat.length)) {
            onsets.push_back(std::max(0.0, notes[i].start - static_cast<double>(beat.start)));
            ++i;
        }
        if (onsets.empty()) continue;
        const std::vector<GridChoice> grids = GridsFor(beat);
        const GridChoice* chosen = nullptr;
        for (const GridChoice& g : grids) {
            const int32_t step = beat.length / g.divisions;
            double worst = 0;
            for (double o : onsets) worst = std::max(worst, Distance(o, step));
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
        raw.push_back({i, n.key, start, std::min(UnitsOf(n.end, song.division), songEnd)});
    }
    std::stable_sort(raw.begin(), raw.end(),
                     [](const RawNote& a, const RawNote& b) { return a.start < b.start; });
    ChooseGrids(beats, raw);

    // Onto the grid, and into chords of notes that start and end together.
    struct Placed {
        int64_t start, end;
        int32_t key, index;
    };
    std::vector<Placed> placed;
    for (const RawNote& n : raw) {
        const BeatFrame& beat = beats[BeatAt(beats, n.start)];
        const int32_t step = beat.step > 0 ? beat.step : 6;
        const int64_t start = std::min<int64_t>(Snap(n.start, beat, step), static_cast<int64_t>(songEnd) - 1);
        int64_t end = SnapEnd(n.end, beats);
        if (end <= start) end = start + step;
        placed.push_back({start, std::min<int64_t>(end, static_cast<int64_t>(songEnd)), n.key, n.index});
    }
    std::sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
        if (a.start != b.start) return a.start < b.start;
        if (a.end != b.end) return a.end > b.end;
        return a.key < b.key;
    });
    std::vector<ChordSpan> chords;
    for (size_t i = 0; i < placed.size(); ++i) {
        const Placed& p = placed[i];
        // A key struck twice at one place is one head; the longer stays.
        bool doubled = false;
        for (size_t j = i; j-- > 0 && placed[j].start == p.start;) doubled |= placed[j].key == p.key;
        if (doubled) continue;
        if (chords.empty() || chords.back().start != p.start || chords.back().end != p.end) {
            chords.push_back({p.start, p.end, {}, {}});
        }
        chords.back().keys.push_back(p.key);
        chords.back().notes.push_back(p.index);
    }
    for (ChordSpan& c : chords) {  // keys ascending, notes beside them
        std::vector<size_t> order(c.keys.size());
        for (size_t k = 0; k < order.size(); ++k) order[k] = k;
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return c.keys[a] < c.keys[b]; });
        ChordSpan sorted{c.start, c.end, {}, {}};
        for (size_t k : order) sorted.keys.push_back(c.keys[k]), sorted.notes.push_back(c.notes[k]);
        c = std::move(sorted);
    }
    // At one onset the upper chord comes first, so that voice 1 (stems up) takes the upper line.
    std::stable_sort(chords.begin(), chords.end(), [](const ChordSpan& a, const ChordSpan& b) {
        return a.start != b.start ? a.start < b.start : a.keys.back() > b.keys.back();
    });

    // Into voices: a chord joins the first voice that is free at its onset. A chord that overlaps
    // the one before it only a little (a legato player's overlap) cuts that one short instead of
    // opening a voice (a sixteenth at most, and a quarter of the note); past four voices the
    // earliest-ending voice is cut.
    std::vector<std::vector<ChordSpan>>& voices = out.voices;
    for (ChordSpan& c : chords) {
        int chosen = -1;
        for (size_t v = 0; v < voices.size() && chosen < 0; ++v) {
            if (voices[v].back().end <= c.start) chosen = static_cast<int>(v);
        }
        for (size_t v = 0; v < voices.size() && chosen < 0; ++v) {
            const ChordSpan& last = voices[v].back();
            const int64_t overlap = last.end - c.start;
            if (last.start < c.start && overlap <= std::min<int64_t>(24, (last.end - last.start) / 4)) {
                chosen = static_cast<int>(v);
            }
        }
        if (chosen < 0 && static_cast<int>(voices.size()) < kMaxVoices) {
            voices.emplace_back();
            voices.back().push_back(std::move(c));
            continue;
        }
        if (chosen < 0) {
            chosen = 0;
            for (size_t v = 1; v < voices.size(); ++v) {
                if (voices[v].back().end < voices[static_cast<size_t>(chosen)].back().end)
                    chosen = static_cast<int>(v);
            }
        }
        std::vector<ChordSpan>& line = voices[static_cast<size_t>(chosen)];
        ChordSpan& last = line.back();
        if (last.start >= c.start) {  // same onset, every voice busy: the heads join that chord
            for (size_t k = 0; k < c.keys.size(); ++k) {
                if (std::find(last.keys.begin(), last.keys.end(), c.keys[k]) != last.keys.end()) continue;
                auto at = std::lower_bound(last.keys.begin(), last.keys.end(), c.keys[k]);
                const auto offset = at - last.keys.begin();
                last.keys.insert(at, c.keys[k]);
                last.notes.insert(last.notes.begin() + offset, c.notes[k]);
            }
            continue;
        }
        last.end = std::min(last.end, c.start);
        line.push_back(std::move(c));
    }
    out.beats = std::move(beats);
    return out;
}
