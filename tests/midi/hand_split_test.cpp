// Two hands out of one track: pieces written for two hands, flattened into one track on one
// channel, read back through the reader, and the notes each hand got compared with the hand that
// wrote them. Files whose own tracks or channels give the hands keep them.
#include "midi/hand_split.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <utility>

#include "midi/midi_reader.h"
#include "midi/track_merge.h"
#include "smf_builder.h"

using namespace smf;

namespace {

constexpr int kBeat = 480;  // ticks a quarter note; at the default tempo a tick is 1/960 s

struct WrittenNote {
    int tick;
    int length;
    int key;
    Hand hand;
};

struct Piece {
    std::vector<WrittenNote> notes;
    void Add(int tick, int length, int key, Hand hand) { notes.push_back({tick, length, key, hand}); }
};

// One track on channel 0, the notes of both hands interleaved as a performance would record them.
Bytes OneTrack(const Piece& piece, int program = -1) {
    struct Edge {
        int tick;
        bool on;
        int key;
    };
    std::vector<Edge> edges;
    for (const WrittenNote& n : piece.notes) {
        edges.push_back({n.tick, true, n.key});
        edges.push_back({n.tick + n.length, false, n.key});
    }
    // Note-offs first at a tick, so that a repeated key is let go before it is struck again.
    std::stable_sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.on < b.on;
    });
    Bytes body;
    if (program >= 0) body = Program(0, 0, program);
    int at = 0;
    for (const Edge& e : edges) {
        const Bytes event = e.on ? On(static_cast<uint32_t>(e.tick - at), 0, e.key, 80)
                                 : Off(static_cast<uint32_t>(e.tick - at), 0, e.key);
        body.insert(body.end(), event.begin(), event.end());
        at = e.tick;
    }
    const Bytes end = EndOfTrack();
    body.insert(body.end(), end.begin(), end.end());
    return Song(480, {Chunk("MTrk", body)});
}

// A fixed sequence of small numbers, so that every run writes the same pieces.
struct Dice {
    uint32_t state;
    int Roll(int sides) {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>((state >> 16) % static_cast<uint32_t>(sides));
    }
};

// C major: I, vi, IV, V, as pitch classes.
const int kChords[4][3] = {{0, 4, 7}, {9, 0, 4}, {5, 9, 0}, {7, 11, 2}};
const int kScale[7] = {0, 2, 4, 5, 7, 9, 11};

// The lowest `count` keys of the bar's chord from `floor` up.
std::vector<int> ChordFrom(int bar, int floor, int count) {
    std::vector<int> keys;
    for (int key = floor; static_cast<int>(keys.size()) < count; ++key) {
        const int* chord = kChords[bar % 4];
        if (key % 12 == chord[0] || key % 12 == chord[1] || key % 12 == chord[2]) keys.push_back(key);
    }
    return keys;
}

int Root(int bar, int low) {
    int key = low;
    while (key % 12 != kChords[bar % 4][0]) ++key;
    return key;
}

// A melody that wanders by steps of the scale between `low` and `high`, in quarters and eighths.
void Melody(Piece& piece, Dice& dice, int bars, int barTicks, int low, int high) {
    int degree = 0;
    auto keyOf = [](int d) { return 12 * (d / 7) + kScale[d % 7]; };
    const int lowDegree = [&] {
        int d = 0;
        while (keyOf(d) < low) ++d;
        return d;
    }();
    int highDegree = lowDegree;
    while (keyOf(highDegree + 1) <= high) ++highDegree;
    degree = (lowDegree + highDegree) / 2;
    for (int tick = 0; tick < bars * barTicks;) {
        const int length = dice.Roll(3) == 0 ? kBeat / 2 : kBeat;
        piece.Add(tick, length, keyOf(degree), RightHand);
        tick += length;
        degree += dice.Roll(5) - 2;
        if (degree < lowDegree) degree = lowDegree + 1;
        if (degree > highDegree) degree = highDegree - 1;
    }
}

