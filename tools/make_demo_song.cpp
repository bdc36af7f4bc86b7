// make_demo_song: writes the piano piece that ships with the player as examples/demo_song.mid.
//
// "Orchard Lamplight", a gentle piece in G major, 4/4 at 92 quarter notes per minute:
//   bars  1-2   intro, left hand alone
//   bars  3-10  A    theme, half cadence in bar 6, full cadence in bar 10
//   bars 11-18  A'   the theme varied, tonicising D through A7
//   bars 19-26  B    E minor answered a step lower in D, climax in bar 23, back home through
//                    C - Cm and a chain of dominants (E7 - Am - D7)
//   bars 27-34  A''  the theme returns and closes on the tonic
//   bars 35-36  coda, plagal C - Cm - G slowing to a held chord
//
// The output is a type 1 file with a tempo track and the two hands on separate tracks, both on
// channel 0, so the player sees the common "one track per hand" layout. Everything is integer
// arithmetic so the bytes are the same on every machine; the file in the tree is compared with a
// fresh run by the test suite.
//
//   make_demo_song [--seconds N] OUT.mid
//
// --seconds N writes the piece repeated and re-timed to last N seconds, for timing and testing
// the render; see main().
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "smf_write.h"

namespace {

using smf_write::AppendBigEndian;
using smf_write::AppendDelta;

constexpr int kTicksPerQuarter = 480;
constexpr int kTicksPerEighth = kTicksPerQuarter / 2;
constexpr int kTicksPerSixteenth = kTicksPerQuarter / 4;
constexpr int kTicksPerBar = 4 * kTicksPerQuarter;
constexpr int kBars = 36;
constexpr int kIntroBars = 2;

constexpr const char* kTitle = "Orchard Lamplight";

// Right hand, one token per note: PITCH:LENGTH with the length in sixteenths (4 = quarter,
// 6 = dotted quarter). "r" is a rest, "_" ties on to the notes still sounding, "G4+B4" is a chord
// and "|" is a bar line, checked so that a miscounted bar fails loudly instead of shifting the
// rest of the piece.
constexpr std::string_view kMelody = R"(
    r:16 | r:12 D5:2 C5:2 |
    B4:6 A4:2 G4:4 D5:4 | E5:6 D5:2 B4:8 | C5:4 E5:4 D5:3 C5:1 A4:4 | A4:8 r:4 D5:2 C5:2 |
    B4:6 A4:2 G4:4 D5:4 | E5:4 G5:4 E5:2 D5:2 C5:4 | B4:4 D5:4 C5:2 B4:2 A4:4 | G4:12 r:4 |
    B4:6 A4:2 G4:2 A4:2 B4:2 D5:2 | E5:6 F#5:2 G5:8 | _:4 E5:2 C5:2 C#5:4 E5:4 | D5:8 r:4 A4:2 C5:2 |
    B4:6 A4:2 B4:4 D#5:4 | E5:4 B4:2 E5:2 G5:6 E5:2 | D5:4 B4:4 A4:2 B4:2 C5:2 A4:2 | G4:8 r:4 B4:4 |
    E5:6 F#5:2 G5:4 E5:4 | D#5:6 E5:2 F#5:4 B4:4 | D5:6 E5:2 F#5:4 D5:4 | C#5:6 D5:2 E5:4 G5:4 |
    F#5:4 A5:4 D6:8 | C6:4 B5:2 A5:2 G5:4 Eb5:4 | D5:6 B4:2 E5:4 D5:4 | C5:6 B4:2 A4:4 D5:2 C5:2 |
    B4:6 A4:2 G4:4 D5:4 | E5:6 D5:2 B4:8 | C5:4 E5:4 D5:3 C5:1 A4:4 | A4:8 r:4 D5:2 C5:2 |
    B4:6 A4:2 F#4:2 A4:2 B4:2 D#5:2 | E5:4 G5:4 G5:2 F#5:2 E5:4 | D5:6 B4:2 A4:2 B4:2 C5:2 A4:2 | G4:12 r:4 |
    E5:8 Eb5:8 | G4+B4+D5:16 |
)";

