// The song as measures of written music: for every measure and staff, the voices' chords and rests
// with their written values, ties, dots, triplets, beams, stems, clefs, key and time signatures.
// It is pure data, made once from a ScoreSong, and read by the MusicXML writer, the page engraver
// and the score strip alike.
//
// Positions and lengths are in units of a 96th of a quarter note: every grid the quantiser uses
// (down to sixty-fourths and the triplets of thirty-seconds) falls on whole units.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "notation/score_song.h"

inline constexpr int32_t kUnitsPerQuarter = 96;
// A song longer than this many measures is cut there: nothing readable has more, and a file with
// a tempo of a microsecond a quarter would otherwise ask for billions.
inline constexpr int32_t kMaxScoreMeasures = 20000;

enum class Clef : int8_t { Treble = 0, Bass = 1 };
enum class Beam : int8_t { None = 0, Begin, Continue, End, ForwardHook, BackwardHook };
enum NoteType : int8_t { Whole = 0, Half, Quarter, Eighth, Sixteenth, ThirtySecond, SixtyFourth };

struct Spelling {
    int8_t step;    // 0 C, 1 D, 2 E, 3 F, 4 G, 5 A, 6 B
    int8_t alter;   // -1 flat, 0 natural, 1 sharp
    int8_t octave;  // 4 holds middle C
};

struct ScoreHead {
    int32_t key;
    Spelling spelling;
    bool accidental;  // written before the head: the key and the bar's earlier notes do not imply it
    bool tieStart;    // tied to the next head of this key in the voice
    bool tieStop;     // tied from the previous one
    int32_t note;     // index into ScoreSong::notes
    int32_t attack;   // units after the event's start that the key sounds, in a rolled chord
};

struct ScoreEvent {
    int32_t start;     // units from the measure's start
    int32_t duration;  // units it takes in the bar (a triplet eighth takes 32)
    NoteType type;
    int8_t dots;
    bool triplet;      // three in the time of two
    bool tupletStart;  // the first of its triplet group
    bool tupletStop;   // the last
    bool rest;
    bool wholeMeasure;  // a rest filling the bar, whatever its length
    int8_t roll;        // a chord struck as a roll: 1 from the lowest key up, -1 from the highest down
    bool stemUp;
    // Written this many octaves below its sound under an octave line (1 "8va", 2 "15ma"), or above
    // it (-1 "8vb", -2 "15mb"); the heads' spellings stay the sounding pitches.
    int8_t octaves;
    bool octaveStart;              // the first event under its octave line on this staff
    bool octaveStop;               // the last
    Beam beams[4];                 // level 1 (eighths) to 4 (sixty-fourths)
    std::vector<ScoreHead> heads;  // lowest first; empty for a rest
};

struct ScoreVoice {
    int32_t number;                  // 1.. within its staff
    std::vector<ScoreEvent> events;  // in time order, filling the measure from start to end
};

struct StaffMeasure {
    Clef clef;                       // in force in this measure
    bool clefChanged;                // differs from the previous measure's: written at the bar's start
    std::vector<ScoreVoice> voices;  // voice 1 always, others only where they have notes
};

struct ScoreMeasure {
    int32_t number;     // as printed: 1 for the first full bar, 0 for an anacrusis
    int64_t start;      // units from the song's start
    int32_t length;     // units
    int64_t startTick;  // the file's tick at the measure's start
    int32_t numerator;
    int32_t denominator;
    bool showTime;  // the time signature is written here (the first bar, or a change)
    int32_t fifths;
    bool minor;
    bool showKey;  // the key signature is written here
    bool pickup;   // shorter than its time signature: an anacrusis
    std::vector<StaffMeasure> staves;
};

struct ScoreStaff {
    int32_t part;  // the song's part shown on it
    std::string name;
    int32_t program = -1;  // the part's instrument (General MIDI, from 0); -1 when none was set
};

struct ScoreLayout {
    int32_t division = 480;
    bool grandStaff = false;  // two staves braced for the two hands
    bool keyEstimated = false;
    double quarterSeconds = 0.5;
    std::vector<ScoreStaff> staves;  // top first
    std::vector<ScoreMeasure> measures;
};

// Which parts a voices song shows, a staff for each, in the song's order of parts whatever the
// order asked for; parts the song does not have, and repeats, are left out. None (or none the
// song has) picks the first piano part, else the first part. A song read as hands always shows
// both hands on a grand staff.
struct LayoutChoice {
    std::vector<int32_t> parts;
};

[[nodiscard]] ScoreLayout LayOutScore(const ScoreSong& song, const LayoutChoice& choice = {});

// The written value of a duration in units, when one note can show it: type, dots and whether it
// is a triplet value. False for a length that needs a tie.
[[nodiscard]] bool WrittenValue(int32_t units, bool triplet, NoteType& type, int8_t& dots);
