// Feeds arbitrary bytes through the MIDI reader into the notation: quantiser, voices, layout,
// MusicXML and the page engraver. Besides the sanitizers' checks, it asserts what every reader of
// a layout relies on: each voice's events follow one another without gap or overlap and fill their
// bar exactly, written values are ones a note can show, and every note of the song is on the page
// (or a note of its key struck at the same place) unless the song ran past the measures a score
// keeps.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "midi/meter_events.h"
#include "midi/midi_reader.h"
#include "midi/note_timeline.h"
#include "notation/measure_layout.h"
#include "notation/musicxml_writer.h"
#include "notation/page_engraving.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
    if (size > 0) std::memcpy(copy.get(), data, size);
    auto song = std::make_unique<SongData>();
    TempoMap tempo;
    const SongMeters meters = ReadSongMeters(copy.get(), size);
    for (const TimeSignatureEvent& t : meters.times) {
        if (t.numerator < 1 || t.denominator < 1 || t.denominator > 64) std::abort();
    }
    if (!ParseSong(*song, copy.get(), size, &tempo)) return 0;
    const ScoreSong score = ScoreSongFrom(*song, tempo, meters);
    // The first two parts laid out together, then each alone, as a voices song's chosen parts
    // would be, and the choice of none (the hands together, or the first piano part).
    for (int32_t part = -2; part < std::min<int32_t>(score.partCount, 2); ++part) {
        LayoutChoice choice;
        if (part == -2) choice.parts = {0, 1};
        if (part >= 0) choice.parts = {part};
        const ScoreLayout layout = LayOutScore(score, choice);
        if (layout.measures.empty() || static_cast<int32_t>(layout.measures.size()) > kMaxScoreMeasures)
            std::abort();
        std::set<int32_t> shown;
        for (const ScoreMeasure& m : layout.measures) {
            if (m.length <= 0 || m.staves.size() != layout.staves.size()) std::abort();
            for (const StaffMeasure& s : m.staves) {
                if (s.voices.empty()) std::abort();
                for (const ScoreVoice& v : s.voices) {
                    int32_t at = 0;
                    for (const ScoreEvent& e : v.events) {
                        if (e.start != at || e.duration <= 0) std::abort();
                        NoteType type;
                        int8_t dots;
                        if (!e.wholeMeasure &&
                            (!WrittenValue(e.duration, e.triplet, type, dots) || type != e.type))
                            std::abort();
                        at += e.duration;
                        for (const ScoreHead& h : e.heads) {
                            if (h.note < 0 || static_cast<size_t>(h.note) >= score.notes.size()) std::abort();
                            shown.insert(h.note);
                        }
                    }
                    if (at != m.length) std::abort();
                }
            }
        }
        // A note may only be missing where the same key starts at the same place once quantised:
        // a key struck twice there is one head.
        if (static_cast<int32_t>(layout.measures.size()) < kMaxScoreMeasures) {
            for (size_t i = 0; i < score.notes.size(); ++i) {
                const ScoreNote& n = score.notes[i];
                bool staffed = false;
                for (const ScoreStaff& st : layout.staves) staffed |= n.part == st.part;
                if (!staffed || shown.count(static_cast<int32_t>(i)) != 0) continue;
                bool twin = false;
                for (int32_t j : shown) {
                    const ScoreNote& o = score.notes[static_cast<size_t>(j)];
                    twin |=
                        o.part == n.part && o.key == n.key && std::llabs(o.start - n.start) <= score.division;
                }
                if (!twin) std::abort();
            }
        }
        const std::string xml = MusicXmlOf(layout, "fuzz");
        if (xml.find("</score-partwise>") == std::string::npos) std::abort();
        EngraveOptions options;
        options.lastMeasure = 40;  // the engraver's cost is per measure; a few pages show its faults
        const Engraving engraving = EngraveScore(layout, "fuzz", options);
        if (engraving.pages.empty()) std::abort();
    }
    return 0;
}