Piece AlbertiUnderMelody(int bassFloor, int melodyLow, int melodyHigh) {
    Piece piece;
    Dice dice{7};
    const int bars = 24;
    for (int bar = 0; bar < bars; ++bar) {
        const std::vector<int> c = ChordFrom(bar, bassFloor, 3);
        const int pattern[4] = {c[0], c[2], c[1], c[2]};
        for (int i = 0; i < 8; ++i)
            piece.Add(bar * 4 * kBeat + i * kBeat / 2, kBeat / 2, pattern[i % 4], LeftHand);
    }
    Melody(piece, dice, bars, 4 * kBeat, melodyLow, melodyHigh);
    return piece;
}

Piece OctavesUnderChords() {
    Piece piece;
    Dice dice{11};
    for (int bar = 0; bar < 24; ++bar) {
        const int root = Root(bar, 31);
        for (int half = 0; half < 2; ++half) {
            const int tick = bar * 4 * kBeat + half * 2 * kBeat;
            piece.Add(tick, 2 * kBeat, root, LeftHand);
            piece.Add(tick, 2 * kBeat, root + 12, LeftHand);
        }
        for (int beat = 0; beat < 4; ++beat) {
            for (int key : ChordFrom(bar, 60 + dice.Roll(8), 3))
                piece.Add((bar * 4 + beat) * kBeat, kBeat, key, RightHand);
        }
    }
    return piece;
}

// Broken chords just under middle C and a melody just over it: at times a key or two apart.
Piece HandsThatComeClose() {
    Piece piece;
    Dice dice{23};
    const int bars = 24;
    for (int bar = 0; bar < bars; ++bar) {
        std::vector<int> c = ChordFrom(bar, 48, 4);
        const int pattern[8] = {c[0], c[1], c[2], c[3], c[2], c[1], c[0], c[1]};
        for (int i = 0; i < 8; ++i)
            piece.Add(bar * 4 * kBeat + i * kBeat / 2, kBeat / 2, pattern[i], LeftHand);
    }
    Melody(piece, dice, bars, 4 * kBeat, 60, 72);
    return piece;
}

// Broken chords up to D4 under a melody down to A3: the hands share the middle of the keyboard.
Piece HandsShareARegister() {
    Piece piece;
    Dice dice{41};
    const int bars = 24;
    for (int bar = 0; bar < bars; ++bar) {
        std::vector<int> c = ChordFrom(bar, 50, 4);
        const int pattern[8] = {c[0], c[1], c[2], c[3], c[2], c[1], c[0], c[1]};
        for (int i = 0; i < 8; ++i)
            piece.Add(bar * 4 * kBeat + i * kBeat / 2, kBeat / 2, pattern[i], LeftHand);
    }
    Melody(piece, dice, bars, 4 * kBeat, 57, 74);
    return piece;
}

// A melody that goes down to E3 over a bass that keeps to the bottom octaves.
Piece MelodyDipsUnderMiddleC() {
    Piece piece;
    Dice dice{5};
    const int bars = 24;
    for (int bar = 0; bar < bars; ++bar) {
        const int root = Root(bar, 28);
        piece.Add(bar * 4 * kBeat, 2 * kBeat, root, LeftHand);
        piece.Add(bar * 4 * kBeat + 2 * kBeat, 2 * kBeat, root + 7, LeftHand);
    }
    Melody(piece, dice, bars, 4 * kBeat, 52, 71);
    return piece;
}

// Three-four time: a bass note, then the chord twice, straddling middle C, under a high tune.
Piece Waltz() {
    Piece piece;
    Dice dice{3};
    const int bars = 32;
    for (int bar = 0; bar < bars; ++bar) {
        const int tick = bar * 3 * kBeat;
        piece.Add(tick, kBeat, Root(bar, 36), LeftHand);
        for (int beat = 1; beat < 3; ++beat) {
            for (int key : ChordFrom(bar, 55, 3)) piece.Add(tick + beat * kBeat, kBeat, key, LeftHand);
        }
    }
    Melody(piece, dice, bars, 3 * kBeat, 69, 86);
    return piece;
}