// Left hand harmony, one or two chords per bar (two split the bar in halves).
constexpr std::string_view kChords = R"(
    G | C D7 |
    G | Em | Am D | D7 | G | C | G/D D7 | G |
    G | Em | C A7 | D D7 | G B7 | Em C | G/D D7 | G B7 |
    Em | B7 | D | A7 | D | C Cm | G/B E7 | Am D7 |
    G | Em | Am D | D7 | G B7 | Em C | G/D D7 | G |
    C Cm | G |
)";

// An accompaniment figure: which chord tones are struck on which eighth of the bar. Tones count
// up the chord from the bass (0 = bass, 3 = an octave or a seventh above it, 5 = about an octave
// and a half up). A chord lasting half a bar plays the first half of the figure. Every note is
// held to the end of its chord, the way a pedalled arpeggio rings.
struct Strike {
    int eighth;
    std::vector<int> tones;
};
using Figure = std::vector<Strike>;

const Figure kRolling = {{0, {0}}, {1, {2}}, {2, {3}}, {3, {4}}, {4, {5}}, {5, {4}}, {6, {3}}, {7, {2}}};
const Figure kAlberti = {{0, {0}}, {1, {2}}, {2, {4}}, {3, {2}}, {4, {3}}, {5, {2}}, {6, {4}}, {7, {2}}};
const Figure kBassAndChords = {{0, {0}}, {2, {3, 4, 5}}, {6, {3, 4, 5}}};
const Figure kHeldChord = {{0, {0, 2, 3, 4}}};

struct FigureFrom {
    int bar;  // 1-based, in force until the next entry
    const Figure* figure;
};
const FigureFrom kFigures[] = {{1, &kRolling},        {11, &kAlberti}, {19, &kBassAndChords}, {23, &kRolling},
                               {25, &kBassAndChords}, {27, &kRolling}, {36, &kHeldChord}};

// The overall loudness, bar by bar, interpolated in between: the B section swells to its climax
// in bar 23 and the coda dies away.
struct Level {
    int bar;
    int velocity;
};
constexpr Level kDynamics[] = {{1, 50},  {3, 62},  {10, 60}, {11, 64}, {18, 64}, {19, 66}, {23, 88}, {24, 84},
                               {26, 70}, {27, 64}, {31, 72}, {33, 70}, {34, 62}, {35, 54}, {37, 46}};

// Quarter notes per minute from a tick on; the last two bars broaden into the final chord.
struct TempoChange {
    int tick;
    int bpm;
};
constexpr TempoChange kTempo[] = {{0, 92},
                                  {34 * kTicksPerBar, 86},
                                  {34 * kTicksPerBar + 2 * kTicksPerQuarter, 80},
                                  {35 * kTicksPerBar, 70}};

// How much earlier than written a note lets go, so repeated and stepwise notes stay distinct.
constexpr int kMelodyRelease = 24;
constexpr int kAccompanimentRelease = 16;

struct Note {
    int start;
    int end;
    int key;
    int lean = 0;  // extra weight on top of the dynamics, e.g. for the bass of a chord
    int velocity = 0;
};

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "make_demo_song: %s\n", what.c_str());
    std::exit(1);
}

std::vector<std::string> Tokens(std::string_view text) {
    std::istringstream in{std::string(text)};
    std::vector<std::string> tokens;
    for (std::string token; in >> token;) tokens.push_back(token);
    return tokens;
}

// "C" -> 0, "F#" -> 6, "Eb" -> 3; `used` gets the number of characters read.
int PitchClass(std::string_view name, size_t& used) {
    static constexpr int kNatural[] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    if (name.empty() || name[0] < 'A' || name[0] > 'G') Fail("bad pitch " + std::string(name));
    int pc = kNatural[name[0] - 'A'];
    used = 1;
    if (name.size() > 1 && (name[1] == '#' || name[1] == 'b')) {
        pc += name[1] == '#' ? 1 : -1;
        used = 2;
    }
    return (pc + 12) % 12;
}

// "F#5" -> 78; octave 4 starts at middle C (60).
int Key(std::string_view name) {
    size_t used = 0;
    const int pc = PitchClass(name, used);
    if (used + 1 != name.size() || name[used] < '0' || name[used] > '8')
        Fail("bad pitch " + std::string(name));
    const int key = 12 * (name[used] - '0' + 1) + pc;
    if (key < 21 || key > 108) Fail("pitch off the keyboard: " + std::string(name));
    return key;
}

