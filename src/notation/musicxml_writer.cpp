#include "notation/musicxml_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr const char* kTypeNames[] = {"whole", "half", "quarter", "eighth", "16th", "32nd", "64th"};
constexpr const char* kSteps = "CDEFGAB";
constexpr const char* kBeamNames[] = {"", "begin", "continue", "end", "forward hook", "backward hook"};

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                // Control characters are not allowed in XML 1.0 at all.
                if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') out += c;
        }
    }
    return out;
}

void WriteClef(std::string& x, size_t staff, Clef clef) {
    x += "<clef number=\"" + std::to_string(staff + 1) + "\">";
    x += clef == Clef::Treble ? "<sign>G</sign><line>2</line>" : "<sign>F</sign><line>4</line>";
    x += "</clef>";
}

void Note(std::string& x, const ScoreEvent& e, size_t staff, int voice, bool innerVoice) {
    const size_t heads = e.rest ? 1 : e.heads.size();
    for (size_t h = 0; h < heads; ++h) {
        // An inner voice's rests hold its time but are not printed: they would only crowd the staff.
        // A rolled chord is written at its place in the bar; each key's own onset within the roll
        // goes in the note's attack, in divisions, for a reader that plays the file.
        const int32_t attack = e.rest ? 0 : e.heads[h].attack;
        x += "<note";
        if (e.rest && innerVoice) x += " print-object=\"no\"";
        if (attack != 0) x += " attack=\"" + std::to_string(attack) + "\"";
        x += ">";
        if (h > 0) x += "<chord/>";
        if (e.rest) {
            x += e.wholeMeasure ? "<rest measure=\"yes\"/>" : "<rest/>";
        } else {
            const Spelling& s = e.heads[h].spelling;
            x += "<pitch><step>";
            x += kSteps[s.step];
            x += "</step>";
            if (s.alter != 0) x += "<alter>" + std::to_string(s.alter) + "</alter>";
            x += "<octave>" + std::to_string(s.octave) + "</octave></pitch>";
        }
        x += "<duration>" + std::to_string(e.duration) + "</duration>";
        const ScoreHead* head = e.rest ? nullptr : &e.heads[h];
        if (head != nullptr && head->tieStop) x += "<tie type=\"stop\"/>";
        if (head != nullptr && head->tieStart) x += "<tie type=\"start\"/>";
        x += "<voice>" + std::to_string(voice) + "</voice>";
        if (!e.wholeMeasure) {
            x += "<type>";
            x += kTypeNames[e.type];
            x += "</type>";
            for (int d = 0; d < e.dots; ++d) x += "<dot/>";
        }
        if (head != nullptr && head->accidental) {
            x += e.heads[h].spelling.alter > 0   ? "<accidental>sharp</accidental>"
                 : e.heads[h].spelling.alter < 0 ? "<accidental>flat</accidental>"
                                                 : "<accidental>natural</accidental>";
        }
        if (e.triplet)
            x += "<time-modification><actual-notes>3</actual-notes><normal-notes>2</normal-notes></"
                 "time-modification>";
        if (!e.rest) x += e.stemUp ? "<stem>up</stem>" : "<stem>down</stem>";
        x += "<staff>" + std::to_string(staff + 1) + "</staff>";
        if (h == 0 && !e.rest) {
            for (int level = 0; level < 4; ++level) {
                if (e.beams[level] == Beam::None) continue;
                x += "<beam number=\"" + std::to_string(level + 1) + "\">";
                x += kBeamNames[static_cast<int>(e.beams[level])];
                x += "</beam>";
            }
        }
        std::string notations;
        if (head != nullptr && head->tieStop) notations += "<tied type=\"stop\"/>";
        if (head != nullptr && head->tieStart) notations += "<tied type=\"start\"/>";
        if (h == 0 && e.tupletStart) notations += "<tuplet type=\"start\" bracket=\"yes\"/>";
        if (h == 0 && e.tupletStop) notations += "<tuplet type=\"stop\"/>";
        if (e.roll != 0)
            notations += e.roll > 0 ? "<arpeggiate direction=\"up\"/>" : "<arpeggiate direction=\"down\"/>";
        if (!notations.empty()) x += "<notations>" + notations + "</notations>";
        x += "</note>\n";
    }
}

// An octave line's start before its first note, or its end after its last. The notes keep their
// sounding pitches: a line over the staff shifts them down for the eye ("down"), one under it up.
// Each staff's lines are numbered apart, as both hands may have one at once.
void OctaveShift(std::string& x, int8_t octaves, size_t staff, bool start) {
    const std::string size = std::abs(octaves) >= 2 ? "15" : "8";
    const std::string type = !start ? "stop" : octaves > 0 ? "down" : "up";
    x += "<direction";
    if (start) x += octaves > 0 ? " placement=\"above\"" : " placement=\"below\"";
    x += "><direction-type><octave-shift type=\"" + type + "\" size=\"" + size + "\" number=\"" +
         std::to_string(staff + 1) + "\"/></direction-type><staff>" + std::to_string(staff + 1) +
         "</staff></direction>\n";
}