struct Shares {
    double split;     // notes the reader put in the hand that wrote them
    double middleC;   // the same with every key from middle C up taken as the right hand's
    size_t notes[2];  // what each hand got
};

Shares Measure(const SongData& song, const Piece& piece) {
    std::map<std::pair<int, int>, Hand> written;
    for (const WrittenNote& n : piece.notes) written[{n.tick, n.key}] = n.hand;
    Shares s{0.0, 0.0, {0, 0}};
    size_t right = 0, middleC = 0, total = 0;
    for (int p = 0; p < 2; ++p) {
        for (int i = 0; i < song.parts[p].noteCount; ++i) {
            const NoteRecord& n = song.parts[p].notes[i];
            const auto it = written.find({static_cast<int>(std::lround(n.start * 960.0)), n.key});
            if (it == written.end()) continue;
            ++total;
            right += it->second == p;
            middleC += it->second == (n.key >= 60 ? RightHand : LeftHand);
            ++s.notes[p];
        }
    }
    s.split = static_cast<double>(right) / static_cast<double>(total);
    s.middleC = static_cast<double>(middleC) / static_cast<double>(total);
    return s;
}

TEST(HandSplit, PiecesForTwoHandsInOneTrackSplitAsWritten) {
    const struct {
        const char* name;
        Piece piece;
    } cases[] = {
        {"Alberti bass under a melody", AlbertiUnderMelody(48, 67, 84)},
        {"Alberti bass above middle C", AlbertiUnderMelody(57, 72, 88)},
        {"octaves under chords", OctavesUnderChords()},
        {"hands that come close", HandsThatComeClose()},
        {"hands share a register", HandsShareARegister()},
        {"melody dips under middle C", MelodyDipsUnderMiddleC()},
        {"waltz", Waltz()},
    };
    bool middleCFellShort = false;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = OneTrack(c.piece);
        auto song = NewSong();
        ASSERT_TRUE(ParseSong(*song, file.data(), file.size()));
        EXPECT_EQ(song->reading, ReadingHands);
        EXPECT_EQ(song->handRule, HandsByPitch);
        const Shares s = Measure(*song, c.piece);
        EXPECT_EQ(s.notes[0] + s.notes[1], c.piece.notes.size()) << "every written note is read";
        std::printf("[ share    ] %-30s split %5.1f %%  middle C %5.1f %%  (%zu right, %zu left)\n", c.name,
                    100.0 * s.split, 100.0 * s.middleC, s.notes[0], s.notes[1]);
        EXPECT_GE(s.split, 0.9) << "middle C alone gets " << s.middleC;
        middleCFellShort |= s.middleC < 0.9;
        // Both hands keep the voice's own details.
        for (int p = 0; p < 2; ++p) {
            EXPECT_EQ(song->parts[p].track, 0);
            EXPECT_EQ(song->parts[p].channel, 0);
            EXPECT_EQ(song->parts[p].colour, p);
        }
    }
    EXPECT_TRUE(middleCFellShort) << "no piece where the music moves the split line";
}

