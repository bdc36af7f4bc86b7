// The songs beside the one playing: the MIDI files of its folder in the order a file manager shows
// them, the one before or after it, and the name a take of it is proposed under.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Whether a file name ends in one of the MIDI extensions the player opens (.mid, .midi, .kar, .rmi),
// in any case.
[[nodiscard]] bool IsMidiFileName(std::string_view name);

// The order songs are listed in: names compared without regard to case, and a run of digits as the
// number it writes, so that "2 Intro.mid" comes before "10 Finale.mid". Names that differ only in
// case fall back to their bytes, so the order is total.
[[nodiscard]] bool SongNameBefore(std::string_view a, std::string_view b);

// From the names of a folder (any order, any files), the MIDI file `step` places from `current`
// (+1 the next, -1 the previous), or empty at either end: the list does not wrap, so that stepping on
// past the last song says so instead of starting again unnoticed. A `current` that is no longer there
// still has its place in the order.
[[nodiscard]] std::string NeighbourSongName(std::vector<std::string> names, std::string_view current,
                                            int step);

// The same over the folder of `songPath` as it is on disk now: the neighbour's full path, or empty
// when there is none or the folder cannot be read.
[[nodiscard]] std::string NeighbourSong(const std::string& songPath, int step);

// Where a take played over `songPath` is proposed: beside the song, "Song (my take).mid" for
// ".../Song.mid" (the song's own extension dropped, never doubled); "take.mid" without a song.
[[nodiscard]] std::string TakePathFor(const std::string& songPath);
