// Sheet music from small songs: each case is a song of a few notes and what its first bars must
// show. Every layout is also checked for what any reader of it relies on: every voice fills its
// bar exactly, and every note of the song is on the page.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "midi/meter_events.h"
#include "midi/midi_reader.h"
#include "midi/note_timeline.h"
#include "notation/key_spelling.h"
#include "notation/measure_layout.h"
#include "notation/musicxml_writer.h"
#include "notation/page_engraving.h"
#include "smf_builder.h"

namespace {

constexpr int Q = 480;  // ticks per quarter in these songs

ScoreSong Song(std::vector<ScoreNote> notes, std::vector<TimeSignatureEvent> times = {},
               std::vector<KeySignatureEvent> keys = {{0, 0, false}}) {
    ScoreSong s;
    s.division = Q;
    s.hands = false;
    s.partCount = 1;
    s.partPrograms = {0};
    s.partNames = {""};
    s.notes = std::move(notes);
    s.times = std::move(times);
    s.keys = std::move(keys);
    return s;
}

ScoreNote N(int key, int64_t start, int64_t length) {
    return {0, key, start, start + length};
}

// What every layout must hold, whatever the song.
void ExpectWhole(const ScoreSong& song, const ScoreLayout& layout) {
    std::set<int32_t> shown;
    for (const ScoreMeasure& m : layout.measures) {
        for (const StaffMeasure& s : m.staves) {
            ASSERT_FALSE(s.voices.empty());
            for (const ScoreVoice& v : s.voices) {
                int32_t at = 0;
                for (const ScoreEvent& e : v.events) {
                    EXPECT_EQ(e.start, at) << "bar " << m.number << " voice " << v.number;
                    NoteType type{};
                    int8_t dots = 0;
                    EXPECT_TRUE(e.wholeMeasure ||
                                (WrittenValue(e.duration, e.triplet, type, dots) && type == e.type))
                        << "bar " << m.number << " voice " << v.number << ": " << e.duration << " units at "
                        << e.start << " is no written value";
                    at += e.duration;
                    for (const ScoreHead& h : e.heads) shown.insert(h.note);
                }
                EXPECT_EQ(at, m.length)
                    << "bar " << m.number << " voice " << v.number << " does not fill its bar";
            }
        }
    }
    EXPECT_EQ(shown.size(), song.notes.size()) << "notes missing from the page";
}

std::string Rhythm(const ScoreMeasure& m, size_t voice = 0) {
    static const char* kNames = "whq8stx";  // whole half quarter 8th sixteenth thirty-second sixty-fourth
    std::string out;
    for (const ScoreEvent& e : m.staves[0].voices[voice].events) {
        if (!out.empty()) out += ' ';
        if (e.rest) out += 'r';
        if (e.triplet) out += '3';
        out += kNames[e.type];
        for (int d = 0; d < e.dots; ++d) out += '.';
        if (!e.heads.empty() && e.heads[0].tieStart) out += '~';
    }
    return out;
}

struct RhythmCase {
    const char* name;
    ScoreSong song;
    std::vector<std::string> bars;  // the rhythm of voice 1 in each of the first bars
};

TEST(Notation, RhythmsOfSmallSongs) {
    const RhythmCase cases[] = {
        {"dotted rhythm", Song({N(60, 0, 720), N(62, 720, 240), N(64, 960, 960)}), {"q. 8 h"}},
        {"tie over a bar line", Song({N(60, 1440, 960)}), {"rh rq q~", "q rq rh"}},
        {"triplet",
         Song({N(60, 0, 160), N(62, 160, 160), N(64, 320, 160), N(65, 480, 1440)}),
         {"38 38 38 h."}},
        {"6/8 bar",
         Song({N(60, 0, 240), N(62, 240, 240), N(64, 480, 240), N(65, 720, 720)}, {{0, 6, 8}}),
         {"8 8 8 q."}},
        {"anacrusis", Song({N(67, 0, 480), N(72, 480, 1920)}, {{0, 1, 4}, {480, 4, 4}}), {"q", "w"}},
        {"hand-played eighths",
         Song({N(60, 7, 230), N(62, 251, 219), N(64, 466, 250), N(65, 735, 200), N(67, 950, 950)}),
         {"8 8 8 8 h"}},
        {"a sliver of a note moved from triplets onto a straight beat",
         Song({N(60, 0, 160), N(62, 160, 160), N(64, 320, 156), N(65, 476, 4), N(67, 960, 960)}),
         {"38 38 38 s r8. h"}},
        {"a short last note rounded onto the song's end",
         Song({N(60, 0, 1440), N(62, 1440, 360), N(64, 1905, 15)}),
         {"h. 8.~ t. x"}},
        {"sixteenths and a rest",
         Song({N(60, 0, 120), N(62, 120, 120), N(64, 240, 240), N(65, 960, 960)}),
         {"s s 8 rq h"}},
    };
    for (const RhythmCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ScoreLayout layout = LayOutScore(c.song);
        ExpectWhole(c.song, layout);
        ASSERT_GE(layout.measures.size(), c.bars.size());
        for (size_t b = 0; b < c.bars.size(); ++b)
            EXPECT_EQ(Rhythm(layout.measures[b]), c.bars[b]) << "bar " << b;
    }
}

// A 1/4 bar before the 4/4 ones is an anacrusis: bar 0, written in the metre that follows.
TEST(Notation, AnacrusisIsBarZero) {
    const ScoreLayout layout = LayOutScore(Song({N(67, 0, 480), N(72, 480, 1920)}, {{0, 1, 4}, {480, 4, 4}}));
    ASSERT_GE(layout.measures.size(), 2u);
    EXPECT_TRUE(layout.measures[0].pickup);
    EXPECT_EQ(layout.measures[0].number, 0);
    EXPECT_EQ(layout.measures[0].numerator, 4);
    EXPECT_EQ(layout.measures[1].number, 1);
    EXPECT_FALSE(layout.measures[1].showTime);
    const ScoreLayout none = LayOutScore(Song({N(67, 0, 1920)}, {{0, 4, 4}}));
    EXPECT_FALSE(none.measures[0].pickup);
    EXPECT_EQ(none.measures[0].number, 1);
}

TEST(Notation, TripletsAreBracketedAndBeamsFollowTheBeat) {
    const ScoreLayout triplet =
        LayOutScore(Song({N(60, 0, 160), N(62, 160, 160), N(64, 320, 160), N(65, 480, 1440)}));
    const auto& t = triplet.measures[0].staves[0].voices[0].events;
    EXPECT_TRUE(t[0].tupletStart && !t[0].tupletStop && t[2].tupletStop);
    EXPECT_EQ(t[0].beams[0], Beam::Begin);
    EXPECT_EQ(t[2].beams[0], Beam::End);

    const ScoreLayout compound = LayOutScore(Song(
        {N(60, 0, 240), N(62, 240, 240), N(64, 480, 240), N(65, 720, 240), N(67, 960, 240), N(69, 1200, 240)},
        {{0, 6, 8}}));
    const auto& e = compound.measures[0].staves[0].voices[0].events;
    ASSERT_EQ(e.size(), 6u);
    const Beam expected[] = {Beam::Begin, Beam::Continue, Beam::End, Beam::Begin, Beam::Continue, Beam::End};
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(e[i].beams[0], expected[i]) << "eighth " << i;

    // A sixteenth after a dotted eighth hangs a hook off the shared beam.
    const ScoreLayout hooked = LayOutScore(Song({N(60, 0, 360), N(62, 360, 120), N(64, 480, 1440)}));
    const auto& h = hooked.measures[0].staves[0].voices[0].events;
    EXPECT_EQ(h[0].beams[0], Beam::Begin);
    EXPECT_EQ(h[1].beams[0], Beam::End);
    EXPECT_EQ(h[1].beams[1], Beam::BackwardHook);
}

TEST(Notation, VoicesAndChords) {
    // A chord with a second: one event of two heads, drawn on both sides of the stem.
    const ScoreSong second = Song({N(60, 0, 1920), N(62, 0, 1920)});
    const ScoreLayout chord = LayOutScore(second);
    ASSERT_EQ(chord.measures[0].staves[0].voices.size(), 1u);
    EXPECT_EQ(chord.measures[0].staves[0].voices[0].events[0].heads.size(), 2u);
    const Engraving page = EngraveScore(chord, "");
    std::set<float> headX;
    for (const GlyphMark& g : page.pages[0].glyphs) {
        if (g.note >= 0) headX.insert(g.x);
    }
    EXPECT_EQ(headX.size(), 2u) << "the heads of a second overlap";

    // A held note under a moving line makes two voices, stems apart.
    const ScoreSong held = Song({N(48, 0, 1920), N(64, 0, 480), N(65, 480, 480), N(67, 960, 960)});
    const ScoreLayout two = LayOutScore(held);
    ExpectWhole(held, two);
    ASSERT_EQ(two.measures[0].staves[0].voices.size(), 2u);
    EXPECT_TRUE(two.measures[0].staves[0].voices[0].events[0].stemUp);
    EXPECT_FALSE(two.measures[0].staves[0].voices[1].events[0].stemUp);
}

// Each note's written length, followed along its ties the way a reader does: a head tied from
// before must continue the same note in the same voice, and a tie must not be left open.
std::map<int32_t, int32_t> WrittenLengths(const ScoreLayout& layout) {
    std::map<int32_t, int32_t> out;
    std::map<std::tuple<size_t, int32_t, int32_t>, int32_t> open;  // staff, voice, key -> note
    for (const ScoreMeasure& m : layout.measures) {
        for (size_t s = 0; s < m.staves.size(); ++s) {
            for (const ScoreVoice& v : m.staves[s].voices) {
                for (const ScoreEvent& e : v.events) {
                    for (const ScoreHead& h : e.heads) {
                        const auto at = std::make_tuple(s, v.number, h.key);
                        auto it = open.find(at);
                        if (h.tieStop) {
                            EXPECT_TRUE(it != open.end() && it->second == h.note)
                                << "bar " << m.number << " key " << h.key << " tied from nothing";
                        } else {
                            EXPECT_TRUE(it == open.end())
                                << "bar " << m.number << " key " << h.key << " tie left open";
                        }
                        out[h.note] += e.duration;
                        if (h.tieStart)
                            open[at] = h.note;
                        else if (it != open.end())
                            open.erase(at);
                    }
                }
            }
        }
    }
    EXPECT_TRUE(open.empty()) << "a tie runs off the end";
    return out;
}

// Notes struck a little apart that sound on together are one chord; climbing or falling across
// the keys over an audible spread, they are a roll, each key's own onset kept as its attack.
TEST(Notation, NearOnsetsMakeOneChord) {
    struct Case {
        const char* name;
        std::vector<ScoreNote> notes;
        size_t heads;                  // in the bar's first event
        int roll;                      // 1 upwards, -1 downwards
        std::vector<int32_t> attacks;  // units, lowest head first
    };
    const Case cases[] = {
        {"rolled up", {N(60, 0, 1920), N(64, 50, 1870), N(67, 100, 1820)}, 3, 1, {0, 10, 20}},
        {"rolled down", {N(79, 0, 1920), N(76, 40, 1880), N(72, 80, 1840)}, 3, -1, {16, 8, 0}},
        {"rolled up over a bass struck with it",
         {N(48, 0, 1920), N(60, 0, 1920), N(64, 40, 1880), N(67, 80, 1840)},
         4,
         1,
         {0, 0, 8, 16}},
        {"a hand's uneven chord", {N(60, 3, 950), N(64, 0, 960), N(67, 6, 940)}, 3, 0, {0, 0, 0}},
        {"a hand's chord struck a little in order",
         {N(60, 0, 950), N(64, 12, 940), N(67, 30, 930)},
         3,
         0,
         {0, 0, 0}},
        {"spread out of key order", {N(64, 0, 960), N(60, 40, 920), N(67, 80, 880)}, 3, 0, {0, 0, 0}},
        {"a fast run overlapping a little",
         {N(60, 0, 70), N(62, 55, 70), N(64, 110, 70), N(65, 165, 1755)},
         1,
         0,
         {0}},
        {"thirty-seconds held as a broken chord",
         {N(60, 0, 1920), N(64, 60, 1860), N(67, 120, 1800), N(72, 180, 1740)},
         1,
         0,
         {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ScoreSong song = Song(c.notes);
        const ScoreLayout layout = LayOutScore(song);
        ExpectWhole(song, layout);
        const ScoreEvent& first = layout.measures[0].staves[0].voices[0].events[0];
        ASSERT_EQ(first.heads.size(), c.heads);
        EXPECT_EQ(first.roll, c.roll);
        for (size_t h = 0; h < c.heads; ++h) EXPECT_EQ(first.heads[h].attack, c.attacks[h]) << "head " << h;
    }
}

// A note that no voice is free for is held through another voice's chords with ties, never cut
// short, however many keys a broken chord leaves sounding.
TEST(Notation, HeldNotesKeepTheirLength) {
    struct Case {
        const char* name;
        std::vector<ScoreNote> notes;
    };
    const Case cases[] = {
        {"a broken chord of five held keys",
         {N(43, 0, 1904), N(50, 240, 1424), N(55, 480, 944), N(59, 720, 464), N(62, 960, 944),
          N(59, 1200, 704), N(55, 1440, 464), N(50, 1680, 224)}},
        {"six keys struck one by one and held",
         {N(48, 0, 1920), N(52, 240, 1680), N(55, 480, 1440), N(60, 720, 1200), N(64, 960, 960),
          N(67, 1200, 720)}},
        {"five lengths from one onset",
         {N(60, 0, 480), N(62, 0, 960), N(64, 0, 1440), N(65, 0, 1920), N(67, 0, 2400)}},
        {"a key struck again while held",
         {N(48, 0, 1920), N(52, 0, 1440), N(55, 0, 960), N(60, 0, 720), N(64, 240, 1680), N(60, 960, 960)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ScoreSong song = Song(c.notes);
        const ScoreLayout layout = LayOutScore(song);
        ExpectWhole(song, layout);
        const std::map<int32_t, int32_t> written = WrittenLengths(layout);
        for (size_t i = 0; i < song.notes.size(); ++i) {
            const int64_t sounding = (song.notes[i].end - song.notes[i].start) * kUnitsPerQuarter / Q;
            const auto it = written.find(static_cast<int32_t>(i));
            ASSERT_NE(it, written.end()) << "note " << i << " not written";
            EXPECT_NEAR(it->second, sounding, 12) << "note " << i << " key " << song.notes[i].key;
        }
    }
}

TEST(Notation, KeysAndSpelling) {
    struct Spelt {
        int key, fifths;
        bool minor;
        const char* name;
    };
    const Spelt table[] = {
        {61, 0, false, "C#4"},  {70, 0, false, "Bb4"}, {68, 0, true, "G#4"},   {61, -1, true, "C#4"},
        {66, -6, false, "Gb4"}, {60, 7, false, "B#3"}, {71, -7, false, "Cb5"}, {63, 2, false, "D#4"},
    };
    for (const Spelt& s : table) {
        const Spelling sp = SpellKey(s.key, s.fifths, s.minor);
        std::string name(1, "CDEFGAB"[sp.step]);
        name += sp.alter > 0 ? "#" : sp.alter < 0 ? "b" : "";
        name += std::to_string(sp.octave);
        EXPECT_EQ(name, s.name) << "key " << s.key << " in " << s.fifths;
    }

    // A key change at the second bar: F sharp is in the first key, B flat in the second, and an F
    // natural in the first bar needs its sign where a second F in the bar does not.
    const ScoreSong change = Song({N(66, 0, 480), N(65, 480, 480), N(65, 960, 960), N(70, 1920, 1920)}, {},
                                  {{0, 1, false}, {1920, -1, false}});
    const ScoreLayout layout = LayOutScore(change);
    ASSERT_GE(layout.measures.size(), 2u);
    EXPECT_TRUE(layout.measures[1].showKey);
    EXPECT_EQ(layout.measures[1].fifths, -1);
    const auto& bar1 = layout.measures[0].staves[0].voices[0].events;
    EXPECT_FALSE(bar1[0].heads[0].accidental);
    EXPECT_TRUE(bar1[1].heads[0].accidental);
    EXPECT_FALSE(bar1[2].heads[0].accidental);
    const ScoreHead& bflat = layout.measures[1].staves[0].voices[0].events[0].heads[0];
    EXPECT_EQ(bflat.spelling.alter, -1);
    EXPECT_FALSE(bflat.accidental);

    // Without a key in the file it is found from the notes: a D major scale and its chord.
    std::vector<ScoreNote> dmajor;
    const int scale[] = {62, 64, 66, 67, 69, 71, 73, 74, 62, 66, 69, 62};
    for (int i = 0; i < 12; ++i) dmajor.push_back(N(scale[i], i * 480, 480));
    const ScoreLayout found = LayOutScore(Song(dmajor, {}, {}));
    EXPECT_TRUE(found.keyEstimated);
    EXPECT_EQ(found.measures[0].fifths, 2);
    EXPECT_FALSE(found.measures[0].minor);
}

TEST(Notation, GrandStaffAndClefChanges) {
    ScoreSong s = Song({N(72, 0, 1920), N(76, 1920, 1920)});
    s.hands = true;
    s.partCount = 2;
    s.partPrograms = {0, 0};
    s.partNames = {"", ""};
    s.notes.push_back({1, 48, 0, 1920});
    s.notes.push_back({1, 79, 1920, 1920});  // the left hand crosses far up in the second bar
    s.notes.push_back({1, 81, 1920, 1920});
    const ScoreLayout layout = LayOutScore(s);
    ASSERT_TRUE(layout.grandStaff);
    ASSERT_EQ(layout.measures[0].staves.size(), 2u);
    EXPECT_EQ(layout.measures[0].staves[0].clef, Clef::Treble);
    EXPECT_EQ(layout.measures[0].staves[1].clef, Clef::Bass);
    EXPECT_EQ(layout.measures[1].staves[1].clef, Clef::Treble);
    EXPECT_TRUE(layout.measures[1].staves[1].clefChanged);
}

// A song read by voices shows a staff for each part chosen, in the song's order and each once,
// with its own name and clef; with none chosen (or none the song has), its first piano part, else
// its first. Two hands stay a grand staff.
TEST(Notation, AVoicesSongShowsThePartsChosen) {
    ScoreSong s = Song({{2, 40, 0, 2 * Q}, {1, 60, 0, Q}, {0, 76, 0, Q}, {1, 64, Q, Q}});
    s.partCount = 3;
    s.partPrograms = {40, 0, 33};  // a violin, a piano and a bass
    s.partNames = {"Violin", "", "Bass"};
    struct Staff {
        int32_t part;
        const char* name;
        size_t notes;
        Clef clef;
    };
    const Staff violin{0, "Violin", 1, Clef::Treble}, piano{1, "Part 2", 2, Clef::Treble},
        bass{2, "Bass", 1, Clef::Bass};
    const struct {
        std::vector<int32_t> chosen;
        std::vector<Staff> staves;
    } cases[] = {
        {{}, {piano}},        {{0}, {violin}},
        {{2}, {bass}},        {{3}, {piano}},
        {{-7}, {piano}},      {{2, 0}, {violin, bass}},
        {{1, 1, 5}, {piano}}, {{2, 1, 0, 2}, {violin, piano, bass}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(::testing::PrintToString(k.chosen));
        const ScoreLayout layout = LayOutScore(s, LayoutChoice{k.chosen});
        ASSERT_EQ(layout.staves.size(), k.staves.size());
        EXPECT_FALSE(layout.grandStaff);
        for (size_t i = 0; i < k.staves.size(); ++i) {
            const Staff& want = k.staves[i];
            EXPECT_EQ(layout.staves[i].part, want.part);
            EXPECT_EQ(layout.staves[i].name, want.name);
            EXPECT_EQ(layout.staves[i].program, s.partPrograms[static_cast<size_t>(want.part)]);
            ASSERT_EQ(layout.measures[0].staves.size(), k.staves.size());
            EXPECT_EQ(layout.measures[0].staves[i].clef, want.clef);
            std::set<int32_t> shown;
            for (const ScoreMeasure& m : layout.measures)
                for (const ScoreVoice& v : m.staves[i].voices)
                    for (const ScoreEvent& e : v.events)
                        for (const ScoreHead& h : e.heads) shown.insert(h.note);
            EXPECT_EQ(shown.size(), want.notes);
            for (const int32_t note : shown) EXPECT_EQ(s.notes[static_cast<size_t>(note)].part, want.part);
        }
    }
}

// A note tied over the end of a line of music goes on, level, at the start of the next: its tie
// does not cut across from one line's height to the other's.
TEST(Notation, TiesCarriedToTheNextLineStayLevel) {
    std::vector<ScoreNote> notes;
    for (int bar = 0; bar < 24; ++bar) notes.push_back(N(bar % 2 ? 64 : 67, bar * 1920 + 960, 1920));
    const ScoreLayout layout = LayOutScore(Song(notes));
    EngraveOptions narrow;
    narrow.pageWidth = 300;
    const Engraving e = EngraveScore(layout, "", narrow);
    std::set<float> lines;
    for (const MeasurePlace& p : e.places) lines.insert(p.top);
    ASSERT_GE(lines.size(), 3u) << "the bars fill several lines";
    size_t ties = 0;
    for (const EngravedPage& page : e.pages) {
        for (const TieMark& t : page.ties) {
            EXPECT_NEAR(t.y1, t.y2, 0.01f) << "a tie from " << t.x1 << " to " << t.x2;
            ++ties;
        }
    }
    EXPECT_GE(ties, 24u);
}

// Several voices are written as a part each: a score-part and a part per staff, each one staff
// with its own clef, its voices counted from 1, its instrument's program; the engraving names the
// parts before their staves. Two hands are one part on two staves, unnamed.
TEST(Notation, SeveralPartsAreWrittenAsPartsAndNamed) {
    ScoreSong s = Song({{0, 76, 0, Q}, {2, 40, 0, 2 * Q}, {0, 79, Q, Q}});
    s.partCount = 3;
    s.partPrograms = {40, 0, 32};
    s.partNames = {"Violin & co", "", "Bass"};
    const auto count = [](const std::string& x, const std::string& what) {
        size_t n = 0;
        for (size_t at = x.find(what); at != std::string::npos; at = x.find(what, at + 1)) ++n;
        return n;
    };
    const ScoreLayout parts = LayOutScore(s, LayoutChoice{{0, 2}});
    const std::string x = MusicXmlOf(parts, "t");
    EXPECT_EQ(count(x, "<score-part "), 2u);
    EXPECT_EQ(count(x, "<part id="), 2u);
    EXPECT_EQ(count(x, "<staves>1</staves>"), 2u);
    EXPECT_EQ(count(x, "<staff>2</staff>"), 0u);
    EXPECT_NE(x.find("<part-name>Violin &amp; co</part-name>"), std::string::npos);
    EXPECT_NE(x.find("<midi-program>41</midi-program>"), std::string::npos);
    EXPECT_NE(x.find("<midi-program>33</midi-program>"), std::string::npos);
    const size_t second = x.find("<part id=\"P2\">");
    ASSERT_NE(second, std::string::npos);
    EXPECT_NE(x.find("<sign>F</sign>", second), std::string::npos);  // the bass's own clef
    EXPECT_EQ(count(x, "<sound tempo="), 1u);
    EXPECT_EQ(count(x, "<voice>5</voice>"), 0u);

    const Engraving page = EngraveScore(parts, "");
    std::set<std::string> texts;
    for (const TextMark& t : page.pages.front().texts) texts.insert(t.text);
    EXPECT_TRUE(texts.count("Violin & co") && texts.count("Bass"));

    ScoreSong hands = s;
    hands.hands = true;
    const ScoreLayout grand = LayOutScore(hands, LayoutChoice{{2}});
    ASSERT_TRUE(grand.grandStaff);
    const std::string g = MusicXmlOf(grand, "t");
    EXPECT_EQ(count(g, "<score-part "), 1u);
    EXPECT_EQ(count(g, "<staves>2</staves>"), 1u);
    const Engraving grandPage = EngraveScore(grand, "");
    for (const TextMark& t : grandPage.pages.front().texts) EXPECT_NE(t.text, "Violin & co");
}

// A bar line joins the two hands' staves, but stands on each staff alone where the staves are
// separate instruments; the line that opens a system joins them all.
TEST(Notation, BarLinesJoinOnlyOneInstrumentsStaves) {
    ScoreSong s = Song({{0, 76, 0, 4 * Q}, {1, 48, 0, 4 * Q}, {0, 77, 4 * Q, 4 * Q}, {1, 50, 4 * Q, 4 * Q}});
    s.partCount = 2;
    s.partPrograms = {0, 40};
    s.partNames = {"", ""};
    for (const bool hands : {true, false}) {
        SCOPED_TRACE(hands ? "two hands" : "two instruments");
        s.hands = hands;
        const ScoreLayout layout = LayOutScore(s, LayoutChoice{{0, 1}});
        ASSERT_EQ(layout.staves.size(), 2u);
        const Engraving e = EngraveScore(layout, "");
        ASSERT_FALSE(e.places.empty());
        const MeasurePlace& first = e.places.front();
        const float gap = (first.top + first.bottom) / 2;  // between the two staves
        size_t joined = 0, opening = 0;
        for (const LineMark& l : e.pages.front().lines) {
            if (l.x1 != l.x2 || std::min(l.y1, l.y2) > gap || std::max(l.y1, l.y2) < gap) continue;
            (l.x1 < first.x1 ? opening : joined) += 1;
        }
        EXPECT_EQ(opening, 1u);
        EXPECT_EQ(joined, hands ? layout.measures.size() : 0u);
    }
}

// Notes more than four ledger lines over a treble staff (or under a bass one) are written an
// octave or two nearer it under a line; the line takes in the notes around it that are still
// beyond the staff, and ends where the staff falls silent for a bar.
TEST(Notation, OctaveLinesOverFarNotes) {
    struct Case {
        const char* name;
        std::vector<std::vector<int>> chords;  // a quarter note each; {} a quarter's rest
        std::vector<int> octaves;              // each chord's, in order
        size_t lines;
    };
    const Case cases[] = {
        {"within four ledger lines", {{84}, {86}, {88}, {91}, {93}}, {0, 0, 0, 0, 0}, 0},
        {"a glockenspiel's run",
         {{79}, {91}, {96}, {100}, {96}, {91}, {79}, {84}},
         {0, 1, 1, 1, 1, 1, 0, 0},
         1},
        {"two octaves up", {{108}, {103}, {96}, {100}}, {2, 2, 2, 2}, 1},
        {"under a bass staff", {{48}, {24}, {28}, {43}}, {0, -1, -1, 0}, 1},
        {"a silent bar between", {{96}, {98}, {}, {}, {}, {}, {}, {}, {98}, {96}}, {1, 1, 1, 1}, 2},
        {"a chord the shift would sink", {{96}, {60, 100}, {96}, {96}}, {1, 0, 1, 1}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ScoreNote> notes;
        std::vector<int32_t> firsts;  // each chord's first note
        for (size_t i = 0; i < c.chords.size(); ++i) {
            if (!c.chords[i].empty()) firsts.push_back(static_cast<int32_t>(notes.size()));
            for (int key : c.chords[i]) notes.push_back(N(key, static_cast<int64_t>(i) * Q, Q));
        }
        const ScoreSong song = Song(notes);
        const ScoreLayout layout = LayOutScore(song);
        ExpectWhole(song, layout);
        std::map<int32_t, int> octaves;
        size_t starts = 0, stops = 0;
        for (const ScoreMeasure& m : layout.measures) {
            for (const ScoreVoice& v : m.staves[0].voices) {
                for (const ScoreEvent& e : v.events) {
                    starts += e.octaveStart;
                    stops += e.octaveStop;
                    for (const ScoreHead& h : e.heads) octaves.emplace(h.note, e.octaves);
                }
            }
        }
        std::vector<int> got;
        for (int32_t i : firsts) got.push_back(octaves[i]);
        EXPECT_EQ(got, c.octaves);
        EXPECT_EQ(starts, c.lines);
        EXPECT_EQ(stops, c.lines);
        // Drawn as many times, and written as many times for a reader of the file.
        const Engraving page = EngraveScore(layout, "");
        EXPECT_EQ(page.pages.front().octaves.size(), c.lines);
        for (const OctaveMark& o : page.pages.front().octaves) EXPECT_LT(o.x1, o.x2);
        const std::string x = MusicXmlOf(layout, "t");
        size_t shifts = 0;
        for (size_t at = x.find("<octave-shift type=\"stop\""); at != std::string::npos;
             at = x.find("<octave-shift type=\"stop\"", at + 1))
            ++shifts;
        EXPECT_EQ(shifts, c.lines);
    }
}

// From the bytes of a file: the ticks come back from the seconds across tempo changes, and the
// signatures come from any track.
TEST(Notation, FileTicksAndSignatures) {
    using smf::Bytes, smf::Event, smf::Track, smf::Tempo, smf::On, smf::Off, smf::EndOfTrack;
    const Bytes timeSig = Event(0, {0xFF, 0x58, 0x04, 3, 2, 24, 8});
    const Bytes keySig = Event(0, {0xFF, 0x59, 0x02, 0xFE, 1});    // two flats, minor
    const Bytes badKey = Event(100, {0xFF, 0x59, 0x02, 0x08, 0});  // eight sharps: no key
    const Bytes file = smf::Song(Q, {Track({timeSig, Tempo(0, 400000), Tempo(700, 900000), EndOfTrack()}),
                                     Track({keySig, badKey, On(0, 0, 60), Off(480, 0, 60), On(240, 0, 62),
                                            Off(1000, 0, 62), On(7, 0, 64), Off(333, 0, 64), EndOfTrack()})});
    auto song = smf::NewSong();
    TempoMap tempo;
    ASSERT_TRUE(ParseSong(*song, file.data(), file.size(), &tempo));
    const SongMeters meters = ReadSongMeters(file.data(), file.size());
    EXPECT_EQ(meters.division, Q);
    ASSERT_EQ(meters.times.size(), 1u);
    EXPECT_EQ(meters.times[0].numerator, 3);
    EXPECT_EQ(meters.times[0].denominator, 4);
    ASSERT_EQ(meters.keys.size(), 1u);
    EXPECT_EQ(meters.keys[0].fifths, -2);
    EXPECT_TRUE(meters.keys[0].minor);

    const ScoreSong score = ScoreSongFrom(*song, tempo, meters);
    ASSERT_EQ(score.notes.size(), 3u);
    const int64_t starts[] = {100, 820, 1827}, ends[] = {580, 1820, 2160};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(score.notes[i].start, starts[i]) << "note " << i;
        EXPECT_EQ(score.notes[i].end, ends[i]) << "note " << i;
    }
    EXPECT_NEAR(score.quarterSeconds, 0.4, 1e-9);
}

}  // namespace