// Pieces where the register alone misleads, split straight from their notes: the marked notes must
// go to the hand that plays them, whichever side of middle C they lie on.
TEST(HandSplit, HandsFollowTheirOwnLinesAcrossMiddleC) {
    struct Played {
        std::vector<NoteRecord> notes;
        std::vector<Hand> hands;
        std::vector<bool> marked;
        void Add(double start, double length, int key, Hand hand, bool mark = false, int velocity = 80) {
            notes.push_back({static_cast<float>(start), static_cast<float>(start + length),
                             static_cast<uint8_t>(key), static_cast<uint8_t>(velocity)});
            hands.push_back(hand);
            marked.push_back(mark);
        }
    };
    // A walking bass climbing to F4 and back under a tune high up.
    Played bass;
    const int walk[16] = {48, 50, 52, 53, 55, 57, 59, 60, 62, 64, 65, 64, 62, 60, 57, 53};
    for (int bar = 0; bar < 4; ++bar) {
        for (int i = 0; i < 16; ++i) {
            const double t = (bar * 16 + i) * 0.25;
            bass.Add(t, 0.25, walk[i], LeftHand, walk[i] > 60);
            if (i % 2 == 0) bass.Add(t, 0.5, 67 + kScale[(i / 2 + bar) % 7], RightHand);
            if (i % 4 == 0) bass.Add(t, 1.0, 76, RightHand);
        }
    }
    // A tune that falls to G3 and climbs back over bass octaves.
    Played tune;
    const int fall[16] = {72, 71, 69, 67, 65, 64, 62, 60, 59, 57, 55, 57, 59, 60, 64, 67};
    for (int bar = 0; bar < 4; ++bar) {
        for (int i = 0; i < 16; ++i) tune.Add((bar * 16 + i) * 0.25, 0.25, fall[i], RightHand, fall[i] < 60);
        for (int beat = 0; beat < 4; ++beat) {
            tune.Add((bar * 16 + beat * 4) * 0.25, 1.0, 36 + 5 * (bar % 2), LeftHand);
            tune.Add((bar * 16 + beat * 4) * 0.25, 1.0, 48 + 5 * (bar % 2), LeftHand);
        }
    }
    // Ten-note chords: five fingers a hand, so middle C goes to the left hand with its four.
    Played chords;
    const int voicings[2][10] = {{48, 52, 55, 57, 60, 62, 64, 67, 69, 72},
                                 {43, 47, 50, 55, 59, 62, 65, 67, 71, 74}};
    for (int i = 0; i < 16; ++i) {
        for (int k = 0; k < 10; ++k) {
            const int key = voicings[i % 2][k];
            chords.Add(i * 0.5, 0.5, key, k < 5 ? LeftHand : RightHand, key == 60);
        }
    }
    // Broken chords under a tune, then the right hand alone with a run down from C5 to G3 and back,
    // which a hand plays through rather than passing its lower notes to the resting hand.
    Played run;
    const int broken[4] = {48, 52, 55, 52};
    for (int i = 0; i < 16; ++i) {
        run.Add(i * 0.5, 0.5, broken[i % 4], LeftHand);
        if (i % 2 == 0) run.Add(i * 0.5, 1.0, 72 + kScale[i % 5], RightHand);
    }
    for (int i = 0; i < 22; ++i) {
        const int degree = i < 11 ? 14 - i : i - 7;
        const int key = 48 + 12 * (degree / 7) + kScale[degree % 7];
        run.Add(8.5 + i * 0.25, 0.25, key, RightHand, key < 60);
    }
    // A loud tune that dips into a soft accompaniment's register: the accompaniment's upper notes,
    // struck while the tune rests in between, stay with the hand that plays them soft.
    Played voiced;
    const int figure[4] = {50, 53, 57, 53};
    const int line[8] = {72, 69, 67, 64, 58, 62, 56, 64};
    for (int i = 0; i < 64; ++i) {
        const int soft = figure[i % 4] + (i / 16 % 2) * 2;
        voiced.Add(i * 0.25, 0.25, soft, LeftHand, soft > line[6], 40);
        if (i % 8 == 0) voiced.Add(i * 0.25, 2.0, 41, LeftHand, false, 40);
        if (i % 2 == 0) {
            const int key = line[i / 2 % 8];
            voiced.Add(i * 0.25, 0.5, key, RightHand, false, 100);
        }
    }
    // Thirds in the left hand a few keys under a tune of single notes, both in quarters: the hands
    // keep their textures, so the upper note of each third stays with the lower.
    Played thirds;
    const int bassLine[8] = {55, 53, 52, 50, 52, 53, 55, 57};
    const int tuneLine[8] = {64, 62, 60, 59, 57, 60, 62, 64};
    for (int i = 0; i < 32; ++i) {
        const double t = i * 0.5;
        const int low = bassLine[i % 8] + (i / 8 % 2) * 2;
        thirds.Add(t, 0.5, low, LeftHand);
        thirds.Add(t, 0.5, low + 3 + (i % 3 == 0), LeftHand, true);
        thirds.Add(t, 0.5, tuneLine[(i + i / 8) % 8] + 3, RightHand);
    }
    // Chords struck over and over, climbing to within an octave of a tune the right hand holds on
    // above them: the upper chords stay in the left hand.
    Played held;
    const int tuneNotes[3] = {80, 79, 82};
    const int chordTops[3] = {63, 63, 70};
    for (int bar = 0; bar < 3; ++bar) {
        const double t = bar * 2.0;
        held.Add(t, 1.75, tuneNotes[bar], RightHand);
        for (int i = 0; i < 8; ++i) {
            for (int key : {chordTops[bar] - 7, chordTops[bar] - 3, chordTops[bar]})
                held.Add(t + i * 0.25, 0.2, key, LeftHand, bar == 2 && key > 63);
        }
    }
    // Two voices in the right hand, an inner one struck between the held notes of the tune above
    // it, while the left hand rests after a low octave: the inner voice is the right hand's.
    Played inner;
    const int upper[4] = {69, 69, 71, 69}, lower[4] = {60, 62, 60, 59};
    for (int bar = 0; bar < 4; ++bar) {
        const double t = bar * 3.0;
        inner.Add(t, 0.5, 40, LeftHand);
        inner.Add(t, 0.5, 52, LeftHand);
        for (int i = 0; i < 4; ++i) {
            inner.Add(t + 1.0 + i * 0.4, 0.55, upper[i], RightHand);
            inner.Add(t + 1.2 + i * 0.4, 0.35, lower[i], RightHand, true);
        }
    }
    // A slow waltz's left hand: a low bass on the beat, then two chords an octave and more above
    // it, under a tune that climbs high and comes down close over the chords: the hand leaps up
    // and back every bar, and once it has, the chords' upper notes are still its own.
    Played leaps;
    const int basses[4] = {40, 44, 35, 42};
    const int dyads[4][2] = {{56, 64}, {59, 63}, {57, 64}, {57, 61}};
    for (int bar = 0; bar < 12; ++bar) {
        const double t = bar * 2.4;
        leaps.Add(t, 0.8, basses[bar % 4], LeftHand, false, 73);
        for (int beat = 1; beat < 3; ++beat) {
            for (int k = 0; k < 2; ++k)
                leaps.Add(t + beat * 0.8, 0.8, dyads[bar / 2 % 4][k], LeftHand, k == 1 && bar > 0, 62);
        }
        const int top = bar % 4 < 2 ? 80 : 66;
        leaps.Add(t, 1.6, top, RightHand, false, 77);
        leaps.Add(t + 1.6, 0.8, top - 2, RightHand, false, 70);
    }
    // A left hand alone with a broken chord, C4 G4 E4 G4 in sixteenths, its bass louder than its
    // upper notes, for three bars before a tune comes in above: the figure is the one hand's.
    Played alone;
    const int broken4[4] = {60, 67, 64, 67}, accents[4] = {74, 62, 68, 62};
    for (int i = 0; i < 96; ++i) {
        const double t = i * 0.16;
        alone.Add(t, 0.15, broken4[i % 4], LeftHand, i < 48 && i % 4 != 0, accents[i % 4]);
        if (i >= 48 && i % 4 == 0) alone.Add(t, 0.64, 79 + kScale[i / 4 % 5], RightHand, false, 80);
    }
    const struct {
        const char* name;
        const Played& piece;
    } cases[] = {
        {"bass climbs over middle C", bass},
        {"tune falls under middle C", tune},
        {"ten-note chords", chords},
        {"run in one hand while the other rests", run},
        {"loud tune through a soft accompaniment", voiced},
        {"thirds under a close tune", thirds},
        {"chords under a held tune", held},
        {"an inner voice under a held tune", inner},
        {"a left hand that leaps to its afterbeats", leaps},
        {"a left hand alone with a broken chord", alone},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> hands = AssignHandsByPitch(c.piece.notes.data(), c.piece.notes.size());
        ASSERT_EQ(hands.size(), c.piece.notes.size());
        size_t marked = 0, right = 0;
        for (size_t i = 0; i < hands.size(); ++i) {
            right += hands[i] == c.piece.hands[i];
            if (!c.piece.marked[i]) continue;
            ++marked;
            EXPECT_EQ(hands[i], c.piece.hands[i])
                << "key " << int{c.piece.notes[i].key} << " at " << c.piece.notes[i].start;
        }
        EXPECT_GT(marked, 0u);
        EXPECT_GE(right * 20, hands.size() * 19) << right << " of " << hands.size();

        // As a person plays them: every note struck and let go up to 30 ms early or late, so that a
        // chord's notes spread over as much as 60 ms, and the hands are still found as written.
        for (uint32_t take = 1; take <= 3; ++take) {
            std::vector<NoteRecord> played = c.piece.notes;
            uint32_t seed = take * 7919u;
            for (NoteRecord& n : played) {
                seed = seed * 1103515245u + 12345u;
                const float shift = static_cast<float>(static_cast<int>(seed >> 16) % 61 - 30) / 1000.0f;
                n.start = std::max(0.0f, n.start + shift);
                n.end = std::max(n.start + 0.01f, n.end + shift);
            }
            const std::vector<uint8_t> playedHands = AssignHandsByPitch(played.data(), played.size());
            size_t kept = 0;
            for (size_t i = 0; i < playedHands.size(); ++i) kept += playedHands[i] == c.piece.hands[i];
            EXPECT_GE(kept * 20, played.size() * 19)
                << "take " << take << ": " << kept << " of " << played.size();
        }
    }
}

