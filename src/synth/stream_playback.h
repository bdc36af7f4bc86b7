// The player's side of a render that runs ahead: 16-bit frames for the sound device, made from the
// render's float frames at the song's loudness, held under the ceiling, and scaled by the volume.
//
// Playback never clips, even while the song is still being rendered and its loudness is only an
// estimate: the gain follows the estimate smoothly (a jump in it would be heard), and a look-ahead
// limiter holds what the gain would push past the ceiling. The limiter delays its output by a few
// milliseconds, so the playback reads that far ahead of the frames it hands out. Once the song is
// complete, the frames past its end are silence and the fade before the end is the render's.
//
// A loop (A to B) plays the frames from A to B over and over; where B meets A again the two are
// crossfaded over a few milliseconds, so the wrap has neither a gap nor a click.
//
// One thread at a time: the sound device's refill while playing, the owner's while the player
// stands (Seek, SetLoop).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "synth/loudness.h"
#include "synth/render_stream.h"

// A stretch of the song played over and over, in frames: [start, end). A playback that starts
// before `end` comes back to `start` at `end`; one that starts at or past it plays on through.
struct PlaybackLoop {
    int64_t start = -1;
    int64_t end = -1;

    // Shorter than this is no loop: a wrap would be heard as a buzz.
    static constexpr int64_t kShortestFrames = 4410;
    [[nodiscard]] bool Active() const { return start >= 0 && end - start >= kShortestFrames; }
    // The song frame heard `played` frames after playback started at `from`.
    [[nodiscard]] int64_t FrameAfter(int64_t from, int64_t played) const {
        const int64_t frame = from + played;
        if (!Active() || from >= end || frame < end) return frame;
        return start + (frame - end) % (end - start);
    }
};

// Where a stream's frames lie in the song: its first frame is the song's frame `origin`, and each
// of its frames moves the song on by `speed` frames. The song's own render starts at 0 at speed 1;
// a passage rendered again at another speed, or with parts silent, starts where it was asked for.
struct StreamTimeline {
    int64_t origin = 0;
    double speed = 1.0;

    [[nodiscard]] int64_t SongFrame(int64_t streamFrame) const {
        return origin + std::llround(static_cast<double>(streamFrame) * speed);
    }
    // Song frames before the stream's first are its first.
    [[nodiscard]] int64_t StreamFrame(int64_t songFrame) const {
        return std::max<int64_t>(0, std::llround(static_cast<double>(songFrame - origin) / speed));
    }
};

class StreamPlayback {
  public:
    explicit StreamPlayback(std::shared_ptr<const RenderStream> stream, StreamTimeline timeline = {});

    // The next Fill starts at the song's frame `frame`; the gain starts where the song's gain
    // stands now.
    void Seek(int64_t frame);
    // Writes `frames` interleaved stereo frames at `out` and returns how many are the song's: fewer
    // once its end has been reached, the rest silence. Frames not yet rendered come out silent.
    // `volume` (0 to 1) scales what is heard, reached smoothly from the last fill's.
    size_t Fill(int16_t* out, size_t frames, float volume);

    // Plays `loop` (in the song's frames) from the next Seek on; an inactive one ends any loop.
    void SetLoop(const PlaybackLoop& loop);
    [[nodiscard]] const PlaybackLoop& Loop() const { return songLoop_; }

    // The song frame heard `played` frames after the last Seek.
    [[nodiscard]] int64_t HeardAfter(int64_t played) const {
        return timeline_.SongFrame(loop_.FrameAfter(from_, played));
    }
    // The song frame handed out next.
    [[nodiscard]] int64_t Position() const { return HeardAfter(position_ - from_); }
    [[nodiscard]] const RenderStream& Stream() const { return *stream_; }
    [[nodiscard]] const StreamTimeline& Timeline() const { return timeline_; }
    // The stream's frames rendered so far reach this song frame.
    [[nodiscard]] int64_t ReadySongFrame() const { return timeline_.SongFrame(stream_->ReadyFrames()); }

  private:
    void Feed(size_t frames);
    // Reads `frames` song frames from `frame` on, into `out`, as they are to be heard: silence
    // where nothing is rendered or the song has ended, and the loop's end crossfaded into the
    // frames before its start.
    void ReadSong(int64_t frame, float* out, size_t frames);

    std::shared_ptr<const RenderStream> stream_;
    StreamTimeline timeline_;
    std::unique_ptr<PeakLimiter> limiter_;
    PlaybackLoop songLoop_;  // as asked for
    PlaybackLoop loop_;      // in the stream's frames
    // Frames (the stream's, from here on) are counted from the last seek as if there were no loop
    // (`from_` is where it went); the loop maps them onto the stream.
    int64_t from_ = 0;
    int64_t position_ = 0;  // the next frame handed out
    int64_t readAt_ = 0;    // the next frame read from the stream: position_ plus the limiter's delay
    double gain_ = 1.0;     // the gain on the frame at readAt_
    float volume_ = 1.0f;   // the volume on the last frame handed out
    std::vector<float> in_, out_, blend_;
    std::vector<float> ready_;  // limited frames not yet handed out
    size_t readyFrames_ = 0;
    bool primed_ = false;  // the limiter has taken in its delay's worth from position_ on
};
