// How an exported video looks, beyond its size and frame rate: the colours, whether the keyboard
// is fitted to the song, a title card and a lead-in before the song, and a picture behind the
// notes. The window's own look is never changed by it; a default VideoLook is the window's look,
// fitted to the song only for frames at least as tall as they are wide.
//
// The song's time and the video's time differ by the intro: the title card, then the lead-in in
// which the first notes fall from the top of the frame to their keys. Both are whole frames, and
// the sound is shifted by exactly as many samples of silence, so that picture and sound stay in
// step to the frame.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/palette.h"
#include "core/song_data.h"

enum class VideoTheme : uint8_t {
    Dark,      // the window's own: black, with glowing notes
    Light,     // paper-coloured, dark lines, notes as deeper flat bars
    Contrast,  // for low vision: black, white lines and text, notes in pure saturated colours
};

enum class VideoFit : uint8_t {
    Auto,  // fitted when the frame is at least as tall as it is wide
    On,
    Off,
};

struct VideoLook {
    VideoTheme theme = VideoTheme::Dark;
    VideoFit fit = VideoFit::Auto;
    bool titleCard = false;  // the song's name and instruments, before the song
    std::string title;       // the card's heading; empty: the song's name
    bool leadIn = false;     // the first notes fall from the top before they sound
    std::string background;  // a PNG or JPEG drawn behind the notes; empty: none
};

inline constexpr double kTitleCardSeconds = 2.0;
inline constexpr double kTitleFadeSeconds = 0.5;  // the card fades into the song over its last half second
// Labels a video draws are at least this share of the frame's height, so that they can be read
// on a phone at any size the video is made in.
inline constexpr float kLeastLabelShare = 0.02f;

[[nodiscard]] std::optional<VideoTheme> ParseVideoTheme(std::string_view name);
[[nodiscard]] const Palette& ThemePalette(VideoTheme theme);
// The flat note colours of a theme, res::kNoteColourCount of them; null for the glowing images.
[[nodiscard]] const uint32_t* ThemeNoteColours(VideoTheme theme);
[[nodiscard]] bool FitsSong(VideoFit fit, int width, int height);

// The frames before the song's time 0: the title card's, then the lead-in's.
struct VideoIntro {
    int64_t titleFrames = 0;
    int64_t leadFrames = 0;
    [[nodiscard]] int64_t Frames() const { return titleFrames + leadFrames; }
};
// The lead-in lasts until a note that starts at the song's first note has fallen the whole notes
// area, `lookAhead` seconds: a song that opens with rests needs less, or none.
[[nodiscard]] VideoIntro PlanIntro(const VideoLook& look, const SongData* song, float lookAhead, int fps);

// The song's name as the card shows it: the name of the track when one track holds all its notes
// (a track's name then names the song, not one part of it), else `fileTitle`.
[[nodiscard]] std::string SongTitle(const SongData& song, const std::string& fileTitle);

// The instruments a song is played on, as the card lists them: each drawn part's General MIDI
// instrument once, in the order the parts come, and "Drums" for percussion.
[[nodiscard]] std::string SongInstruments(const SongData& song);