// The hands are the notes' own, whatever order the notes come in: as struck, backwards, shuffled,
// or in clusters of eighty keys struck at once, each note let go at a time of its own.
TEST(HandSplit, HandsDoNotDependOnTheOrderOfTheNotes) {
    std::vector<NoteRecord> waltz;
    for (const WrittenNote& n : Waltz().notes)
        waltz.push_back({n.tick / 960.0f, (n.tick + n.length) / 960.0f, static_cast<uint8_t>(n.key), 80});
    std::stable_sort(waltz.begin(), waltz.end(),
                     [](const NoteRecord& a, const NoteRecord& b) { return a.start < b.start; });
    std::vector<NoteRecord> cluster;
    Dice dice{7};
    for (int onset = 0; onset < 6; ++onset) {
        for (int key = 24; key < 104; ++key) {
            const float start = onset * 0.5f + static_cast<float>(dice.Roll(20)) / 1000.0f;
            cluster.push_back({start, start + 0.05f + static_cast<float>(dice.Roll(40)) / 100.0f,
                               static_cast<uint8_t>(key), static_cast<uint8_t>(1 + dice.Roll(127))});
        }
    }
    std::stable_sort(cluster.begin(), cluster.end(),
                     [](const NoteRecord& a, const NoteRecord& b) { return a.start < b.start; });
    for (const std::vector<NoteRecord>* notes : {&waltz, &cluster}) {
        const std::vector<uint8_t> expected = AssignHandsByPitch(notes->data(), notes->size());
        ASSERT_NE(std::count(expected.begin(), expected.end(), RightHand), 0);
        ASSERT_NE(std::count(expected.begin(), expected.end(), LeftHand), 0);
        std::vector<size_t> reversed(notes->size()), shuffled(notes->size());
        for (size_t i = 0; i < notes->size(); ++i) reversed[i] = shuffled[i] = notes->size() - 1 - i;
        for (size_t i = shuffled.size(); i > 1; --i)
            std::swap(shuffled[i - 1], shuffled[static_cast<size_t>(dice.Roll(static_cast<int>(i)))]);
        for (const std::vector<size_t>* order : {&reversed, &shuffled}) {
            std::vector<NoteRecord> moved;
            for (size_t i : *order) moved.push_back((*notes)[i]);
            const std::vector<uint8_t> hands = AssignHandsByPitch(moved.data(), moved.size());
            size_t differ = 0;
            for (size_t i = 0; i < order->size(); ++i) differ += hands[i] != expected[(*order)[i]];
            EXPECT_EQ(differ, 0u) << notes->size() << " notes";
        }
    }
}

