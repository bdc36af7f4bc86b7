// Reading a Standard MIDI File into a SongData. Every file the synthesiser can play loads: a piano
// song (notes on channels 0 to 2 that the two-hand rule splits without dropping any) as two hands,
// any other file as voices, one per track and channel, percussion counted but not drawn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/failure.h"
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

// The largest MIDI file read: what the format's 32-bit chunk lengths reach. A file larger than
// the memory limit (core/memory_limit.h) is refused before any of it is read.
inline constexpr size_t kMaxMidiFileBytes = size_t{4} << 30;

// The whole file at `path`, refused unread when larger than kMaxMidiFileBytes or the memory limit.
// A failure names the file and gives the system's reason: "song.mid: No such file or directory",
// "song.mid: File too large" (SourceFormat) for a file over the limit.
[[nodiscard]] Failure ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes);

// The memory a song of `notes` notes read from a file of `fileBytes` takes while it is read: the
// file's bytes and the notes' store. A song read a window at a time (StreamMidiFile) takes less,
// but is held to the same figure, so that a song the command line reads is one the window, which
// keeps the file's bytes for its renders, reads too.
[[nodiscard]] int64_t SongMemoryNeeded(int64_t fileBytes, int64_t notes);

// Reads and parses the file at `path` into `song`, which must be freshly zeroed. Returns whether
// the song is usable; song.status says why not. With `bytes`, the file is read whole and its bytes
// as read are handed back there, for a caller that needs them too (what is remembered of a song is
// keyed by them, and the synthesiser plays them). Without, it is read as StreamMidiFile reads it.
// With `tempo`, the file's tempo map is handed back too, for a caller that places a player in
// the song by time.
[[nodiscard]] bool ReadMidiFile(SongData& song, const std::string& path,
                                std::vector<uint8_t>* bytes = nullptr, TempoMap* tempo = nullptr);

// The memory the reader of a file takes for its windows on it (see StreamMidiFile).
inline constexpr size_t kMidiWindowBytes = size_t{4} << 20;

// Reads the file at `path` into `song` (freshly zeroed) as ReadMidiFile does, but never holds the
// whole file: each track is read through a window of its own, the windows taking `windowBytes` in
// all (and no less than a small floor each, however many tracks there are). The song is the same
// as ParseSong makes of the file's bytes. The same files are refused for their size, so that the
// window and the command line agree on what loads. A read that fails, or a file that changes
// while it is read, gives MidiReadError with the reason.
[[nodiscard]] bool StreamMidiFile(SongData& song, const std::string& path, size_t windowBytes,
                                  TempoMap* tempo = nullptr);

struct FileRegion;
// ParseSong of the Standard MIDI File in an open file's `region`, read through windows of
// `windowBytes` in all. A read that fails is MidiReadError.
[[nodiscard]] bool ParseSongIn(SongData& song, FileRegion& region, size_t windowBytes,
                               TempoMap* tempo = nullptr);

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
