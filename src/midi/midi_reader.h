// Reading a Standard MIDI File into a SongData. Every file the synthesiser can play loads: a piano
// song (notes on channels 0 to 2 that the two-hand rule splits without dropping any) as two hands,
// any other file as voices, one per track and channel, percussion counted but not drawn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/song_data.h"

class TempoMap;

// The Standard MIDI File inside a file's bytes: the data chunk of a RIFF MIDI file (.rmi), otherwise
// the bytes themselves. `offset` is where it starts in the file. The synthesiser must be given
// exactly these bytes, so that it plays what the reader read.
struct MidiBytes {
    const uint8_t* data;
    size_t size;
    size_t offset;
};
[[nodiscard]] MidiBytes StandardMidiBytes(const uint8_t* data, size_t size);

// The bytes to give the synthesiser for a file, so that it plays exactly what the reader reads: the
// Standard MIDI File inside (see above), less any chunks of unknown kinds before or between its
// declared tracks, which the synthesiser's player cannot step over, and with more than 127 tracks
// merged into 127, which is all the player takes (see MergeTracks). A file that needs neither comes
// back byte for byte; a file the reader refuses comes back as StandardMidiBytes gives it.
[[nodiscard]] std::vector<uint8_t> PlayerMidiBytes(const uint8_t* data, size_t size);

// The bytes a note the reader keeps may take in a file, with its share of what else a song holds:
// its note-on and note-off take 6 to 14 bytes, and controllers, pitch bends and text seldom add
// more than a few times that.
inline constexpr size_t kMidiBytesPerNote = 64;
// The largest MIDI file read: room for the most notes a song keeps (kMaxSongNotes) at
// kMidiBytesPerNote each. A larger file holds far more than can be shown, and is refused before
// any of it is read; the synthesiser's own read of the file takes the same limit.
inline constexpr size_t kMaxMidiFileBytes = static_cast<size_t>(kMaxSongNotes) * kMidiBytesPerNote;

// The whole file at `path`, refused unread (EFBIG) when larger than kMaxMidiFileBytes. On failure,
// `error` is the system's error number.
[[nodiscard]] bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, int& error);

// Reads and parses the file at `path` into `song`, which must be freshly zeroed. Returns whether
// the song is usable; song.status says why not. With `bytes`, the file's bytes as read are handed
// back there, for a caller that needs them too (what is remembered of a song is keyed by them).
// With `tempo`, the file's tempo map is handed back too, for a caller that places a player in
// the song by time.
[[nodiscard]] bool ReadMidiFile(SongData& song, const std::string& path,
                                std::vector<uint8_t>* bytes = nullptr, TempoMap* tempo = nullptr);

// Parses a whole file in memory (a RIFF MIDI file is unwrapped first) into `song` (freshly zeroed)
// and finishes it. Reads never go past data + size. Returns whether the song is usable: a file that
// is cut short, damaged, time-code timed or longer than 30 minutes is refused as a whole, with
// song.status saying why.
[[nodiscard]] bool ParseSong(SongData& song, const uint8_t* data, size_t size, TempoMap* tempo = nullptr);

// Why a load failed, in the words both the window and the command line show; empty when it did not.
[[nodiscard]] std::string MidiLoadFailureText(const SongData& song);

// What a loaded song left out past a limit, for the window's status: the voices past kMaxParts
// and the tracks they come from, the notes past kMaxSongNotes. Empty when nothing was.
[[nodiscard]] std::string MidiLoadNoticeText(const SongData& song);

// Whether a loaded song sounds a note at all, drawn or not. A song without one has nothing to
// render or show.
[[nodiscard]] bool SongHasNotes(const SongData& song);