// The demo piece keeps its hands in two tracks; merged into one, its notes split as the tracks did.
TEST(HandSplit, DemoPieceInOneTrackSplitsAsItsTracks) {
    const char* source = std::getenv("DORVIK_SOURCE_DIR");
    const std::string path = std::string(source != nullptr ? source : ".") + "/examples/demo_song.mid";
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadFileBytes(path, bytes).Ok()) << path;
    auto tracks = NewSong();
    ASSERT_TRUE(ParseSong(*tracks, bytes.data(), bytes.size()));
    ASSERT_EQ(tracks->handRule, HandsByTrack);
    const std::vector<uint8_t> merged = MergeTracks(bytes, 1);
    auto pitch = NewSong();
    ASSERT_TRUE(ParseSong(*pitch, merged.data(), merged.size()));
    ASSERT_EQ(pitch->noteTracks, 1);
    EXPECT_EQ(pitch->handRule, HandsByPitch);

    std::map<std::pair<float, int>, int> written;
    size_t middleC = 0, total = 0;
    for (int p = 0; p < 2; ++p) {
        for (int i = 0; i < tracks->parts[p].noteCount; ++i) {
            const NoteRecord& n = tracks->parts[p].notes[i];
            written[{n.start, n.key}] = p;
            middleC += (n.key >= 60 ? 0 : 1) == p;
        }
    }
    size_t right = 0;
    for (int p = 0; p < 2; ++p) {
        for (int i = 0; i < pitch->parts[p].noteCount; ++i) {
            const NoteRecord& n = pitch->parts[p].notes[i];
            const auto it = written.find({n.start, n.key});
            ASSERT_NE(it, written.end()) << n.key << " at " << n.start;
            right += it->second == p;
            ++total;
        }
    }
    ASSERT_EQ(total, written.size());
    std::printf("[ share    ] demo piece in one track      split %5.1f %%  middle C %5.1f %%\n",
                100.0 * right / total, 100.0 * middleC / total);
    EXPECT_GE(right * 10, total * 9);
}

