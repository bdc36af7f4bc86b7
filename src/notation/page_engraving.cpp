#include "notation/page_engraving.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "notation/key_spelling.h"

namespace {

constexpr const char* kGlyphNames[] = {"noteheads.s0",
                                       "noteheads.s1",
                                       "noteheads.s2",
                                       "clefs.G",
                                       "clefs.F",
                                       "clefs.G_change",
                                       "clefs.F_change",
                                       "accidentals.sharp",
                                       "accidentals.flat",
                                       "accidentals.natural",
                                       "rests.0",
                                       "rests.1",
                                       "rests.2",
                                       "rests.3",
                                       "rests.4",
                                       "rests.5",
                                       "rests.6",
                                       "flags.u3",
                                       "flags.u4",
                                       "flags.u5",
                                       "flags.u6",
                                       "flags.d3",
                                       "flags.d4",
                                       "flags.d5",
                                       "flags.d6",
                                       "dots.dot",
                                       "scripts.arpeggio",
                                       "scripts.arpeggio.arrow.M1",
                                       "zero",
                                       "one",
                                       "two",
                                       "three",
                                       "four",
                                       "five",
                                       "six",
                                       "seven",
                                       "eight",
                                       "nine"};
static_assert(std::size(kGlyphNames) == static_cast<size_t>(Glyph::Count));
// The font's own character map for the same glyphs; the figures are the plain digits.
constexpr char32_t kGlyphCharacters[] = {
    0xE0E8, 0xE0E9, 0xE0EA,                                          // note heads
    0xE085, 0xE083, 0xE086, 0xE084,                                  // clefs
    0xE013, 0xE021, 0xE01D,                                          // sharp, flat, natural
    0xE000, 0xE001, 0xE008, 0xE00B, 0xE00C, 0xE00D, 0xE00E,          // rests
    0xE0D2, 0xE0D3, 0xE0D4, 0xE0D5, 0xE0DA, 0xE0DB, 0xE0DC, 0xE0DD,  // flags
    0xE038,                                                          // dot
    0xE06C, 0xE06E,                                                  // a roll's waves, its arrow
    U'0',   U'1',   U'2',   U'3',   U'4',   U'5',   U'6',   U'7',   U'8', U'9'};
static_assert(std::size(kGlyphCharacters) == static_cast<size_t>(Glyph::Count));

// Widths in staff spaces, from the font's own metrics (a thousand units to the em, four spaces
// to the em).
constexpr float kHeadWidth[] = {1.96f, 1.38f, 1.30f};
constexpr float kSharpWidth = 1.1f, kFlatWidth = 0.8f, kNaturalWidth = 0.7f;
constexpr float kStemLength = 3.5f;
constexpr float kStaffGap = 8.0f;  // between the two staves of a grand staff
constexpr float kNameSize = 1.6f;  // a part's name, in staff spaces
constexpr size_t kNameBytes = 24;  // a longer name is cut: it would crowd out the music
constexpr int kSharpPlaces[] = {10, 7, 11, 8, 5, 9, 6};
constexpr int kFlatPlaces[] = {6, 9, 5, 8, 4, 7, 3};

int BottomLine(Clef clef) {
    return clef == Clef::Treble ? 2 : -10;  // E4, G2
}

struct Page {
    EngravedPage* page;
    float sp;
    float em() const { return 4 * sp; }
    void Put(Glyph g, float x, float y, int32_t note = -1, float scale = 1.0f) {
        page->glyphs.push_back({g, x, y, em() * scale, note});
    }
    void Line(float x1, float y1, float x2, float y2, float width) {
        page->lines.push_back({x1, y1, x2, y2, width * sp});
    }
};

float HeadWidth(NoteType t) {
    return kHeadWidth[std::min<int>(t, 2)];
}

// The horizontal places of one measure's onsets, in staff spaces from its start, before
// stretching: wider gaps after longer notes, and room for accidentals.
struct MeasureSpacing {
    std::map<int32_t, float> x;
    float lead = 0;
    float width = 0;
};

MeasureSpacing SpaceMeasure(const ScoreMeasure& m, bool headerInside) {
    std::set<int32_t> onsets{m.length};
    std::set<int32_t> withAccidental;
    std::set<int32_t> withRoll;
    for (const StaffMeasure& s : m.staves) {
        for (const ScoreVoice& v : s.voices) {
            for (const ScoreEvent& e : v.events) {
                onsets.insert(e.wholeMeasure ? 0 : e.start);
                if (e.roll != 0) withRoll.insert(e.start);
                for (const ScoreHead& h : e.heads) {
                    if (h.accidental) withAccidental.insert(e.start);
                }
            }
        }
    }
    MeasureSpacing out;
    out.lead = 1.2f;
    if (headerInside) {
        bool clef = false;
        for (const StaffMeasure& s : m.staves) clef |= s.clefChanged;
        if (clef) out.lead += 2.6f;
        if (m.showKey) out.lead += 1.0f * static_cast<float>(std::max(1, std::abs(m.fifths))) + 0.8f;
        if (m.showTime) out.lead += 2.4f;
    }
    float at = out.lead;
    int32_t previous = -1;
    for (int32_t t : onsets) {
        if (previous >= 0) at += 1.6f + 1.8f * std::sqrt(static_cast<float>(t - previous) / kUnitsPerQuarter);
        if (withAccidental.count(t) != 0) at += 1.2f;
        if (withRoll.count(t) != 0) at += 1.2f;
        out.x[t] = at;
        previous = t;
    }
    out.width = at;
    return out;
}

float KeyWidth(int fifths) {
    return fifths == 0 ? 0.0f : 1.0f * static_cast<float>(std::abs(fifths)) + 0.6f;
}

float DrawKey(Page& p, int fifths, Clef clef, float x, float top) {
    const int shift = clef == Clef::Treble ? 0 : -14;
    for (int i = 0; i < std::abs(fifths); ++i) {
        const int place = (fifths > 0 ? kSharpPlaces[i] : kFlatPlaces[i]) + shift;
        const float y = top + 4 * p.sp - static_cast<float>(place - BottomLine(clef)) * p.sp / 2;
        p.Put(fifths > 0 ? Glyph::Sharp : Glyph::Flat, x + static_cast<float>(i) * p.sp, y);
    }
    return KeyWidth(fifths) * p.sp;
}

void DrawFigures(Page& p, int value, float centre, float baseline) {
    const std::string digits = std::to_string(value);
    const float w = 1.5f * p.sp;
    float x = centre - w * static_cast<float>(digits.size()) / 2;
    for (char c : digits) {
        p.Put(static_cast<Glyph>(static_cast<int>(Glyph::Digit0) + (c - '0')), x, baseline);
        x += w;
    }
}

void DrawTime(Page& p, const ScoreMeasure& m, float x, float top) {
    const float centre = x + 1.0f * p.sp;
    DrawFigures(p, m.numerator, centre, top + 2 * p.sp);
    DrawFigures(p, m.denominator, centre, top + 4 * p.sp);
}

// A stem as first placed: from the heads to its natural end, before beams move its end.
struct Stem {
    float x;
    float near;  // where it meets the heads
    float end;   // its free end
    bool up;
    size_t event;
};

struct PendingTie {
    float x, y;  // y < 0: carried over from the system before, ending level with its head
    bool up;
};

// Draws one voice of one staff in one measure.
void DrawVoice(Page& p, const ScoreVoice& voice, const StaffMeasure& staff, const MeasureSpacing& spacing,
               float x0, float scale, float top, float measureEnd, bool severalVoices,
               std::map<int64_t, PendingTie>& ties, int64_t tieKeyBase) {
    const float sp = p.sp;
    const Clef clef = staff.clef;
    const float bottom = top + 4 * sp;
    const auto yOf = [&](int32_t place) {
        return bottom - static_cast<float>(place - BottomLine(clef)) * sp / 2;
    };
    const float middle = top + 2 * sp;
    std::vector<Stem> stems;
    for (size_t i = 0; i < voice.events.size(); ++i) {
        const ScoreEvent& e = voice.events[i];
        const float x = x0 + spacing.x.at(e.wholeMeasure ? 0 : e.start) * sp * scale;
        if (e.rest && voice.number > 1) continue;  // an inner voice's rests would only crowd the staff
        if (e.rest) {
            const float lift = severalVoices ? (voice.number == 1 ? -2 * sp : 2 * sp) : 0.0f;
            if (e.wholeMeasure) {
                const float cx = (x0 + spacing.lead * sp * scale + measureEnd) / 2 - 0.75f * sp;
                p.Put(Glyph::RestWhole, cx, top + sp + lift);
                continue;
            }
            const Glyph g = static_cast<Glyph>(static_cast<int>(Glyph::RestWhole) + e.type);
            p.Put(g, x, (e.type == Whole ? top + sp : middle) + lift);
            for (int d = 0; d < e.dots; ++d)
                p.Put(Glyph::Dot, x + (1.6f + 0.6f * d) * sp, middle - sp / 2 + lift);
            continue;
        }
        const float w = HeadWidth(e.type) * sp;
        const bool up = e.stemUp;
        // Heads a second apart sit on both sides of the stem.
        std::vector<float> hx(e.heads.size(), x);
        bool displaced = false;
        if (up) {
            for (size_t h = 1; h < e.heads.size(); ++h) {
                const int d = DiatonicIndex(e.heads[h].spelling) - DiatonicIndex(e.heads[h - 1].spelling);
                if (d <= 1 && hx[h - 1] == x) hx[h] = x + w - 0.1f * sp, displaced = true;
            }
        } else {
            for (size_t h = e.heads.size() - 1; h-- > 0;) {
                const int d = DiatonicIndex(e.heads[h + 1].spelling) - DiatonicIndex(e.heads[h].spelling);
                if (d <= 1 && hx[h + 1] == x) hx[h] = x - w + 0.1f * sp, displaced = true;
            }
        }
        const Glyph head = e.type == Whole  ? Glyph::NoteheadWhole
                           : e.type == Half ? Glyph::NoteheadHalf
                                            : Glyph::NoteheadBlack;
        int accidentalColumn = 0;
        int lastAccidentalPlace = 1000;
        float leftmost = *std::min_element(hx.begin(), hx.end());  // of the chord and its signs
        for (size_t h = e.heads.size(); h-- > 0;) {  // top down, so that accidentals stagger leftwards
            const ScoreHead& sh = e.heads[h];
            const int32_t place = WrittenPlace(sh.spelling, e.octaves);
            const float y = yOf(place);
            p.Put(head, hx[h], y, sh.note);
            // Ledger lines out to the head.
            const int32_t topLine = BottomLine(clef) + 8;
            for (int32_t l = topLine + 2; l <= place; l += 2)
                p.Line(hx[h] - 0.4f * sp, yOf(l), hx[h] + w + 0.4f * sp, yOf(l), 0.13f);
            for (int32_t l = BottomLine(clef) - 2; l >= place; l -= 2)
                p.Line(hx[h] - 0.4f * sp, yOf(l), hx[h] + w + 0.4f * sp, yOf(l), 0.13f);
            if (sh.accidental) {
                accidentalColumn = lastAccidentalPlace - place < 6 ? accidentalColumn + 1 : 0;
                lastAccidentalPlace = place;
                const Glyph g = sh.spelling.alter > 0   ? Glyph::Sharp
                                : sh.spelling.alter < 0 ? Glyph::Flat
                                                        : Glyph::Natural;
                const float aw = sh.spelling.alter > 0   ? kSharpWidth
                                 : sh.spelling.alter < 0 ? kFlatWidth
                                                         : kNaturalWidth;
                const float left =
                    std::min(x, hx[h]) - (aw + 0.3f + 1.1f * static_cast<float>(accidentalColumn)) * sp;
                p.Put(g, left, y);
                leftmost = std::min(leftmost, left);
            }
            const bool onLine = (place - BottomLine(clef)) % 2 == 0;
            for (int d = 0; d < e.dots; ++d) {
                const float dx = x + w + (displaced && up ? w : 0.0f) + (0.4f + 0.6f * d) * sp;
                p.Put(Glyph::Dot, dx, onLine ? y - sp / 2 : y);
            }
            const int64_t tieKey = tieKeyBase + sh.key;
            if (sh.tieStop) {
                auto it = ties.find(tieKey);
                const PendingTie from = it != ties.end() ? it->second : PendingTie{x - 2.5f * sp, y, !up};
                p.page->ties.push_back({from.x, from.y < 0 ? y : from.y, hx[h] - 0.2f * sp, y, from.up});
                if (it != ties.end()) ties.erase(it);
            }
            if (sh.tieStart) ties[tieKey] = {hx[h] + w + 0.2f * sp, y, !up};
        }
        if (e.roll != 0) {
            // The roll's wavy line, before the chord and its signs, from below its lowest head to
            // above its highest; a wave reaches a fifth of a space below its origin, and a roll
            // downwards stands on its arrow.
            const float rx = leftmost - 1.2f * sp;
            const float bottom = yOf(WrittenPlace(e.heads.front().spelling, e.octaves)) + 0.6f * sp;
            const float top = yOf(WrittenPlace(e.heads.back().spelling, e.octaves)) - 0.6f * sp;
            float y = bottom - 0.22f * sp, reached = bottom;  // reached: how high the line goes
            if (e.roll < 0) {
                p.Put(Glyph::ArpeggioArrowDown, rx, bottom);
                y = bottom - sp;
                reached = bottom - 1.2f * sp;
            }
            for (; reached > top; y -= sp) {
                p.Put(Glyph::Arpeggio, rx, y);
                reached = y - 1.2f * sp;
            }
        }
        if (e.type == Whole) continue;
        const float yLow = yOf(WrittenPlace(e.heads.front().spelling, e.octaves));
        const float yHigh = yOf(WrittenPlace(e.heads.back().spelling, e.octaves));
        Stem s{};
        s.up = up;
        s.event = i;
        if (up) {
            s.x = x + w - 0.06f * sp;
            s.near = yLow;
            s.end = std::min(yHigh - kStemLength * sp, severalVoices ? yHigh - kStemLength * sp : middle);
        } else {
            s.x = x + 0.06f * sp;
            s.near = yHigh;
            s.end = std::max(yLow + kStemLength * sp, severalVoices ? yLow + kStemLength * sp : middle);
        }
        stems.push_back(s);
    }

    // Beams: each group's stems end on one straight line, no stem shorter than it would be alone.
    for (size_t k = 0; k < stems.size();) {
        const ScoreEvent& first = voice.events[stems[k].event];
        size_t j = k + 1;
        if (first.beams[0] == Beam::Begin) {
            while (j < stems.size() && voice.events[stems[j - 1].event].beams[0] != Beam::End) ++j;
        }
        if (j - k < 2) {
            const Stem& s = stems[k];
            p.Line(s.x, s.near, s.x, s.end, 0.12f);
            if (first.type >= Eighth) {
                const int flag = first.type - Eighth;
                p.Put(
                    static_cast<Glyph>(static_cast<int>(s.up ? Glyph::FlagUp8th : Glyph::FlagDown8th) + flag),
                    s.x - 0.06f * sp, s.end);
            }
            k = j;
            continue;
        }
        const bool up = stems[k].up;
        const float xa = stems[k].x, xb = stems[j - 1].x;
        float ya = stems[k].end, yb = stems[j - 1].end;
        const float rise = std::clamp(yb - ya, -1.5f * sp, 1.5f * sp);
        yb = ya + rise;
        const auto line = [&](float x) { return xb > xa ? ya + (yb - ya) * (x - xa) / (xb - xa) : ya; };
        float shift = 0;
        for (size_t m = k; m < j; ++m) {
            const float over = up ? line(stems[m].x) - stems[m].end : stems[m].end - line(stems[m].x);
            shift = std::max(shift, over);
        }
        ya += up ? -shift : shift;
        yb += up ? -shift : shift;
        for (size_t m = k; m < j; ++m) p.Line(stems[m].x, stems[m].near, stems[m].x, line(stems[m].x), 0.12f);
        const float toward = up ? 0.75f * sp : -0.75f * sp;
        for (int level = 0; level < 4; ++level) {
            for (size_t m = k; m < j; ++m) {
                const Beam b = voice.events[stems[m].event].beams[level];
                const float off = toward * static_cast<float>(level);
                const float x1 = stems[m].x;
                if (b == Beam::Begin) {
                    size_t n = m + 1;
                    while (n < j && voice.events[stems[n].event].beams[level] != Beam::End) ++n;
                    if (n < j)
                        p.page->beams.push_back(
                            {x1, line(x1) + off, stems[n].x, line(stems[n].x) + off, 0.48f * sp});
                } else if (b == Beam::ForwardHook || b == Beam::BackwardHook) {
                    const float x2 = x1 + (b == Beam::ForwardHook ? 1.1f : -1.1f) * sp;
                    p.page->beams.push_back({std::min(x1, x2), line(std::min(x1, x2)) + off, std::max(x1, x2),
                                             line(std::max(x1, x2)) + off, 0.48f * sp});
                }
            }
        }
        k = j;
    }

    // A triplet's figure over (or under) its group.
    for (size_t i = 0; i < voice.events.size(); ++i) {
        if (!voice.events[i].tupletStart) continue;
        size_t last = i;
        while (last < voice.events.size() && !voice.events[last].tupletStop) ++last;
        if (last == voice.events.size()) break;
        const float xa = x0 + spacing.x.at(voice.events[i].start) * sp * scale;
        const float xb = x0 + spacing.x.at(voice.events[last].start) * sp * scale + sp;
        bool up = true;
        for (size_t k = i; k <= last; ++k) {
            if (!voice.events[k].rest) up = voice.events[k].stemUp;
        }
        float y = up ? top - 1.5f * sp : bottom + 3.5f * sp;
        for (const Stem& s : stems) {
            if (s.event < i || s.event > last) continue;
            y = up ? std::min(y, s.end - 1.2f * sp) : std::max(y, s.end + 2.4f * sp);
        }
        p.Put(static_cast<Glyph>(static_cast<int>(Glyph::Digit0) + 3), (xa + xb) / 2 - 0.5f * sp, y, -1,
              0.65f);
    }
}

// An octave line being drawn on one staff: where it began on this system, and how far from the
// staff its notes reach so far.
struct OpenOctave {
    bool open = false;
    int8_t octaves = 0;
    float x = 0;
    float reach = 0;  // the farthest head or stem end from the staff, as a y
};

// Where an octave line stands: clear of the notes under it, by its label's height, but within the
// room a system keeps above and below its staves.
float OctaveLineY(const OpenOctave& o, float top, float sp) {
    if (o.octaves > 0) return std::max(top - 6.0f * sp, std::min(top - 2.5f * sp, o.reach - 1.5f * sp));
    const float bottom = top + 4 * sp;
    return std::min(bottom + 5.0f * sp, std::max(bottom + 2.5f * sp, o.reach + 1.5f * sp));
}

// Follows the octave lines through one staff's measure, in time order, and places each line that
// ends in it.
void TrackOctaves(Page& p, const StaffMeasure& staff, const MeasureSpacing& spacing, float x0, float scale,
                  float top, OpenOctave& line) {
    const float sp = p.sp;
    const float bottom = top + 4 * sp;
    std::vector<const ScoreEvent*> events;
    for (const ScoreVoice& v : staff.voices) {
        for (const ScoreEvent& e : v.events) {
            if (e.octaves != 0 && !e.rest && !e.heads.empty()) events.push_back(&e);
        }
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const ScoreEvent* a, const ScoreEvent* b) { return a->start < b->start; });
    for (const ScoreEvent* e : events) {
        const float x = x0 + spacing.x.at(e->start) * sp * scale;
        if (e->octaveStart || !line.open) {
            line.open = true;
            line.octaves = e->octaves;
            line.x = x - 0.3f * sp;
            line.reach = e->octaves > 0 ? top : bottom;
        }
        const int32_t place =
            WrittenPlace((e->octaves > 0 ? e->heads.back() : e->heads.front()).spelling, e->octaves);
        const float y = bottom - static_cast<float>(place - BottomLine(staff.clef)) * sp / 2;
        const bool stemOut = (e->octaves > 0) == e->stemUp && e->type != Whole;
        const float far = stemOut ? y + (e->octaves > 0 ? -kStemLength : kStemLength) * sp : y;
        line.reach = e->octaves > 0 ? std::min(line.reach, far) : std::max(line.reach, far);
        if (e->octaveStop) {
            p.page->octaves.push_back({line.x, x + HeadWidth(e->type) * sp + 0.4f * sp,
                                       OctaveLineY(line, top, sp), line.octaves, 1.6f * sp, true});
            line.open = false;
        }
    }
}

}  // namespace