std::vector<Note> ReadMelody(std::string_view text) {
    std::vector<Note> notes;
    int at = 0;  // ticks
    int bars = 0;
    for (const std::string& token : Tokens(text)) {
        if (token == "|") {
            ++bars;
            if (at != bars * kTicksPerBar)
                Fail("melody bar " + std::to_string(bars) + " has the wrong length");
            continue;
        }
        const size_t colon = token.find(':');
        if (colon == std::string::npos) Fail("melody token without a length: " + token);
        const int length = std::stoi(token.substr(colon + 1)) * kTicksPerSixteenth;
        const std::string what = token.substr(0, colon);
        if (what == "_") {
            bool tied = false;
            for (Note& note : notes) {
                if (note.end == at) {
                    note.end += length;
                    tied = true;
                }
            }
            if (!tied) Fail("tie with nothing sounding");
        } else if (what != "r") {
            std::istringstream chord{what};
            for (std::string pitch; std::getline(chord, pitch, '+');)
                notes.push_back({at, at + length, Key(pitch)});
        }
        at += length;
    }
    if (bars != kBars) Fail("melody has " + std::to_string(bars) + " bars");
    return notes;
}

// The chord's keys upwards from its bass, which sits between C2 and B2: "G/B" gives
// B2 D3 G3 B3 D4 G4 ..., "A7" gives A2 C#3 G3 A3 C#4 G4 ...
std::vector<int> ChordStack(std::string_view symbol) {
    size_t used = 0;
    const int root = PitchClass(symbol, used);
    const size_t slash = symbol.find('/');
    const std::string_view quality =
        symbol.substr(used, slash == std::string_view::npos ? slash : slash - used);
    std::vector<int> intervals;
    if (quality.empty())
        intervals = {0, 4, 7};
    else if (quality == "m")
        intervals = {0, 3, 7};
    else if (quality == "7")
        intervals = {0, 4, 10};  // no fifth: the third and seventh are what pull home
    else
        Fail("unknown chord " + std::string(symbol));
    int bass = root;
    if (slash != std::string_view::npos) bass = PitchClass(symbol.substr(slash + 1), used);

    std::vector<int> stack;
    for (int key = 36 + bass; stack.size() < 8; ++key) {
        const int interval = (key - root + 120) % 12;
        if (std::find(intervals.begin(), intervals.end(), interval) != intervals.end()) stack.push_back(key);
    }
    if (stack.front() != 36 + bass) Fail("bass note outside the chord " + std::string(symbol));
    return stack;
}

const Figure& FigureForBar(int bar) {
    const Figure* figure = nullptr;
    for (const FigureFrom& from : kFigures) {
        if (from.bar <= bar) figure = from.figure;
    }
    return *figure;
}

std::vector<Note> Accompany(std::string_view chords) {
    std::vector<Note> notes;
    std::vector<std::string> bar;
    int bars = 0;
    for (const std::string& token : Tokens(chords)) {
        if (token != "|") {
            bar.push_back(token);
            continue;
        }
        if (bar.empty() || bar.size() > 2)
            Fail("chord bar " + std::to_string(bars + 1) + " needs one or two chords");
        const Figure& figure = FigureForBar(bars + 1);
        const int span = kTicksPerBar / static_cast<int>(bar.size());
        for (size_t i = 0; i < bar.size(); ++i) {
            const std::vector<int> stack = ChordStack(bar[i]);
            const int start = bars * kTicksPerBar + static_cast<int>(i) * span;
            for (const Strike& strike : figure) {
                if (strike.eighth * kTicksPerEighth >= span) break;
                for (int tone : strike.tones) {
                    const int lean = strike.eighth == 0 && tone == 0 ? 6 : 0;
                    notes.push_back(
                        {start + strike.eighth * kTicksPerEighth, start + span, stack[tone], lean});
                }
            }
        }
        bar.clear();
        ++bars;
    }
    if (bars != kBars) Fail("chords cover " + std::to_string(bars) + " bars");
    return notes;
}