TEST(HandSplit, EachHandKeepsItsNotesInTheOrderRead) {
    const Piece piece = HandsThatComeClose();
    const Bytes file = OneTrack(piece);
    auto song = NewSong();
    ASSERT_TRUE(ParseSong(*song, file.data(), file.size()));
    ASSERT_EQ(song->handRule, HandsByPitch);
    // One run after the other in the note store, each in order of its starts.
    EXPECT_EQ(song->parts[1].notes, song->parts[0].notes + song->parts[0].noteCount);
    for (int p = 0; p < 2; ++p) {
        const SongPart& part = song->parts[p];
        for (int i = 1; i < part.noteCount; ++i) EXPECT_LE(part.notes[i - 1].start, part.notes[i].start) << i;
        // Its keys are its own, not the whole track's.
        const auto [low, high] =
            std::minmax_element(part.notes, part.notes + part.noteCount,
                                [](const NoteRecord& a, const NoteRecord& b) { return a.key < b.key; });
        EXPECT_EQ(part.lowKey, low->key) << p;
        EXPECT_EQ(part.highKey, high->key) << p;
    }
    // A copy keeps both runs.
    const auto copy = std::make_unique<SongData>(*song);
    EXPECT_EQ(copy->handRule, HandsByPitch);
    EXPECT_EQ(copy->parts[1].notes, copy->parts[0].notes + copy->parts[0].noteCount);
    EXPECT_EQ(copy->parts[0].notes, copy->noteStore.get());
}

