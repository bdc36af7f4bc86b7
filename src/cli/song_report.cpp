#include "cli/song_report.h"

#include <cmath>
#include <cstdio>

#include "midi/midi_reader.h"
#include "resources/strings.h"

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

}  // namespace

std::string SongJson(const SongData& song, bool loaded) {
    std::string out;
    out.reserve(256 + 48 * (static_cast<size_t>(song.parts[0].noteCount) + song.parts[1].noteCount) +
                16 * static_cast<size_t>(song.barLineCount));
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
    for (int p = 0; p < 2; ++p) {
        const SongPart& part = song.parts[p];
        out += p == 0 ? "{\"notes\": [" : ", {\"notes\": [";
        for (int i = 0; i < part.noteCount; ++i) {
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
    out += "]}\n";
    return out;
}

std::string SongSummary(const SongData& song, const std::string& name) {
    std::string out;
    char line[256];
    const double seconds = song.duration;
    // Rounded to tenths before splitting, so 299.97 s reads 5:00.0 and never 4:60.0.
    const long tenths = std::isfinite(seconds) && seconds > 0 ? std::lround(seconds * 10.0) : 0;
    std::snprintf(line, sizeof line, "%s: %d note track%s, %ld:%02ld.%ld (%.3f s), %d bar lines\n",
                  name.c_str(), song.noteTracks, song.noteTracks == 1 ? "" : "s", tenths / 600,
                  tenths % 600 / 10, tenths % 10, seconds, song.barLineCount);
    out += line;
    for (int p = 0; p < 2; ++p) {
        const SongPart& part = song.parts[p];
        if (part.noteCount == 0) {
            std::snprintf(line, sizeof line, "  part %d: no notes\n", p);
        } else {
            int low = 127, high = 0;
            for (int i = 0; i < part.noteCount; ++i) {
                if (part.notes[i].key < low) low = part.notes[i].key;
                if (part.notes[i].key > high) high = part.notes[i].key;
            }
            std::snprintf(line, sizeof line, "  part %d: %d note%s, keys %d-%d%s\n", p, part.noteCount,
                          part.noteCount == 1 ? "" : "s", low, high,
                          part.noteCount == kMaxPartNotes ? " (full: later notes were dropped)" : "");
        }
        out += line;
    }
    if (song.status == MidiInvalidFile) out += "  reading stopped at a chunk that is not a MIDI chunk\n";
    if (song.status == MidiNoHeader) out += "  reading stopped at a track that came before the header\n";
    return out;
}

std::string LoadFailureReason(const SongData& song, bool loaded) {
    if (loaded) return {};
    switch (song.status) {
        case MidiInvalidFile:
        case MidiTooManyTracks:
        case MidiOutOfMemory:
        case MidiReadError:
            return res::LoadString(MidiStatusStringId(song.status));
        default:
            break;
    }
    // The parse went through: only the length limit refuses a song then.
    char text[96];
    std::snprintf(text, sizeof text, "Song longer than 30 minutes (%.1f s)", song.duration);
    return text;
}