int DynamicAt(int tick) {
    const int bar = tick / kTicksPerBar + 1;
    const int into = tick % kTicksPerBar;
    for (size_t i = 0; i + 1 < std::size(kDynamics); ++i) {
        const Level& from = kDynamics[i];
        const Level& to = kDynamics[i + 1];
        if (bar >= from.bar && bar < to.bar) {
            const int span = (to.bar - from.bar) * kTicksPerBar;
            const int elapsed = (bar - from.bar) * kTicksPerBar + into;
            return from.velocity + (to.velocity - from.velocity) * elapsed / span;
        }
    }
    return kDynamics[std::size(kDynamics) - 1].velocity;
}

// Strong beats lean in, off-beats fall back.
int MetricAccent(int tick) {
    const int into = tick % kTicksPerBar;
    if (into == 0) return 8;
    if (into == 2 * kTicksPerQuarter) return 4;
    if (into % kTicksPerQuarter == 0) return 0;
    if (into % kTicksPerEighth == 0) return -3;
    return -5;
}

// Each four-bar melodic phrase swells towards its middle and relaxes at its close.
int PhraseArch(int tick) {
    const int first = kIntroBars * kTicksPerBar;
    if (tick < first) return 0;
    const long long length = 4LL * kTicksPerBar;
    const long long at = (tick - first) % length;
    return static_cast<int>(40 * at * (length - at) / (length * length)) - 4;
}

// A small fixed unevenness so repeated figures do not sound mechanical.
int Touch(const Note& note) {
    return (note.start / kTicksPerSixteenth * 37 + note.key * 11) % 5 - 2;
}

// Sets velocities and ends: each note lets go `release` ticks before its written end, or before
// the same key is struck again if that comes sooner.
// `offset` sets the hand's level against the other; `accentShift` halves the metric accent for
// the accompaniment so the melody keeps the pulse.
void Perform(std::vector<Note>& notes, int offset, int accentShift, int release) {
    std::stable_sort(notes.begin(), notes.end(),
                     [](const Note& a, const Note& b) { return a.start < b.start; });
    for (size_t i = 0; i < notes.size(); ++i) {
        Note& note = notes[i];
        for (size_t j = i + 1; j < notes.size(); ++j) {
            if (notes[j].key != note.key) continue;
            if (notes[j].start == note.start) Fail("key struck twice at once");
            note.end = std::min(note.end, notes[j].start);
            break;
        }
        note.end -= release;
        if (note.end <= note.start) Fail("note too short to release");
        const int velocity = DynamicAt(note.start) + offset + PhraseArch(note.start) + Touch(note) +
                             note.lean + (MetricAccent(note.start) >> accentShift);
        note.velocity = std::clamp(velocity, 1, 127);
    }
}

// One track's events in file order; ties at a tick go meta first, then note-offs, then note-ons, so
// a key released and struck on the same tick is never cut short.
class Track {
  public:
    void Meta(int tick, uint8_t type, std::string_view data) {
        std::vector<uint8_t> bytes = {0xFF, type, static_cast<uint8_t>(data.size())};
        bytes.insert(bytes.end(), data.begin(), data.end());
        events_.push_back({tick, 0, bytes});
    }
    void Channel(int tick, int rank, std::vector<uint8_t> bytes) {
        events_.push_back({tick, rank, std::move(bytes)});
    }
    void Notes(const std::vector<Note>& notes) {
        for (const Note& note : notes) {
            Channel(note.start, 2,
                    {0x90, static_cast<uint8_t>(note.key), static_cast<uint8_t>(note.velocity)});
            Channel(note.end, 1, {0x80, static_cast<uint8_t>(note.key), 64});
        }
    }

    void AppendChunk(std::vector<uint8_t>& out, int endTick) {
        std::stable_sort(events_.begin(), events_.end(), [](const Event& a, const Event& b) {
            return a.tick != b.tick ? a.tick < b.tick : a.rank < b.rank;
        });
        std::vector<uint8_t> body;
        int now = 0;
        for (const Event& event : events_) {
            AppendDelta(body, event.tick - now);
            now = event.tick;
            body.insert(body.end(), event.bytes.begin(), event.bytes.end());
        }
        AppendDelta(body, endTick - now);
        body.insert(body.end(), {0xFF, 0x2F, 0x00});
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        AppendBigEndian(out, body.size(), 4);
        out.insert(out.end(), body.begin(), body.end());
    }

