// What a load that failed or left something out says, in the words both the window and the
// command line show.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "core/memory_limit.h"
#include "midi/midi_reader.h"

std::string MidiLoadFailureText(const SongData& song) {
    char text[160];
    switch (song.status) {
        case MidiOk:
            return {};
        case MidiCutShort:
            std::snprintf(text, sizeof text, "Cut short at byte %lld",
                          static_cast<long long>(song.failureOffset));
            return text;
        case MidiDamaged:
            std::snprintf(text, sizeof text, "Damaged at byte %lld",
                          static_cast<long long>(song.failureOffset));
            return text;
        case MidiSmpteTiming:
            return "SMPTE timing is not supported";
        case MidiTooLong:
            // A length just past the limit would show as the limit itself at a tenth's precision,
            // which gives no reason; it is shown to the millisecond then, rounded up.
            if (std::round(song.duration * 10.0) / 10.0 > kMaxSongSeconds) {
                std::snprintf(text, sizeof text, "Longer than 30 minutes (%.1f s)", song.duration);
            } else {
                std::snprintf(text, sizeof text, "Longer than 30 minutes (%.3f s)",
                              std::ceil(song.duration * 1000.0 - 1e-6) / 1000.0);
            }
            return text;
        case MidiOutOfMemory:
            return "Not enough memory to read it";
        case MidiTooLarge: {
            const int64_t limit =
                std::min<int64_t>(SongMemoryLimit(), static_cast<int64_t>(kMaxMidiFileBytes));
            const std::string over = MemorySizeText(limit);
            if (song.notesFound > 0) {
                const std::string needed =
                    MemorySizeText(SongMemoryNeeded(song.failureOffset, song.notesFound));
                std::snprintf(
                    text, sizeof text,
                    "Too large: %lld notes in %lld bytes would take %s, over the memory limit of %s",
                    static_cast<long long>(song.notesFound), static_cast<long long>(song.failureOffset),
                    needed.c_str(), over.c_str());
            } else {
                std::snprintf(text, sizeof text, "Too large: %lld bytes, over the memory limit of %s",
                              static_cast<long long>(song.failureOffset), over.c_str());
            }
            return text;
        }
        case MidiReadError:
            return "Cannot be read: " + song.failureReason;
        default:
            return "Not a MIDI file";
    }
}

std::string MidiLoadNoticeText(const SongData& song) {
    if (song.truncated == 0) return {};
    std::string out = "Too large to show whole:";
    char text[160];
    if (song.voicesLeftOut > 0) {
        std::snprintf(text, sizeof text, " %d voice%s past the first %d %s heard but not drawn (track%s",
                      song.voicesLeftOut, song.voicesLeftOut == 1 ? "" : "s", kMaxParts,
                      song.voicesLeftOut == 1 ? "is" : "are", song.tracksLeftOutCount == 1 ? "" : "s");
        out += text;
        const int listed = std::min(song.tracksLeftOutCount, kMaxListedTracks);
        for (int i = 0; i < listed; ++i) {
            std::snprintf(text, sizeof text, "%s %d", i == 0 ? "" : ",", song.tracksLeftOut[i]);
            out += text;
        }
        if (song.tracksLeftOutCount > listed) {
            std::snprintf(text, sizeof text, " and %d more", song.tracksLeftOutCount - listed);
            out += text;
        }
        out += ")";
    }
    if (song.notesLeftOut > 0) {
        std::snprintf(text, sizeof text, "%s %lld note%s past the first %lld %s heard but not drawn",
                      song.voicesLeftOut > 0 ? ";" : "", static_cast<long long>(song.notesLeftOut),
                      song.notesLeftOut == 1 ? "" : "s", static_cast<long long>(kMaxSongNotes),
                      song.notesLeftOut == 1 ? "is" : "are");
        out += text;
    }
    return out;
}
