#include "notation/measure_layout.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <map>
#include <utility>

#include "midi/hand_split.h"
#include "notation/key_spelling.h"
#include "notation/quantise.h"

namespace {

constexpr int32_t kStraightValues[] = {576, 384, 288, 192, 144, 96, 72, 48, 36, 24, 18, 12, 6};
constexpr int32_t kTripletValues[] = {64, 48, 32, 24, 16, 12, 8, 4};

struct Piece {
    int64_t start;
    int32_t length;
    bool triplet;
};

// The beats of one measure, with whether this voice writes each as a triplet.
struct MeasureBeats {
    const BeatFrame* beats;
    size_t count;
    std::vector<char> triplet;
    int64_t measureStart;
    size_t At(int64_t position) const {
        size_t i = 0;
        while (i + 1 < count && beats[i + 1].start <= position) ++i;
        return i;
    }
    bool Boundary(int64_t position) const {
        for (size_t i = 0; i < count; ++i) {
            if (beats[i].start == position || beats[i].start + beats[i].length == position) return true;
        }
        return false;
    }
};

int32_t LargestAtMost(const int32_t* values, size_t n, int64_t room) {
    for (size_t i = 0; i < n; ++i) {
        if (values[i] <= room) return values[i];
    }
    return 0;
}

// [a, b) of one measure as written values: a note from a beat's start may run over whole beats
// when one value shows it; anything else keeps within its beat, so that the beat stays visible.
// A rest over beats starts where its own value divides the bar (a half rest on beat 1 or 3 of a
// 4/4 bar) and is not dotted across beats in a simple metre, as rests are written.
void Decompose(int64_t a, int64_t b, const MeasureBeats& mb, bool rest, std::vector<Piece>& out) {
    while (a < b) {
        const size_t i = mb.At(a);
        const BeatFrame& beat = mb.beats[i];
        const int64_t limit = std::min(b, beat.start + beat.length);
        if (mb.triplet[i]) {
            int32_t v = LargestAtMost(kTripletValues, std::size(kTripletValues), limit - a);
            const bool triplet = v > 0;
            if (v == 0) v = static_cast<int32_t>(limit - a);
            out.push_back({a, v, triplet});
            a += v;
            continue;
        }
        int32_t v = 0;
        if (a == beat.start) {
            for (int32_t value : kStraightValues) {
                if (a + value > b || !(a + value == b || mb.Boundary(a + value))) continue;
                if (rest && ((a - mb.measureStart) % value != 0 || (!beat.compound && value % 9 == 0)))
                    continue;
                bool crossesTriplet = false;
                for (size_t k = i; k < mb.count && mb.beats[k].start < a + value; ++k)
                    crossesTriplet |= mb.triplet[k] != 0;
                if (crossesTriplet) continue;
                v = value;
                break;
            }
        }
        if (v == 0) v = LargestAtMost(kStraightValues, std::size(kStraightValues), limit - a);
        if (v == 0) v = static_cast<int32_t>(limit - a);  // a sliver no value shows; kept so the bar adds up
        out.push_back({a, v, false});
        a += v;
    }
}

int32_t MiddleLine(Clef clef) {
    return clef == Clef::Treble ? 6 : -6;  // B4 and D3
}

// The clef of each measure of a staff: a hand that moves far from its clef for a whole bar gets
// the other one, and keeps it until it comes well back, so that clefs do not flicker.
std::vector<Clef> ChooseClefs(const std::vector<MeasureFrame>& measures, const StaffVoices& staff,
                              Clef first) {
    std::vector<double> sum(measures.size()), count(measures.size());
    for (const auto& voice : staff.voices) {
        size_t m = 0;
        for (const ChordSpan& c : voice) {
            while (m + 1 < measures.size() && measures[m + 1].start <= c.start) ++m;
            for (int32_t k : c.keys) sum[m] += k, count[m] += 1;
        }
    }
    std::vector<Clef> out(measures.size(), first);
    Clef clef = first;
    for (size_t m = 0; m < measures.size(); ++m) {
        if (count[m] > 0) {
            const double mean = sum[m] / count[m];
            if (clef == Clef::Treble && mean < 55.0)
                clef = Clef::Bass;  // below G3
            else if (clef == Clef::Bass && mean > 64.0)
                clef = Clef::Treble;  // above E4
        }
        out[m] = clef;
    }
    return out;
}

void SetBeams(ScoreVoice& voice, const MeasureBeats& mb) {
    size_t i = 0;
    auto& ev = voice.events;
    while (i < ev.size()) {
        const auto beamable = [&](size_t k) { return !ev[k].rest && ev[k].type >= Eighth; };
        if (!beamable(i)) {
            ++i;
            continue;
        }
        const size_t beat = mb.At(mb.measureStart + ev[i].start);
        size_t j = i + 1;
        while (j < ev.size() && beamable(j) && mb.At(mb.measureStart + ev[j].start) == beat) ++j;
        if (j - i >= 2) {
            for (int level = 1; level <= 4; ++level) {
                const auto has = [&](size_t k) { return ev[k].type >= static_cast<int>(Quarter) + level; };
                for (size_t k = i; k < j; ++k) {
                    if (!has(k)) continue;
                    const bool prev = k > i && has(k - 1), next = k + 1 < j && has(k + 1);
                    Beam& b = ev[k].beams[level - 1];
                    if (prev && next)
                        b = Beam::Continue;
                    else if (next)
                        b = Beam::Begin;
                    else if (prev)
                        b = Beam::End;
                    else
                        b = k == i ? Beam::ForwardHook : Beam::BackwardHook;
                }
            }
        }
        i = j;
    }
}

// Stems: with two voices, up for the first and down for the others; alone, away from the side
// the notes lie on, one direction for a whole beamed group.
void SetStems(StaffMeasure& sm) {
    const bool several = sm.voices.size() > 1;
    const int32_t middle = MiddleLine(sm.clef);
    for (size_t v = 0; v < sm.voices.size(); ++v) {
        auto& ev = sm.voices[v].events;
        size_t i = 0;
        while (i < ev.size()) {
            size_t j = i + 1;
            if (ev[i].beams[0] == Beam::Begin) {
                while (j < ev.size() && ev[j - 1].beams[0] != Beam::End) ++j;
            }
            int32_t lean = 0;
            for (size_t k = i; k < j; ++k) {
                if (ev[k].rest) continue;
                lean += WrittenPlace(ev[k].heads.front().spelling, ev[k].octaves) +
                        WrittenPlace(ev[k].heads.back().spelling, ev[k].octaves) - 2 * middle;
            }
            for (size_t k = i; k < j; ++k) ev[k].stemUp = several ? v == 0 : lean < 0;
            i = j;
        }
    }
}

void SetAccidentals(StaffMeasure& sm, int32_t fifths) {
    struct Ref {
        int32_t start;
        size_t voice, event;
    };
    std::vector<Ref> order;
    for (size_t v = 0; v < sm.voices.size(); ++v) {
        for (size_t e = 0; e < sm.voices[v].events.size(); ++e)
            order.push_back({sm.voices[v].events[e].start, v, e});
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const Ref& a, const Ref& b) { return a.start < b.start; });
    std::map<int32_t, int8_t> current;  // by staff position: the alteration in force in this bar
    for (const Ref& r : order) {
        for (ScoreHead& h : sm.voices[r.voice].events[r.event].heads) {
            const int32_t place = DiatonicIndex(h.spelling);
            auto it = current.find(place);
            const int8_t inForce = it != current.end() ? it->second : SignatureAlter(fifths, h.spelling.step);
            h.accidental = !h.tieStop && h.spelling.alter != inForce;
            current[place] = h.spelling.alter;
        }
    }
}