// One part of the score: the layout's staves [first, last), numbered from 1 within it.
void WritePart(std::string& x, const ScoreLayout& layout, size_t first, size_t last, const std::string& id) {
    x += "<part id=\"" + id + "\">\n";
    const size_t staves = last - first;
    for (size_t m = 0; m < layout.measures.size(); ++m) {
        const ScoreMeasure& sm = layout.measures[m];
        x += "<measure number=\"" + std::to_string(sm.number) + "\"";
        if (sm.pickup) x += " implicit=\"yes\"";
        x += ">\n";
        std::string attributes;
        if (m == 0) attributes += "<divisions>" + std::to_string(kUnitsPerQuarter) + "</divisions>";
        if (sm.showKey) {
            attributes += "<key><fifths>" + std::to_string(sm.fifths) + "</fifths><mode>";
            attributes += sm.minor ? "minor" : "major";
            attributes += "</mode></key>";
        }
        if (sm.showTime) {
            attributes += "<time><beats>" + std::to_string(sm.numerator) + "</beats><beat-type>" +
                          std::to_string(sm.denominator) + "</beat-type></time>";
        }
        if (m == 0) attributes += "<staves>" + std::to_string(staves) + "</staves>";
        for (size_t s = first; s < last && s < sm.staves.size(); ++s) {
            if (m == 0 || sm.staves[s].clefChanged) WriteClef(attributes, s - first, sm.staves[s].clef);
        }
        if (!attributes.empty()) x += "<attributes>" + attributes + "</attributes>\n";
        // The tempo is the score's, not a part's: written once, in the top part.
        if (m == 0 && first == 0 && layout.quarterSeconds > 0) {
            const long bpm = std::lround(60.0 / layout.quarterSeconds);
            x += "<direction "
                 "placement=\"above\"><direction-type><metronome><beat-unit>quarter</beat-unit><per-minute>" +
                 std::to_string(bpm) +
                 "</per-minute></metronome></direction-type><staff>1</staff><sound tempo=\"" +
                 std::to_string(bpm) + "\"/></direction>\n";
        }
        bool firstVoice = true;
        for (size_t s = first; s < last && s < sm.staves.size(); ++s) {
            for (const ScoreVoice& v : sm.staves[s].voices) {
                if (!firstVoice)
                    x += "<backup><duration>" + std::to_string(sm.length) + "</duration></backup>\n";
                firstVoice = false;
                for (const ScoreEvent& e : v.events) {
                    if (e.octaveStart) OctaveShift(x, e.octaves, s - first, true);
                    Note(x, e, s - first, static_cast<int>(s - first) * 4 + v.number, v.number > 1);
                    if (e.octaveStop) OctaveShift(x, e.octaves, s - first, false);
                }
            }
        }
        x += "</measure>\n";
    }
    x += "</part>\n";
}

// The part's entry in the part list. The instrument is named too: a reader without one guesses,
// and says so.
void WriteScorePart(std::string& x, const std::string& id, const std::string& name, int32_t program,
                    int channel) {
    x += "<score-part id=\"" + id + "\"><part-name>" + Escaped(name) + "</part-name><score-instrument id=\"" +
         id + "-I1\"><instrument-name>" + Escaped(name) +
         "</instrument-name></score-instrument><midi-instrument id=\"" + id + "-I1\"><midi-channel>" +
         std::to_string(channel) + "</midi-channel><midi-program>" +
         std::to_string(program >= 0 && program < 128 ? program + 1 : 1) +
         "</midi-program></midi-instrument></score-part>\n";
}

}  // namespace

std::string MusicXmlOf(const ScoreLayout& layout, const std::string& title) {
    std::string x;
    x.reserve(layout.measures.size() * 2048 * std::max<size_t>(layout.staves.size(), 1));
    x += "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
         "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 3.1 Partwise//EN\" "
         "\"http://www.musicxml.org/dtds/partwise.dtd\">\n"
         "<score-partwise version=\"3.1\">\n";
    x += "<work><work-title>" + Escaped(title) + "</work-title></work>\n";
    x += "<identification><encoding><software>dorvik-midi</software></encoding></identification>\n";
    x += "<part-list>\n";
    if (layout.grandStaff || layout.staves.size() <= 1) {
        // Both hands are one instrument on two staves; a single voice is one part on one staff.
        const std::string name = layout.grandStaff       ? "Piano"
                                 : layout.staves.empty() ? ""
                                                         : layout.staves[0].name;
        const int32_t program = layout.grandStaff || layout.staves.empty() ? -1 : layout.staves[0].program;
        WriteScorePart(x, "P1", name, program, 1);
        x += "</part-list>\n";
        WritePart(x, layout, 0, layout.staves.size(), "P1");
    } else {
        // Several voices are as many instruments: a part for each, each on a channel of its own
        // (the tenth, which General MIDI keeps for drums, left out).
        for (size_t s = 0; s < layout.staves.size(); ++s) {
            const int channel = static_cast<int>(s % 15) + 1;
            WriteScorePart(x, "P" + std::to_string(s + 1), layout.staves[s].name, layout.staves[s].program,
                           channel >= 10 ? channel + 1 : channel);
        }
        x += "</part-list>\n";
        for (size_t s = 0; s < layout.staves.size(); ++s)
            WritePart(x, layout, s, s + 1, "P" + std::to_string(s + 1));
    }
    x += "</score-partwise>\n";
    return x;
}
