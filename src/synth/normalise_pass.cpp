// The normalised render's second pass: the scratch file's floats read back, brought to the
// target loudness by one gain and the limiter, faded at the end and written as 16-bit samples.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>

#include "synth/render_blocks.h"
#include "synth/render_stream.h"
#include "synth/synth_renderer.h"

using namespace render_blocks;

namespace {

// The second pass reads the scratch file back in chunks of this many frames.
constexpr size_t kPassFrames = 16384;

// A slice of the second pass stops after this long, so that a window keeps drawing.
constexpr auto kPassSliceTime = std::chrono::milliseconds(8);

// The normalised render's samples, as little-endian 16-bit values rounded to the nearest, ties to
// even. Its peaks stay under the ceiling, so the clamp only guards against what cannot happen (and
// takes a value that is not a number to the bottom). Adding and taking away 1.5 * 2^23 rounds a
// float under 2^22 to a whole number in the default rounding mode, as lrintf does, but in a loop
// the compiler can run on vectors: this loop runs over every sample of the song.
void ToLittleEndianSamples(const float* in, size_t count, uint8_t* out) {
    constexpr float kRound = 12582912.0f;
    for (size_t i = 0; i < count; ++i) {
        const float scaled = std::min(32767.0f, std::max(-32768.0f, in[i] * 32768.0f));
        const auto sample = static_cast<int16_t>((scaled + kRound) - kRound);
        out[2 * i] = static_cast<uint8_t>(sample);
        out[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(sample) >> 8);
    }
}

// Four sums side by side, so that no addition waits for the one before: this runs over every
// sample of the song twice.
double Energy(const float* interleaved, size_t frames) {
    double sums[4] = {};
    const size_t count = frames * kChannels;
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        for (size_t k = 0; k < 4; ++k)
            sums[k] += static_cast<double>(interleaved[i + k]) * interleaved[i + k];
    }
    for (; i < count; ++i) sums[0] += static_cast<double>(interleaved[i]) * interleaved[i];
    return (sums[0] + sums[1]) + (sums[2] + sums[3]);
}

}  // namespace

// Starts writing the samples after the header, over any earlier pass.
bool SynthRenderer::BeginSecondPass() {
    pass_ = Pass::Write;
    ++writes_;
    readFrame_ = 0;
    outFrames_ = 0;
    pendingBytes_ = 0;
    // Every pass goes through the limiter: the peaks between the samples are not measured, so it
    // alone keeps them under the ceiling. Where the song stays well under it, it only delays.
    limiter_ =
        std::make_unique<PeakLimiter>(kChannels, static_cast<double>(sampleRate_), DbToGain(kCeilingDbtp));
    energyIn_ = energyOut_ = 0;
    const int fd = renderFile->fd();
    if (ftruncate(fd, static_cast<off_t>(kWavHeader)) != 0 ||
        lseek(fd, static_cast<off_t>(kWavHeader), SEEK_SET) != static_cast<off_t>(kWavHeader)) {
        writeError_ = std::strerror(errno);
        writeFailed_ = true;
        return false;
    }
    return true;
}

// Reads the next chunk of the scratch file, applies the gain and the limiter, and writes the
// result, faded at the end, as 16-bit samples. Once the input has ended, what the limiter still
// holds comes out.
bool SynthRenderer::SecondPassChunk(std::vector<float>& in, std::vector<float>& out) {
    const size_t frames = static_cast<size_t>(std::min<int64_t>(kPassFrames, endFrame - readFrame_));
    size_t got = 0;
    if (frames > 0) {
        uint8_t* bytes = reinterpret_cast<uint8_t*>(in.data());
        const size_t want = frames * kFloatFrameBytes;
        size_t have = 0;
        while (have < want) {
            const ssize_t n =
                pread(stream_->Fd(), bytes + have, want - have,
                      static_cast<off_t>(static_cast<uint64_t>(readFrame_) * kFloatFrameBytes + have));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                writeError_ = n < 0 ? std::strerror(errno) : "the render's scratch file was cut short";
                return false;
            }
            have += static_cast<size_t>(n);
        }
        ApplyGainAndFade(in.data(), frames, kChannels, readFrame_, plan.gain,
                         std::numeric_limits<int64_t>::max(), 0);
        readFrame_ += static_cast<int64_t>(frames);
        energyIn_ += Energy(in.data(), frames);
        got = limiter_->Process(in.data(), frames, out.data());
    } else {
        got = limiter_->Drain(out.data());
    }
    float* data = out.data();
    energyOut_ += Energy(data, got);
    const int64_t fade = tail_->FadeFrames();
    ApplyGainAndFade(data, got, kChannels, outFrames_, 1.0, endFrame - fade, fade);
    outFrames_ += static_cast<int64_t>(got);
    for (size_t done = 0, total = got * kChannels; done < total;) {
        if (pendingBytes_ + 2 > kPendingBytes && !Flush()) return false;
        const size_t n = std::min(total - done, (kPendingBytes - pendingBytes_) / 2);
        ToLittleEndianSamples(data + done, n, pending_.get() + pendingBytes_);
        pendingBytes_ += 2 * n;
        done += n;
    }
    return true;
}

RenderStatus SynthRenderer::StepSecondPass() {
    // The buffers stay for the whole pass: a slice is only a few milliseconds long.
    std::vector<float>& in = passIn_;
    std::vector<float>& out = passOut_;
    in.resize(kPassFrames * kChannels);
    out.resize(std::max(kPassFrames, limiter_->Latency()) * kChannels);
    const auto start = std::chrono::steady_clock::now();
    while (readFrame_ < endFrame) {
        if (!SecondPassChunk(in, out)) return WriteFailure();
        if (std::chrono::steady_clock::now() - start > kPassSliceTime) break;
    }
    const float done = endFrame > 0 ? static_cast<float>(readFrame_) / static_cast<float>(endFrame) : 1.0f;
    if (readFrame_ < endFrame) {
        // A pass written again shows its way from 95 %.
        progress = writes_ > 1 ? 95.0f + 5.0f * done : 90.0f + 10.0f * done;
        if (progress - shownProgress > 1.6f) shownProgress = progress;
        return {RenderOutcome::Running, shownProgress, {}};
    }
    if (!SecondPassChunk(in, out)) return WriteFailure();
    if (writes_ == 1) {
        plan.limit = limiter_->Acted();
        // What the limiter took, from the energy that went in and came out: the loud passages it
        // acts on are those the loudness is measured over. A second meter here would cost about
        // as much as the whole pass.
        const double takenDb =
            energyOut_ > 0 && energyIn_ > 0 ? 10.0 * std::log10(energyIn_ / energyOut_) : 0.0;
        const double measured = kTargetLufs - takenDb;
        if (plan.limit && takenDb > kLimiterAllowanceLu) {
            // The limiter took more loudness with the peaks than the song may miss by: the pass
            // is written again with a gain that makes it up, ending where the sound does at that
            // gain.
            plan.gain = RefineGain(plan.gain, measured);
            endFrame = tail_->EndFrame(plan.gain);
            stream_->Complete(plan.gain, endFrame, tail_->FadeFrames());
            if (!BeginSecondPass()) return WriteFailure();
            progress = 95.0f;
            if (progress - shownProgress > 1.6f) shownProgress = progress;
            return {RenderOutcome::Running, shownProgress, {}};
        }
    }
    if (!Finish(outFrames_)) return WriteFailure();
    return End(Failure::None());
}