const char* OctaveLabel(int8_t octaves) {
    switch (octaves) {
        case 1:
            return "8va";
        case 2:
            return "15ma";
        case -1:
            return "8vb";
        case -2:
            return "15mb";
        default:
            return "";
    }
}

// The names are cut at a character's start.
std::vector<std::string> StaffNames(const ScoreLayout& layout) {
    std::vector<std::string> names;
    if (layout.grandStaff || layout.staves.size() < 2) return names;
    for (const ScoreStaff& staff : layout.staves) {
        std::string name = staff.name;
        if (name.size() > kNameBytes) {
            size_t cut = kNameBytes;
            while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
            name = name.substr(0, cut) + "\u2026";
        }
        names.push_back(std::move(name));
    }
    return names;
}

const char* GlyphName(Glyph glyph) {
    return kGlyphNames[static_cast<size_t>(glyph)];
}

char32_t GlyphCharacter(Glyph glyph) {
    return kGlyphCharacters[static_cast<size_t>(glyph)];
}

Engraving EngraveScore(const ScoreLayout& layout, const std::string& title, const EngraveOptions& o) {
    Engraving out;
    const float sp = o.staffSpace;
    const int32_t firstMeasure =
        std::clamp<int32_t>(o.firstMeasure, 0, static_cast<int32_t>(layout.measures.size()));
    const int32_t lastMeasure =
        o.lastMeasure < 0
            ? static_cast<int32_t>(layout.measures.size())
            : std::clamp<int32_t>(o.lastMeasure, firstMeasure, static_cast<int32_t>(layout.measures.size()));
    const size_t staves = layout.staves.size();
    const float systemHeight = static_cast<float>(staves) * 4 * sp +
                               static_cast<float>(staves > 0 ? staves - 1 : 0) * kStaffGap * sp;
    const float above = 7 * sp, below = 6 * sp;
    // The names of several parts stand in a column before their staves: on the first system, or on
    // every one when it is seen a system at a time. Their width is guessed from their length, as a
    // sans-serif letter is about half as wide as it is tall.
    const std::vector<std::string> names = StaffNames(layout);
    const float nameSize = o.nameSize > 0 ? o.nameSize : kNameSize * sp;
    float nameColumn = 0;
    for (const std::string& name : names) {
        size_t letters = 0;
        for (char c : name) letters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        nameColumn = std::max(nameColumn, static_cast<float>(letters) * 0.55f * nameSize + sp);
    }
    nameColumn = std::min(nameColumn, (o.pageWidth - 2 * o.margin) / 4);

    std::vector<MeasureSpacing> spacing;
    for (int32_t m = firstMeasure; m < lastMeasure; ++m)
        spacing.push_back(SpaceMeasure(layout.measures[static_cast<size_t>(m)], true));

    out.pages.push_back({o.pageWidth, o.pageHeight, {}, {}, {}, {}, {}, {}});
    float y = o.margin;
    if (!title.empty()) {
        out.pages.back().texts.push_back({title, o.pageWidth / 2, y + 4 * sp, 3.2f * sp, true, true});
        y += 8 * sp;
    }
    std::map<int64_t, PendingTie> ties;
    std::vector<OpenOctave> octaveLines(staves);
    int32_t m = firstMeasure;
    while (m < lastMeasure) {
        const ScoreMeasure& head = layout.measures[static_cast<size_t>(m)];
        const bool named = !names.empty() && (o.namesOnEverySystem || m == firstMeasure);
        const float indent = named ? nameColumn : 0.0f;
        const float usable = o.pageWidth - 2 * o.margin - indent;
        // The system's own start: clef, key, and the time where the system begins with one.
        const float headerWidth = (0.6f + 3.4f + KeyWidth(head.fifths) + (head.showTime ? 2.6f : 0.0f)) * sp;
        float natural = 0;
        int32_t end = m;
        while (end < lastMeasure) {
            float w = spacing[static_cast<size_t>(end - firstMeasure)].width * sp;
            if (end == m) {  // its key, time and clef are in the header
                w = SpaceMeasure(layout.measures[static_cast<size_t>(end)], false).width * sp;
            }
            if (end > m && natural + w > usable - headerWidth) break;
            natural += w;
            ++end;
        }
        const float scale =
            std::min((usable - headerWidth) / std::max(natural, 1.0f), end == lastMeasure ? 1.3f : 10.0f);
        if (!o.onePage && y + above + systemHeight + below > o.pageHeight - o.margin &&
            !out.pages.back().glyphs.empty()) {
            out.pages.push_back({o.pageWidth, o.pageHeight, {}, {}, {}, {}, {}, {}});
            y = o.margin;
        }
        Page p{&out.pages.back(), sp};
        const float systemTop = y + above;
        const float left = o.margin + indent;
        std::vector<float> tops(staves);
        for (size_t s = 0; s < staves; ++s)
            tops[s] = systemTop + static_cast<float>(s) * (4 + kStaffGap) * sp;
        const float systemBottom = tops.empty() ? systemTop : tops.back() + 4 * sp;
        for (size_t s = 0; named && s < staves && s < names.size(); ++s) {
            p.page->texts.push_back(
                {names[s], o.margin, tops[s] + 2 * sp + 0.35f * nameSize, nameSize, false, false});
        }
        // A tie carried over from the system before starts again after this one's clef and key.
        for (auto& [key, tie] : ties) tie.x = left + headerWidth - 0.5f * sp;
        p.page->texts.push_back(
            {std::to_string(head.number), left, systemTop - 2.5f * sp, 1.8f * sp, false, false});
        // The system's first line joins all its staves; the bar lines join the two hands' staves
        // only, and stand on each staff alone where the staves are separate instruments.
        if (staves > 1) p.Line(left, systemTop, left, systemBottom, 0.3f);
        const auto barLine = [&](float bx, float width) {
            if (layout.grandStaff || staves < 2) {
                p.Line(bx, systemTop, bx, systemBottom, width);
                return;
            }
            for (const float t : tops) p.Line(bx, t, bx, t + 4 * sp, width);
        };
        // A line carried over from the system before starts again after this one's clef and key.
        for (size_t st = 0; st < staves; ++st) {
            OpenOctave& line = octaveLines[st];
            if (!line.open) continue;
            line.x = left + headerWidth - 0.5f * sp;
            line.reach = line.octaves > 0 ? tops[st] : tops[st] + 4 * sp;
        }
        for (size_t s = 0; s < staves; ++s) {
            const Clef clef = head.staves[s].clef;
            p.Put(clef == Clef::Treble ? Glyph::ClefTreble : Glyph::ClefBass, left + 0.6f * sp,
                  clef == Clef::Treble ? tops[s] + 3 * sp : tops[s] + sp);
            DrawKey(p, head.fifths, clef, left + 4.0f * sp, tops[s]);
            if (head.showTime) DrawTime(p, head, left + (4.0f + KeyWidth(head.fifths)) * sp, tops[s]);
        }
        float x = left + headerWidth;
        for (int32_t k = m; k < end; ++k) {
            const ScoreMeasure& sm = layout.measures[static_cast<size_t>(k)];
            const MeasureSpacing ms =
                k == m ? SpaceMeasure(sm, false) : spacing[static_cast<size_t>(k - firstMeasure)];
            const float x2 = x + ms.width * sp * scale;
            if (k > m) {  // changes inside the system, written at the bar's start
                for (size_t s = 0; s < staves; ++s) {
                    float hx = x + 0.6f * sp;
                    const Clef clef = sm.staves[s].clef;
                    if (sm.staves[s].clefChanged) {
                        p.Put(clef == Clef::Treble ? Glyph::ClefTrebleChange : Glyph::ClefBassChange, hx,
                              clef == Clef::Treble ? tops[s] + 3 * sp : tops[s] + sp);
                    }
                    bool anyClef = false;
                    for (const StaffMeasure& st : sm.staves) anyClef |= st.clefChanged;
                    if (anyClef) hx += 2.6f * sp;
                    if (sm.showKey) hx += DrawKey(p, sm.fifths, clef, hx, tops[s]);
                    if (sm.showTime) DrawTime(p, sm, hx, tops[s]);
                }
            }
            for (size_t s = 0; s < staves; ++s) {
                const StaffMeasure& st = sm.staves[s];
                for (const ScoreVoice& v : st.voices) {
                    DrawVoice(p, v, st, ms, x, scale, tops[s], x2, st.voices.size() > 1, ties,
                              (static_cast<int64_t>(s) * 8 + v.number) * 128);
                }
                TrackOctaves(p, st, ms, x, scale, tops[s], octaveLines[s]);
            }
            barLine(x2, k + 1 == static_cast<int32_t>(layout.measures.size()) ? 0.5f : 0.16f);
            out.places.push_back(
                {k, static_cast<int32_t>(out.pages.size()) - 1, x, x2, systemTop, systemBottom});
            x = x2;
        }
        for (size_t s = 0; s < staves; ++s) {
            for (int l = 0; l < 5; ++l)
                p.Line(left, tops[s] + static_cast<float>(l) * sp, x, tops[s] + static_cast<float>(l) * sp,
                       0.1f);
        }
        // An octave line that runs into the next system ends at this one's edge, without its hook.
        for (size_t st = 0; st < staves; ++st) {
            OpenOctave& line = octaveLines[st];
            if (!line.open) continue;
            p.page->octaves.push_back(
                {line.x, x - 0.3f * sp, OctaveLineY(line, tops[st], sp), line.octaves, 1.6f * sp, false});
        }
        // A tie that runs into the next system ends at this one's edge.
        for (auto& [key, tie] : ties) {
            p.page->ties.push_back({tie.x, tie.y, x - 0.3f * sp, tie.y, tie.up});
            tie.y = -1;
        }
        y = systemBottom + below;
        m = end;
    }
    if (o.onePage) out.pages.back().height = y + o.margin;
    return out;
}