  private:
    struct Event {
        int tick;
        int rank;
        std::vector<uint8_t> bytes;
    };
    std::vector<Event> events_;
};

// Microseconds per quarter note at a tempo, rounded to the nearest.
uint32_t QuarterMicros(int bpm) {
    return static_cast<uint32_t>((60'000'000 + bpm / 2) / bpm);
}

// The song's length at the written tempi, in microseconds.
double PassMicros(int endTick) {
    double micros = 0;
    for (size_t i = 0; i < std::size(kTempo); ++i) {
        const int until = i + 1 < std::size(kTempo) ? kTempo[i + 1].tick : endTick;
        micros +=
            static_cast<double>(until - kTempo[i].tick) * QuarterMicros(kTempo[i].bpm) / kTicksPerQuarter;
    }
    return micros;
}

int Usage(const char* problem) {
    std::fprintf(stderr, "make_demo_song: %s\nusage: make_demo_song [--seconds N] OUT.mid\n", problem);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // --seconds N plays the piece through as often as comes closest to N seconds, at a tempo
    // stretched or pressed so that the song lasts N seconds: long songs for timing the render,
    // short ones for quick checks. Without it the piece is written once, as it ships.
    int seconds = 0;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            char* end = nullptr;
            const long value = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || value < 1 || value > 1800) return Usage("--seconds takes 1 to 1800");
            seconds = static_cast<int>(value);
        } else if (path == nullptr && argv[i][0] != '-') {
            path = argv[i];
        } else {
            return Usage("unexpected argument");
        }
    }
    if (path == nullptr) return Usage("no output file");

    std::vector<Note> right = ReadMelody(kMelody);
    std::vector<Note> left = Accompany(kChords);
    Perform(right, 0, 0, kMelodyRelease);
    Perform(left, -16, 1, kAccompanimentRelease);
    constexpr int kPassEnd = kBars * kTicksPerBar;

    int passes = 1;
    double stretch = 1.0;
    if (seconds > 0) {
        const double pass = PassMicros(kPassEnd);
        passes = std::max(1, static_cast<int>(std::lround(seconds * 1e6 / pass)));
        stretch = seconds * 1e6 / (passes * pass);
    }
    const int end = passes * kPassEnd;
    auto repeated = [&](const std::vector<Note>& notes) {
        std::vector<Note> all;
        for (int p = 0; p < passes; ++p) {
            for (Note note : notes) {
                note.start += p * kPassEnd;
                note.end += p * kPassEnd;
                all.push_back(note);
            }
        }
        return all;
    };
    right = repeated(right);
    left = repeated(left);

    Track tempo;
    tempo.Meta(0, 0x03, kTitle);
    tempo.Meta(0, 0x58, std::string_view("\x04\x02\x18\x08", 4));  // 4/4, metronome every quarter
    for (int p = 0; p < passes; ++p) {
        for (const TempoChange& change : kTempo) {
            uint32_t micros = QuarterMicros(change.bpm);
            if (seconds > 0) micros = static_cast<uint32_t>(std::lround(micros * stretch));
            const char bytes[3] = {static_cast<char>(micros >> 16), static_cast<char>(micros >> 8),
                                   static_cast<char>(micros)};
            tempo.Meta(p * kPassEnd + change.tick, 0x51, std::string_view(bytes, 3));
        }
    }

    std::vector<uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 3};
    AppendBigEndian(file, kTicksPerQuarter, 2);
    tempo.AppendChunk(file, end);
    const std::pair<const char*, const std::vector<Note>*> hands[] = {{"Right hand", &right},
                                                                      {"Left hand", &left}};
    for (const auto& [name, notes] : hands) {
        Track track;
        track.Meta(0, 0x03, name);
        track.Channel(0, 0, {0xC0, 0x00});  // acoustic grand piano
        track.Notes(*notes);
        track.AppendChunk(file, end);
    }

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "make_demo_song: cannot write %s\n", path);
        return 1;
    }
    return 0;
}