// Hands the file gives by its tracks or channels stay as they are, however their pitches lie, and a
// track that is no piano piece stays whole.
TEST(HandSplit, FilesThatSayTheirHandsOrAreNoPianoPieceKeepTheirLayout) {
    const Piece piece = AlbertiUnderMelody(48, 67, 84);
    // The hands in tracks of their own, the upper track holding the lower hand's notes.
    Bytes lowerFirst, upperSecond;
    for (const WrittenNote& n : piece.notes) {
        Bytes& track = n.hand == LeftHand ? lowerFirst : upperSecond;
        const Bytes on = On(0, 0, n.key), off = Off(static_cast<uint32_t>(n.length), 0, n.key);
        track.insert(track.end(), on.begin(), on.end());
        track.insert(track.end(), off.begin(), off.end());
    }
    Bytes channels;  // the same two hands on channels 1 and 2 of one track
    for (int ch = 1; ch <= 2; ++ch) {
        for (int key = 40 + 24 * (ch - 1), i = 0; i < 10; ++i) {
            const Bytes on = On(0, ch, key + i), off = Off(240, ch, key + i);
            channels.insert(channels.end(), on.begin(), on.end());
            channels.insert(channels.end(), off.begin(), off.end());
        }
    }
    Piece scale;  // a scale of three octaves: one line, however wide
    for (int i = 0; i < 22; ++i) scale.Add(i * kBeat, kBeat, 48 + kScale[i % 7] + 12 * (i / 7), RightHand);
    Piece thirds;  // thirds within an octave: nothing for a second hand
    for (int i = 0; i < 16; ++i) {
        thirds.Add(i * kBeat, kBeat, 60 + kScale[i % 5], RightHand);
        thirds.Add(i * kBeat, kBeat, 60 + kScale[i % 5 + 2], RightHand);
    }
    Piece few;  // too few notes to be a piece
    for (int i = 0; i < kMinNotesToSplit - 1; ++i) few.Add(i * kBeat, kBeat, i % 2 == 0 ? 36 : 84, RightHand);

    const struct {
        const char* name;
        Bytes file;
        int32_t rule;
        int notes[2];
    } cases[] = {
        {"two tracks",
         Song(480, {Chunk("MTrk", lowerFirst), Chunk("MTrk", upperSecond)}),
         HandsByTrack,
         {0, 0}},
        {"channels 1 and 2 in one track", Song(480, {Chunk("MTrk", channels)}), HandsByTrack, {10, 10}},
        {"strings, not a piano",
         OneTrack(piece, 48),
         HandsByTrack,
         {static_cast<int>(piece.notes.size()), 0}},
        {"thirds within an octave", OneTrack(thirds, 0), HandsByTrack, {32, 0}},
        {"seven notes", OneTrack(few), HandsByTrack, {kMinNotesToSplit - 1, 0}},
        {"a piano's scale: one line", OneTrack(scale, 0), HandsByTrack, {22, 0}},
    };
    size_t left = 0;
    for (const WrittenNote& n : piece.notes) left += n.hand == LeftHand;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto song = NewSong();
        ASSERT_TRUE(ParseSong(*song, c.file.data(), c.file.size()));
        EXPECT_EQ(song->handRule, c.rule);
        if (c.notes[0] > 0) {
            EXPECT_EQ(song->parts[0].noteCount, c.notes[0]);
            EXPECT_EQ(song->parts[1].noteCount, c.notes[1]);
        }
    }
    // The two-track file: the first track is the first hand, low notes and all.
    auto song = NewSong();
    ASSERT_TRUE(ParseSong(*song, cases[0].file.data(), cases[0].file.size()));
    EXPECT_EQ(static_cast<size_t>(song->parts[0].noteCount), left);
    EXPECT_EQ(static_cast<size_t>(song->parts[1].noteCount), piece.notes.size() - left);
    EXPECT_EQ(song->parts[0].track, 0);
    EXPECT_EQ(song->parts[1].track, 1);
}

}  // namespace