// Octave lines. A note more than four ledger lines above a treble staff (or below a bass one)
// is hard to read: a run of such a staff's chords is written an octave or two nearer the staff
// under a line that says so. The run takes in the chords around that still lie beyond the staff's
// first ledger line, so that the line does not come and go with every note, but none that its
// shift would push more than two ledger lines past the other side of the staff, and it ends
// where the staff rests for a whole bar.
constexpr int32_t kTrebleTop = 10, kBassBottom = -10;  // F5 and G2, as places
constexpr int32_t kMostOutside = 9;                    // four ledger lines and the space beyond
constexpr int32_t kRunOutside = 2;                     // past the first ledger line's place

struct Moment {
    size_t measure;
    int32_t start;
    int32_t high, low;  // sounding places of its highest and lowest heads
    int8_t side;        // 1 a treble staff (lines above), -1 a bass one (lines below)
    std::vector<ScoreEvent*> events;
};

int8_t OctavesNeeded(const Moment& m) {
    const int32_t excess =
        m.side > 0 ? m.high - (kTrebleTop + kMostOutside) : (kBassBottom - kMostOutside) - m.low;
    if (excess <= 0) return 0;
    return static_cast<int8_t>(m.side * std::min(2, (excess + 6) / 7));
}

bool FarOutside(const Moment& m) {
    return m.side > 0 ? m.high > kTrebleTop + kRunOutside : m.low < kBassBottom - kRunOutside;
}

