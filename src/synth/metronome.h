// The metronome's click, mixed into rendered sound: a short tone on every beat of the song
// (midi/song_beats.h), higher and louder on the first beat of a bar. The click is made here rather
// than played on the song's drum channel, so that it keeps its own volume whatever the song does
// with that channel's controllers, and so that it starts on the very sample of its beat.
//
// Pure: frames in, frames out.
#pragma once

#include <cstdint>
#include <vector>

#include "midi/song_beats.h"

// The click's volume, 0 (none) to 1; a render's default.
inline constexpr float kDefaultClickVolume = 0.6f;

class ClickTrack {
  public:
    // How long a click rings; the clicks of the fastest beats (16 a second) stay apart.
    static constexpr double kClickSeconds = 0.03;

    // The clicks of `beats` for a render that starts `startSeconds` into the song and plays it at
    // `speed`, `sampleRate` frames a second: each beat at the frame where the song reaches it.
    ClickTrack(const std::vector<Beat>& beats, double startSeconds, double speed, uint32_t sampleRate,
               float volume);

    // Adds the clicks that sound in frames [firstFrame, firstFrame + frames) into `stereo`, two
    // interleaved channels. Blocks come in order; a block before the last one mixed clicks nothing.
    void Mix(float* stereo, int64_t frames, int64_t firstFrame);

    [[nodiscard]] const std::vector<int64_t>& Frames() const { return frames_; }

  private:
    std::vector<int64_t> frames_;  // the frame each click starts at, ascending
    std::vector<bool> accents_;
    size_t next_ = 0;  // the first click that may still sound
    uint32_t rate_;
    float volume_;
};
