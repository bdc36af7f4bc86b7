// The player's side of a render that runs ahead: 16-bit frames for the sound device, made from the
// render's float frames at the song's loudness, held under the ceiling, and scaled by the volume.
//
// Playback never clips, even while the song is still being rendered and its loudness is only an
// estimate: the gain follows the estimate smoothly (a jump in it would be heard), and a look-ahead
// limiter holds what the gain would push past the ceiling. The limiter delays its output by a few
// milliseconds, so the playback reads that far ahead of the frames it hands out. Once the song is
// complete, the frames past its end are silence and the fade before the end is the render's.
//
// One thread at a time: the sound device's refill while playing, the owner's while the player
// stands (Seek).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "synth/loudness.h"
#include "synth/render_stream.h"

class StreamPlayback {
  public:
    explicit StreamPlayback(std::shared_ptr<const RenderStream> stream);

    // The next Fill starts at `frame`; the gain starts where the song's gain stands now.
    void Seek(int64_t frame);
    // Writes `frames` interleaved stereo frames at `out` and returns how many are the song's: fewer
    // once its end has been reached, the rest silence. Frames not yet rendered come out silent.
    // `volume` (0 to 1) scales what is heard, reached smoothly from the last fill's.
    size_t Fill(int16_t* out, size_t frames, float volume);

    // The next frame to be handed out.
    [[nodiscard]] int64_t Position() const { return position_; }
    [[nodiscard]] const RenderStream& Stream() const { return *stream_; }

  private:
    void Feed(size_t frames);

    std::shared_ptr<const RenderStream> stream_;
    std::unique_ptr<PeakLimiter> limiter_;
    int64_t position_ = 0;  // the next frame handed out
    int64_t readAt_ = 0;    // the next frame read from the stream: position_ plus the limiter's delay
    double gain_ = 1.0;     // the gain on the frame at readAt_
    float volume_ = 1.0f;   // the volume on the last frame handed out
    std::vector<float> in_, out_;
    std::vector<float> ready_;  // limited frames not yet handed out
    size_t readyFrames_ = 0;
    bool primed_ = false;  // the limiter has taken in its delay's worth from position_ on
};