bool FitsShifted(const Moment& m, int8_t octaves) {
    // The staff's other edge, two ledger lines beyond it: bottom E4 less four places, top A3 plus four.
    return m.side > 0 ? m.low - 7 * octaves >= kTrebleTop - 8 - 4
                      : m.high - 7 * octaves <= kBassBottom + 8 + 4;
}

void MarkRun(std::vector<Moment>& moments, size_t a, size_t b) {
    int8_t octaves = 0;
    for (size_t i = a; i < b; ++i) {
        const int8_t need = OctavesNeeded(moments[i]);
        if (std::abs(need) > std::abs(octaves)) octaves = need;
    }
    if (octaves == 0) return;
    for (size_t i = a; i < b; ++i) {
        for (ScoreEvent* e : moments[i].events) e->octaves = octaves;
    }
    moments[a].events.front()->octaveStart = true;
    moments[b - 1].events.front()->octaveStop = true;
}

void SetOctaveLines(ScoreLayout& layout) {
    for (size_t s = 0; s < layout.staves.size(); ++s) {
        std::vector<Moment> moments;
        for (size_t m = 0; m < layout.measures.size(); ++m) {
            StaffMeasure& staff = layout.measures[m].staves[s];
            const size_t first = moments.size();
            std::map<int32_t, size_t> at;  // a start's moment in this measure
            for (ScoreVoice& v : staff.voices) {
                for (ScoreEvent& e : v.events) {
                    if (e.rest || e.heads.empty()) continue;
                    const auto [it, added] = at.emplace(e.start, moments.size());
                    if (added) {
                        const auto side = static_cast<int8_t>(staff.clef == Clef::Treble ? 1 : -1);
                        moments.push_back({m, e.start, INT32_MIN, INT32_MAX, side, {}});
                    }
                    Moment& moment = moments[it->second];
                    moment.high = std::max(moment.high, DiatonicIndex(e.heads.back().spelling));
                    moment.low = std::min(moment.low, DiatonicIndex(e.heads.front().spelling));
                    moment.events.push_back(&e);
                }
            }
            std::stable_sort(moments.begin() + static_cast<std::ptrdiff_t>(first), moments.end(),
                             [](const Moment& a, const Moment& b) { return a.start < b.start; });
        }
        // Runs of chords beyond the staff on one side, unbroken by a silent bar, then cut where a
        // chord would not fit the shift the run needs.
        size_t a = 0;
        while (a < moments.size()) {
            if (!FarOutside(moments[a])) {
                ++a;
                continue;
            }
            size_t b = a + 1;
            while (b < moments.size() && FarOutside(moments[b]) && moments[b].side == moments[a].side &&
                   moments[b].measure <= moments[b - 1].measure + 1)
                ++b;
            int8_t octaves = 0;
            for (size_t i = a; i < b; ++i) {
                const int8_t need = OctavesNeeded(moments[i]);
                if (std::abs(need) > std::abs(octaves)) octaves = need;
            }
            for (size_t i = a; i < b;) {
                if (octaves == 0 || !FitsShifted(moments[i], octaves)) {
                    ++i;
                    continue;
                }
                size_t j = i + 1;
                while (j < b && FitsShifted(moments[j], octaves)) ++j;
                MarkRun(moments, i, j);
                i = j;
            }
            a = b;
        }
    }
    for (ScoreMeasure& m : layout.measures) {
        for (StaffMeasure& staff : m.staves) SetStems(staff);
    }
}

}  // namespace

