#include "cli/song_report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/json_text.h"
#include "core/hand_name.h"
#include "core/time_format.h"
#include "midi/gm_programs.h"
#include "midi/midi_reader.h"

namespace {

// The JSON text, gathered a block at a time and handed on whenever a block fills: the text of a
// song of millions of notes runs to hundreds of megabytes, which need never be held at once.
class JsonOut {
  public:
    explicit JsonOut(const std::function<void(const char*, size_t)>& write) : write_(write) {}
    ~JsonOut() { Flush(); }
    JsonOut(const JsonOut&) = delete;
    JsonOut& operator=(const JsonOut&) = delete;

    void Text(const char* text) { Text(text, std::strlen(text)); }
    void Text(const char* text, size_t size) {
        if (size > kBlock - used_) Flush();
        if (size > kBlock) {
            write_(text, size);
            return;
        }
        std::memcpy(block_ + used_, text, size);
        used_ += size;
    }
    void Char(char c) {
        if (used_ == kBlock) Flush();
        block_[used_++] = c;
    }
    void Int(long long value) {
        Room(24);
        used_ = static_cast<size_t>(std::to_chars(block_ + used_, block_ + kBlock, value).ptr - block_);
    }
    // As printf's %.{digits}g writes it (which to_chars follows), or null for a time that is not
    // finite: JSON has no NaN or infinity.
    void Number(double value, int digits) {
        if (!std::isfinite(value)) {
            Text("null", 4);
            return;
        }
        Room(40);
        used_ = static_cast<size_t>(
            std::to_chars(block_ + used_, block_ + kBlock, value, std::chars_format::general, digits).ptr -
            block_);
    }
    void String(const char* text) {
        const std::string quoted = cli::JsonString(text);
        Text(quoted.data(), quoted.size());
    }

  private:
    static constexpr size_t kBlock = size_t{1} << 16;
    void Room(size_t size) {
        if (kBlock - used_ < size) Flush();
    }
    void Flush() {
        if (used_ != 0) write_(block_, used_);
        used_ = 0;
    }

    const std::function<void(const char*, size_t)>& write_;
    char block_[kBlock];
    size_t used_ = 0;
};

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

void WriteSongJson(const SongData& song, bool loaded, const std::function<void(const char*, size_t)>& write) {
    // The block is large for the stack of a thread, so it lives on the heap.
    const auto out = std::make_unique<JsonOut>(write);
    const int parts = PartsShown(song);
    out->Text("{\"status\": ");
    out->Int(song.status);
    out->Text(", \"loaded\": ");
    out->Text(loaded ? "true" : "false");
    out->Text(", \"noteTracks\": ");
    out->Int(song.noteTracks);
    out->Text(", \"duration\": ");
    out->Number(song.duration, 17);
    out->Text(", \"barLines\": [");
    for (int i = 0; i < song.barLineCount; ++i) {
        if (i > 0) out->Text(", ", 2);
        out->Number(song.barLines[i], 9);
    }
    out->Text("], \"parts\": [");
    for (int p = 0; p < parts; ++p) {
        const SongPart& part = song.parts[p];
        out->Text(p == 0 ? "{\"track\": " : ", {\"track\": ");
        out->Int(part.track);
        out->Text(", \"channel\": ");
        out->Int(part.channel);
        out->Text(", \"program\": ");
        out->Int(part.program);
        out->Text(", \"name\": ");
        out->String(part.name);
        out->Text(", \"notes\": [");
        const int32_t count = NotesOf(part);
        for (int i = 0; i < count; ++i) {
            const NoteRecord& n = part.notes[i];
            if (i == 0) {
                out->Char('[');
            } else {
                out->Text(", [", 3);
            }
            out->Int(n.key);
            out->Text(", ", 2);
            out->Number(n.start, 9);
            out->Text(", ", 2);
            out->Number(n.end, 9);
            out->Text(", ", 2);
            out->Int(n.velocity);
            out->Char(']');
        }
        out->Text("]}");
    }
    out->Text("], \"reading\": ");
    out->Text(song.reading == ReadingVoices ? "\"voices\"" : "\"hands\"");
    out->Text(", \"hands\": \"");
    out->Text(HandRuleWord(song));
    out->Char('"');
    out->Text(", \"percussionNotes\": ");
    out->Int(song.percussionNotes);
    out->Text(", \"truncated\": ");
    out->Text(song.truncated != 0 ? "true" : "false");
    out->Text("}\n");
}

std::string SongJson(const SongData& song, bool loaded) {
    std::string out;
    WriteSongJson(song, loaded, [&out](const char* text, size_t size) { out.append(text, size); });
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
