// The video file of an export: H.264 frames (libx264, yuv420p) and the rendered WAV as AAC at 192
// kbit/s, in an MP4 whose index stands at the front, so that a browser can play it while it loads.
// The file replaces its target only once complete; an encoder dropped before Finish leaves the
// target as it was and nothing of the new file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "export/export_failure.h"

// What the quality levels ask of x264: the constant rate factor, the speed preset and the options
// that hold its memory down (x264-params syntax).
struct VideoQualityRow {
    int crf;
    const char* preset;
    const char* params;
};
[[nodiscard]] VideoQualityRow VideoQualityFor(int level);

struct VideoSettings {
    int width = 1920;  // even, as 4:2:0 chroma needs
    int height = 1080;
    int fps = 60;
    int quality = 0;  // a QualityLevel
};

struct VideoWriter;  // the converter, the two encoders and the muxer

class VideoEncoder {
  public:
    VideoEncoder();
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // Opens the WAV, sets up both encoders and creates the new file that will become `target`.
    // `rawCopy`, when not empty, names a file that receives every frame as raw yuv420p too (for
    // measuring the encoder on its own). The sound starts after `silentFrames` frames of silence,
    // the video's opening before the song. On failure nothing is left of the new file.
    [[nodiscard]] Failure Open(const std::string& target, const std::string& wavPath,
                               const VideoSettings& settings, const std::string& rawCopy = {},
                               int64_t silentFrames = 0);

    // The frames the video has: the silence and the audio at the frame rate, rounded up.
    [[nodiscard]] int64_t FrameCount() const;
    // The next frame, width x height pixels of 0xAARRGGBB row by row; the audio up to its end goes
    // with it.
    [[nodiscard]] Failure AddFrame(const uint32_t* argb);
    // The remaining audio, the encoders' last packets and the index; then the file takes the
    // target's place.
    [[nodiscard]] Failure Finish();

  private:
    Failure Fail(FailureKind kind, std::string text);
    Failure WriteFailed(int code);
    Failure EncodeAudioUntil(int64_t samples);
    Failure Drain(bool video);

    std::unique_ptr<VideoWriter> w_;
};