bool WrittenValue(int32_t units, bool triplet, NoteType& type, int8_t& dots) {
    if (triplet) {
        if ((units * 3) % 2 != 0) return false;
        units = units * 3 / 2;
    }
    for (int t = Whole; t <= SixtyFourth; ++t) {
        const int32_t plain = 4 * kUnitsPerQuarter >> t;
        if (units == plain || units == plain * 3 / 2) {
            type = static_cast<NoteType>(t);
            dots = units == plain ? 0 : 1;
            return true;
        }
    }
    return false;
}

ScoreLayout LayOutScore(const ScoreSong& song, const LayoutChoice& choice) {
    ScoreLayout out;
    out.division = song.division;
    out.quarterSeconds = song.quarterSeconds;

    // The staves and the notes on each.
    std::vector<std::vector<int32_t>> staffNotes;
    const auto notesOf = [&](int32_t part) {
        std::vector<int32_t> idx;
        for (size_t i = 0; i < song.notes.size(); ++i) {
            if (song.notes[i].part == part) idx.push_back(static_cast<int32_t>(i));
        }
        return idx;
    };
    const auto meanKey = [&](const std::vector<int32_t>& idx) {
        double s = 0;
        for (int32_t i : idx) s += song.notes[static_cast<size_t>(i)].key;
        return idx.empty() ? 60.0 : s / static_cast<double>(idx.size());
    };
    if (song.hands && song.partCount >= 2) {
        std::vector<int32_t> upper = notesOf(0), lower = notesOf(1);
        int32_t up = 0, low = 1;
        if (!upper.empty() && !lower.empty() && meanKey(upper) < meanKey(lower))
            std::swap(upper, lower), std::swap(up, low);
        out.grandStaff = true;
        out.staves = {{up, "Right hand"}, {low, "Left hand"}};
        staffNotes = {std::move(upper), std::move(lower)};
    } else {
        std::vector<int32_t> parts;
        for (int32_t p : choice.parts) {
            if (p >= 0 && p < song.partCount) parts.push_back(p);
        }
        std::sort(parts.begin(), parts.end());
        parts.erase(std::unique(parts.begin(), parts.end()), parts.end());
        if (parts.empty()) {
            int32_t part = 0;
            for (int32_t p = 0; p < song.partCount; ++p) {
                if (PianoProgram(song.partPrograms[static_cast<size_t>(p)])) {
                    part = p;
                    break;
                }
            }
            parts.push_back(part);
        }
        for (int32_t part : parts) {
            const auto at = static_cast<size_t>(part);
            const std::string name = at < song.partNames.size() ? song.partNames[at] : "";
            const int32_t program = at < song.partPrograms.size() ? song.partPrograms[at] : -1;
            out.staves.push_back({part, name.empty() ? "Part " + std::to_string(part + 1) : name, program});
            staffNotes.push_back(notesOf(part));
        }
    }

    double endUnits = 0;
    for (const auto& idx : staffNotes) {
        for (int32_t i : idx)
            endUnits = std::max(endUnits, UnitsOf(song.notes[static_cast<size_t>(i)].end, song.division));
    }
    const std::vector<MeasureFrame> frames = FrameMeasures(song, static_cast<int64_t>(std::ceil(endUnits)));
    const std::vector<BeatFrame> beats = FrameBeats(frames);

    // The key of every measure: the file's, else one estimated from all the notes.
    std::vector<KeySignatureEvent> keys = song.keys;
    if (keys.empty()) {
        std::vector<ScoreNote> shown;
        for (const auto& idx : staffNotes) {
            for (int32_t i : idx) shown.push_back(song.notes[static_cast<size_t>(i)]);
        }
        const KeyGuess guess = EstimateKey(shown);
        keys.push_back({0, guess.fifths, guess.minor});
        out.keyEstimated = true;
    }

    std::vector<StaffVoices> staves;
    std::vector<std::vector<Clef>> clefs;
    for (size_t s = 0; s < staffNotes.size(); ++s) {
        staves.push_back(QuantiseStaff(song, staffNotes[s], beats));
        Clef first = Clef::Treble;
        if (out.grandStaff ? s == 1 : meanKey(staffNotes[s]) < 57.0) first = Clef::Bass;
        clefs.push_back(ChooseClefs(frames, staves.back(), first));
    }

    // An anacrusis: a first bar shorter than its own time signature (a file that starts mid-bar), or
    // one whose signature is there only to make it short (1/4 before 4/4, as sequencers write one).
    const auto nominalOf = [](const MeasureFrame& f) {
        return f.numerator * 4 * kUnitsPerQuarter / f.denominator;
    };
    const bool pickup =
        frames.size() > 1 &&
        (frames[0].length < nominalOf(frames[0]) ||
         (frames[0].length < frames[1].length &&
          (frames[0].numerator != frames[1].numerator || frames[0].denominator != frames[1].denominator)));
    size_t keyIndex = 0;
    std::vector<size_t> cursor(staves.size() * 4, 0);  // per staff and voice: the next chord to place
    for (size_t m = 0; m < frames.size(); ++m) {
        const MeasureFrame& f = frames[m];
        ScoreMeasure sm{};
        sm.start = f.start;
        sm.length = f.length;
        sm.startTick = f.startTick;
        sm.numerator = f.numerator;
        sm.denominator = f.denominator;
        sm.pickup = m == 0 && pickup;
        sm.number = static_cast<int32_t>(m) + (pickup ? 0 : 1);
        if (sm.pickup) {  // an anacrusis is written in the metre of the bars it leads into
            sm.numerator = frames[1].numerator;
            sm.denominator = frames[1].denominator;
        }
        sm.showTime = m == 0 || out.measures.back().numerator != f.numerator ||
                      out.measures.back().denominator != f.denominator;
        // A key change takes effect at the bar it falls in, or the next one when it falls inside a bar.
        while (keyIndex + 1 < keys.size() &&
               UnitsOf(keys[keyIndex + 1].tick, song.division) <= static_cast<double>(f.start) + 3.0)
            ++keyIndex;
        sm.fifths = keys[keyIndex].fifths;
        sm.minor = keys[keyIndex].minor;
        sm.showKey = m == 0 || out.measures.back().fifths != sm.fifths;

        const auto firstBeat = std::lower_bound(beats.begin(), beats.end(), f.start,
                                                [](const BeatFrame& b, int64_t at) { return b.start < at; });
        const size_t beatOffset = static_cast<size_t>(firstBeat - beats.begin());
        size_t beatCount = 0;
        while (beatOffset + beatCount < beats.size() &&
               beats[beatOffset + beatCount].start < f.start + f.length)
            ++beatCount;

        for (size_t s = 0; s < staves.size(); ++s) {
            StaffMeasure staff{};
            staff.clef = clefs[s][m];
            staff.clefChanged = m > 0 && clefs[s][m - 1] != staff.clef;
            const StaffVoices& sv = staves[s];
            for (size_t v = 0; v < sv.voices.size(); ++v) {
                const std::vector<ChordSpan>& line = sv.voices[v];
                size_t& c = cursor[s * 4 + v];
                while (c < line.size() && line[c].end <= f.start) ++c;
                // The spans of this bar: chords as they fall in it, rests between them.
                struct Span {
                    int64_t a, b;
                    const ChordSpan* chord;
                };
                std::vector<Span> spans;
                int64_t at = f.start;
                for (size_t k = c; k < line.size() && line[k].start < f.start + f.length; ++k) {
                    const int64_t a = std::max(line[k].start, f.start),
                                  b = std::min(line[k].end, f.start + f.length);
                    if (a > at) spans.push_back({at, a, nullptr});
                    spans.push_back({a, b, &line[k]});
                    at = b;
                }
                const bool empty = spans.empty();
                if (empty && v > 0) continue;
                if (at < f.start + f.length) spans.push_back({at, f.start + f.length, nullptr});
                ScoreVoice voice{static_cast<int32_t>(v) + 1, {}};
                if (empty) {
                    ScoreEvent rest{};
                    rest.duration = f.length;
                    rest.type = Whole;
                    rest.rest = rest.wholeMeasure = true;
                    voice.events.push_back(rest);
                    staff.voices.push_back(std::move(voice));
                    continue;
                }
                // Which of the staff's triplet beats this voice writes as triplets.
                MeasureBeats mb{beats.data() + beatOffset, beatCount, std::vector<char>(beatCount, 0),
                                f.start};
                for (size_t i = 0; i < beatCount; ++i) {
                    const BeatFrame& b = sv.beats[beatOffset + i];
                    if (!b.triplet) continue;
                    for (const Span& sp : spans) {
                        const int64_t a = std::max(sp.a, b.start), e = std::min(sp.b, b.start + b.length);
                        if (a >= e) continue;
                        if ((a - b.start) % 48 != 0 || (e - a) % 48 != 0) mb.triplet[i] = 1;
                    }
                }
                for (const Span& sp : spans) {
                    std::vector<Piece> pieces;
                    Decompose(sp.a, sp.b, mb, sp.chord == nullptr, pieces);
                    for (size_t p = 0; p < pieces.size(); ++p) {
                        ScoreEvent e{};
                        e.start = static_cast<int32_t>(pieces[p].start - f.start);
                        e.duration = pieces[p].length;
                        e.triplet = pieces[p].triplet;
                        if (!WrittenValue(e.duration, e.triplet, e.type, e.dots))
                            e.type = SixtyFourth, e.dots = 0;
                        e.rest = sp.chord == nullptr;
                        if (sp.chord != nullptr) {
                            const bool first = p == 0 && sp.a == sp.chord->start;
                            const bool last = p + 1 == pieces.size() && sp.b == sp.chord->end;
                            const ChordSpan& c = *sp.chord;
                            e.roll = first ? c.roll : int8_t{0};
                            for (size_t h = 0; h < c.keys.size(); ++h) {
                                const int32_t key = c.keys[h];
                                e.heads.push_back({key, SpellKey(key, sm.fifths, sm.minor), false,
                                                   !last || c.tiedOn[h] != 0, !first || c.tiedIn[h] != 0,
                                                   c.notes[h], first ? c.attack[h] : 0});
                            }
                        }
                        voice.events.push_back(std::move(e));
                    }
                }
                for (size_t i = 0; i < beatCount; ++i) {  // each triplet beat is one bracketed group
                    if (!mb.triplet[i]) continue;
                    ScoreEvent* firstEvent = nullptr;
                    ScoreEvent* lastEvent = nullptr;
                    for (ScoreEvent& e : voice.events) {
                        if (!e.triplet || mb.At(f.start + e.start) != i) continue;
                        if (firstEvent == nullptr) firstEvent = &e;
                        lastEvent = &e;
                    }
                    if (firstEvent != nullptr) firstEvent->tupletStart = lastEvent->tupletStop = true;
                }
                SetBeams(voice, mb);
                staff.voices.push_back(std::move(voice));
            }
            if (staff.voices.empty() || staff.voices.front().number != 1) {
                ScoreEvent rest{};
                rest.duration = f.length;
                rest.rest = rest.wholeMeasure = true;
                staff.voices.insert(staff.voices.begin(), ScoreVoice{1, {rest}});
            }
            SetAccidentals(staff, sm.fifths);
            SetStems(staff);
            sm.staves.push_back(std::move(staff));
        }
        out.measures.push_back(std::move(sm));
    }
    SetOctaveLines(out);
    return out;
}
