#include "cli/song_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/hand_name.h"
#include "core/time_format.h"
#include "midi/gm_programs.h"
#include "midi/midi_reader.h"

namespace {

// JSON has no NaN or infinity; a time that is not finite prints as null.
void AppendNumber(std::string& out, double value, const char* format) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[40];
    std::snprintf(text, sizeof text, format, value);
    out += text;
}

void AppendInt(std::string& out, long long value) {
    char text[24];
    std::snprintf(text, sizeof text, "%lld", value);
    out += text;
}

void AppendString(std::string& out, const char* text) {
    out += '"';
    for (const char* c = text; *c != '\0'; ++c) {
        const unsigned char u = static_cast<unsigned char>(*c);
        if (u == '"' || u == '\\') {
            out += '\\';
            out += *c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += *c;
        }
    }
    out += '"';
}

int PartsShown(const SongData& song) {
    return song.reading == ReadingVoices ? std::clamp(song.partCount, 0, kMaxParts) : 2;
}

// How the hands were told apart, in a word for JSON and a phrase for a person.
const char* HandRuleWord(const SongData& song) {
    if (song.reading == ReadingVoices) return "none";
    return song.handRule == HandsByPitch ? "pitch" : "track";
}
const char* HandRulePhrase(const SongData& song) {
    return song.handRule == HandsByPitch ? "split by pitch" : "by track and channel";
}

int32_t NotesOf(const SongPart& part) {
    return part.notes != nullptr ? std::max(part.noteCount, 0) : 0;
}

}  // namespace

std::string SongJson(const SongData& song, bool loaded) {
    std::string out;
    const int parts = PartsShown(song);
    size_t notes = 0;
    for (int p = 0; p < parts; ++p) notes += static_cast<size_t>(NotesOf(song.parts[p]));
    out.reserve(256 + 48 * notes + 16 * static_cast<size_t>(song.barLineCount) +
                128 * static_cast<size_t>(parts));
    out += "{\"status\": ";
    AppendInt(out, song.status);
    out += ", \"loaded\": ";
    out += loaded ? "true" : "false";
    out += ", \"noteTracks\": ";
    AppendInt(out, song.noteTracks);
    out += ", \"duration\": ";
    AppendNumber(out, song.duration, "%.17g");
    out += ", \"barLines\": [";
    for (int i = 0; i < song.barLineCount; ++i) {
        if (i > 0) out += ", ";
        AppendNumber(out, song.barLines[i], "%.9g");
    }
    out += "], \"parts\": [";
    for (int p = 0; p < parts; ++p) {
        const SongPart& part = song.parts[p];
        out += p == 0 ? "{\"track\": " : ", {\"track\": ";
        AppendInt(out, part.track);
        out += ", \"channel\": ";
        AppendInt(out, part.channel);
        out += ", \"program\": ";
        AppendInt(out, part.program);
        out += ", \"name\": ";
        AppendString(out, part.name);
        out += ", \"notes\": [";
        const int32_t count = NotesOf(part);
        for (int i = 0; i < count; ++i) {
            const NoteRecord& n = part.notes[i];
            out += i == 0 ? "[" : ", [";
            AppendInt(out, n.key);
            out += ", ";
            AppendNumber(out, n.start, "%.9g");
            out += ", ";
            AppendNumber(out, n.end, "%.9g");
            out += ", ";
            AppendInt(out, n.velocity);
            out += "]";
        }
        out += "]}";
    }
    out += "], \"reading\": ";
    out += song.reading == ReadingVoices ? "\"voices\"" : "\"hands\"";
    out += ", \"hands\": \"";
    out += HandRuleWord(song);
    out += '"';
    out += ", \"percussionNotes\": ";
    AppendInt(out, song.percussionNotes);
    out += ", \"truncated\": ";
    out += song.truncated != 0 ? "true" : "false";
    out += "}\n";
    return out;
}

namespace {

// "61 notes, keys 36-84", or "no notes".
std::string NotesAndKeys(const SongPart& part) {
    const int32_t count = NotesOf(part);
    if (count == 0) return "no notes";
    char text[64];
    std::snprintf(text, sizeof text, "%d note%s, keys %d-%d", count, count == 1 ? "" : "s", part.lowKey,
                  part.highKey);
    return text;
}

}  // namespace

std::string SongSummary(const SongData& song, const std::string& name) {
    std::string out;
    char line[512];
    const double seconds = song.duration;
    // The length as the window's clock writes it; a length that is no time reads as none.
    const std::string length = FormatSongTime(std::isfinite(seconds) && seconds > 0 ? seconds : 0.0);
    std::snprintf(line, sizeof line, "%s: %d note track%s, %s (%.3f s), %d bar lines\n", name.c_str(),
                  song.noteTracks, song.noteTracks == 1 ? "" : "s", length.c_str(), seconds,
                  song.barLineCount);
    out += line;
    if (song.reading != ReadingVoices) {
        for (int p = 0; p < 2; ++p) {
            std::snprintf(line, sizeof line, "  %s: %s\n", HandName(p), NotesAndKeys(song.parts[p]).c_str());
            out += line;
        }
        out += std::string("  hands: ") + HandRulePhrase(song) + "\n";
    } else {
        const int parts = PartsShown(song);
        std::snprintf(line, sizeof line, "  %d voice%s:\n", parts, parts == 1 ? "" : "s");
        out += line;
        for (int p = 0; p < parts; ++p) {
            const SongPart& part = song.parts[p];
            const char* instrument = part.program >= 0 ? GmProgramName(part.program) : "no program change";
            std::string title = instrument;
            if (part.name[0] != '\0') title += std::string(" \"") + part.name + "\"";
            std::snprintf(line, sizeof line, "  voice %d: %s, track %d, channel %d: %s\n", p + 1,
                          title.c_str(), part.track, part.channel + 1, NotesAndKeys(part).c_str());
            out += line;
        }
    }
    if (song.percussionNotes > 0) {
        std::snprintf(line, sizeof line, "  percussion: %d note%s (heard, not drawn)\n", song.percussionNotes,
                      song.percussionNotes == 1 ? "" : "s");
        out += line;
    }
    if (song.truncated != 0) out += "  " + MidiLoadNoticeText(song) + "\n";
    return out;
}

std::string LoadFailureReason(const SongData& song, bool loaded) {
    if (loaded) return {};
    return MidiLoadFailureText(song);
}
