// The controller's playback operations: preparing the player for a song's render (or a WAV file),
// start, stop, pause, back to the start and seek, and the fill callbacks through which the player
// reads the sound.
//
// A song plays from its render while the render runs on ahead on its own thread. Should playback
// catch up with the render, or be sent ahead of it, it waits where it is (the notes stand still
// too) until the render is far enough ahead again; the render is many times faster than the song,
// so the wait is short.
//
// Everything that moves the reader first stops the player; stopping kills the refill timer and
// waits for a refill in progress, so the timer's thread never reads a reader that is being moved.
// The keyboard's lit keys are cleared by the next frame, which finds RefreshNotesView set and
// tells the notes view before moving it on: that comes before any key of the new place is lit.
#include <algorithm>
#include <climits>
#include <optional>

#include "app/player_controller.h"
#include "audio/streaming_player.h"
#include "audio/volume.h"
#include "audio/wav_reader.h"
#include "core/sample_rate.h"
#include "synth/render_stream.h"
#include "synth/stream_playback.h"

namespace {

// Rendered songs run at this rate; the song's length in seconds is taken from it, not from the file.
constexpr double kRenderRate = kSampleRate;

// The player hands the sound device up to two seconds ahead of what is heard (its ring). Playback
// runs while the render is at least kHoldLead ahead of what is heard, so nothing it hands over is
// ever short of the render; held, it goes on once the render is kGoLead ahead.
constexpr int64_t kHoldLead = static_cast<int64_t>(2.5 * kRenderRate);
constexpr int64_t kGoLead = static_cast<int64_t>(3.5 * kRenderRate);

}  // namespace

void PlayerController::CreatePlayer(platform::SoundOutput& output, std::chrono::milliseconds refillPeriod) {
    soundPlayer = std::make_unique<StreamingPlayer>(output, refillPeriod);
    shared.player = soundPlayer.get();
    soundOutput = &output;
}

bool PlayerController::PreparePlayback() {
    StreamingPlayer* player = soundPlayer.get();
    // The old ring's refill may still be reading the old reader: it goes before the reader does.
    if (player != nullptr) player->Release();
    streamPlayback.reset();
    waitingForRender = false;
    wavReader = std::make_unique<WavReader>();
    wavReader->Open(shared.outputWavPath);
    totalFrames = 0;
    seekOffset = 0;

    const WaveFormatRecord* format = wavReader->format.get();
    if (format == nullptr || format->header.blockAlign == 0 ||
        wavReader->dataSize < format->header.blockAlign) {
        // Missing, unreadable or empty: nothing becomes playable, so the song time never has to be
        // derived from a frame count of 0.
        return false;
    }
    const uint32_t frames = wavReader->dataSize / format->header.blockAlign;
    totalFrames = frames > uint32_t(INT32_MAX) ? INT32_MAX : int32_t(frames);

    // The end of the audio is the end of the song: a render that rings on past the last note
    // lengthens the song to the audio's length.
    const double seconds = totalFrames / kRenderRate;
    if (shared.song && seconds > shared.song->duration) shared.song->duration = seconds;

    if (player == nullptr) return false;
    player->Create(format->header);
    player->SetFillCallback(&PlayerController::FillFromWave, this);
    return player->Prepared();
}

bool PlayerController::PrepareStreamPlayback(std::shared_ptr<RenderStream> stream) {
    StreamingPlayer* player = soundPlayer.get();
    if (player != nullptr) player->Release();
    wavReader.reset();
    streamPlayback.reset();
    waitingForRender = false;
    seekOffset = 0;
    totalFrames = 0;
    if (!stream) return false;
    songStream = stream;
    const double seconds = shared.song ? shared.song->duration : 0.0;
    totalFrames = static_cast<int32_t>(std::clamp(seconds * kRenderRate, 1.0, double(INT32_MAX)));
    streamPlayback = std::make_unique<StreamPlayback>(std::move(stream));
    if (player == nullptr) return false;
    WavFormat format{};
    format.formatTag = 1;
    format.channels = RenderStream::kChannels;
    format.samplesPerSec = streamPlayback->Stream().SampleRate();
    format.bitsPerSample = 16;
    format.blockAlign = RenderStream::kChannels * 2;
    format.avgBytesPerSec = format.samplesPerSec * format.blockAlign;
    player->Create(format);
    player->SetFillCallback(&PlayerController::FillFromStream, this);
    return player->Prepared();
}

void PlayerController::TakeRenderedLength(int64_t endFrame) {
    if (endFrame <= 0) return;
    totalFrames = static_cast<int32_t>(std::min<int64_t>(endFrame, INT32_MAX));
    // One length for the clock, the time bar and the end of playback: where the sound ends. It may
    // be shorter than the file's own (silence after the last note) or longer (a release, a reverb).
    if (shared.song) shared.song->duration = static_cast<double>(totalFrames) / kRenderRate;
}

void PlayerController::KeepPlaybackBehindRender() {
    if (!streamPlayback || !soundPlayer || shared.playState != PlayState::Playing ||
        shared.command == Command::CountIn || shared.playAlong.heldForPlayer) {
        return;
    }
    const RenderStream& stream = streamPlayback->Stream();
    const StreamTimeline& timeline = streamPlayback->Timeline();
    // The leads are in the frames of the stream being played: so many seconds of sound ahead.
    const int64_t ready = stream.ReadyFrames();
    if (waitingForRender) {
        if (stream.Over() || ready >= timeline.StreamFrame(seekOffset) + kGoLead) {
            waitingForRender = false;
            soundPlayer->Play();
        }
        return;
    }
    const uint32_t frame = PlaybackFrame();
    if (stream.Over() || ready >= timeline.StreamFrame(frame) + kHoldLead) return;
    // Caught up: held where it is heard now, and primed from there once the render is ahead.
    soundPlayer->Stop();
    seekOffset = frame;
    streamPlayback->Seek(frame);
    shared.refreshBits |= RefreshNotesView;
    waitingForRender = true;
}

void PlayerController::StartPlayback() {
    shared.playState = PlayState::Playing;
    if (!soundPlayer) return;
    if (streamPlayback) {
        const RenderStream& stream = streamPlayback->Stream();
        waitingForRender =
            !stream.Over() &&
            stream.ReadyFrames() < streamPlayback->Timeline().StreamFrame(PlaybackFrame()) + kGoLead;
        if (waitingForRender) return;
    }
    soundPlayer->Play();
}

void PlayerController::StopPlayback() {
    if (soundPlayer) {
        shared.refreshBits |= RefreshNotesView;
        soundPlayer->Stop();
        if (wavReader) {
            wavReader->SeekFrame(0);
            wavReader->RewindData();
        }
        if (streamPlayback) streamPlayback->Seek(0);
        seekOffset = 0;
    }
    waitingForRender = false;
    shared.playState = PlayState::Stopped;
}

void PlayerController::PausePlayback() {
    if (!soundPlayer) return;
    shared.refreshBits |= RefreshNotesView;
    soundPlayer->Pause();
    waitingForRender = false;
    shared.playState = PlayState::Paused;
}

void PlayerController::RewindPlayback() {
    if (!soundPlayer) return;
    shared.refreshBits |= RefreshNotesView;
    soundPlayer->Stop();
    if (wavReader) wavReader->SeekFrame(0);
    if (streamPlayback) streamPlayback->Seek(0);
    seekOffset = 0;
    if (shared.playState == PlayState::Playing) StartPlayback();
}

void PlayerController::SeekPlayback(uint32_t frame) {
    if (totalFrames <= 0) return;
    frame = std::min(frame, static_cast<uint32_t>(totalFrames - 1));
    // During the count-in nothing sounds yet: the seek ends it, and the song waits at the new place.
    if (shared.command == Command::CountIn) {
        shared.command = Command::None;
        shared.playState = PlayState::Paused;
    }
    if (shared.playState != PlayState::Playing && shared.playState != PlayState::Paused)
        shared.playState = PlayState::Paused;
    seekOffset = frame;
    if (soundPlayer) soundPlayer->Stop();
    shared.refreshBits |= RefreshNotesView;
    if (wavReader) wavReader->SeekFrame(frame);
    if (streamPlayback) streamPlayback->Seek(frame);
    waitingForRender = false;
    // Practice plays from a render of its own, made from a place on: a seek before it, or far
    // past where it has got, starts a new one from there.
    if (PracticeRenderNeeded(frame)) {
        ApplyPractice(frame);
        return;
    }
    // A paused song stays paused at the new place; the next play primes the ring from there (or
    // waits there for the render).
    if (shared.playState == PlayState::Playing && soundPlayer) StartPlayback();
}

uint32_t PlayerController::PlaybackFrame() const {
    if (shared.playState != PlayState::Playing && shared.playState != PlayState::Paused) return 0;
    const uint32_t played = soundPlayer ? soundPlayer->GetPlayPosition() : 0;
    // Inside a loop the frames heard since the start come round again.
    if (streamPlayback)
        return static_cast<uint32_t>(std::max<int64_t>(streamPlayback->HeardAfter(played), 0));
    return played + seekOffset;
}

void PlayerController::SetPlaybackLoop(const PlaybackLoop& wanted) {
    if (!streamPlayback) return;
    PlaybackLoop loop = wanted;
    if (loop.Active() && totalFrames > 0) loop.end = std::min<int64_t>(loop.end, totalFrames);
    if (!loop.Active()) loop = {};
    // The loop takes effect at once: the sound already handed to the device goes, and the player
    // starts again from the place (or stays paused there).
    uint32_t frame = PlaybackFrame();
    // A loop set away from the place heard (or ending right there, as when its end is marked now)
    // starts playing from its start.
    if (loop.Active() && (frame < loop.start || frame >= loop.end)) frame = static_cast<uint32_t>(loop.start);
    if (soundPlayer) soundPlayer->Stop();
    shared.refreshBits |= RefreshNotesView;
    streamPlayback->SetLoop(loop);
    // The passage is there again the next time the song is opened.
    RememberSong();
    seekOffset = frame;
    streamPlayback->Seek(frame);
    // A practice render made from a place after the loop's start has not got it: one is made
    // from the loop's start.
    if (loop.Active() && PracticeRenderNeeded(loop.start)) {
        ApplyPractice(frame);
        return;
    }
    if (shared.playState == PlayState::Playing && shared.command != Command::CountIn) StartPlayback();
}

void PlayerController::MarkLoop() {
    if (!streamPlayback) return;
    const std::optional<PlaybackLoop> loop =
        shared.practice.MarkLoop(PlaybackFrame(), streamPlayback->Loop().Active());
    if (loop) SetPlaybackLoop(*loop);
}

void PlayerController::SeekBy(double seconds) {
    if (totalFrames <= 0) return;
    const double target = static_cast<double>(PlaybackFrame()) + seconds * kRenderRate;
    SeekPlayback(static_cast<uint32_t>(std::clamp(target, 0.0, static_cast<double>(totalFrames - 1))));
}

double PlayerController::PlaybackSongTime() const {
    if (totalFrames <= 0 || !shared.song) return -1.0;
    const uint32_t played = soundPlayer ? soundPlayer->GetPlayPosition() : 0;
    // A song played from its render runs at the render's rate; its length follows the render.
    if (streamPlayback) {
        const int64_t frame = streamPlayback->HeardAfter(played);
        const double lead = waitingForRender || shared.playAlong.heldForPlayer
                                ? 0.0
                                : streamPlayback->Timeline().speed / 30.0;
        return double(frame) / kRenderRate + lead;
    }
    return double(played + seekOffset) * shared.song->duration / double(totalFrames) + 1.0 / 30.0;
}

int PlayerController::FillFromWave(uint8_t* destination, uint32_t framesWanted, uint32_t* framesRead,
                                   void* context) {
    auto* self = static_cast<PlayerController*>(context);
    *framesRead = 0;
    WavReader* reader = self->wavReader.get();
    if (reader == nullptr || !reader->format || reader->format->header.blockAlign == 0) return 0;
    const uint32_t blockAlign = reader->format->header.blockAlign;
    const uint32_t got = reader->Read(destination, framesWanted * blockAlign);
    *framesRead = got / blockAlign;
    // The window's renders are 16-bit PCM, and only those are scaled; the file itself stays as rendered.
    const WavFormat& format = reader->format->header;
    if (format.formatTag == kWaveFormatPcm && format.bitsPerSample == 16) {
        ApplyVolumeGain16(destination, size_t{*framesRead} * blockAlign / 2,
                          self->playbackVolume.load(std::memory_order_relaxed));
    }
    return 0;
}

int PlayerController::FillFromStream(uint8_t* destination, uint32_t framesWanted, uint32_t* framesRead,
                                     void* context) {
    auto* self = static_cast<PlayerController*>(context);
    *framesRead = 0;
    if (!self->streamPlayback) return 0;
    // The staging block is the player's own allocation, aligned for any sample.
    *framesRead = static_cast<uint32_t>(self->streamPlayback->Fill(
        reinterpret_cast<int16_t*>(destination), framesWanted, self->playbackVolume.load()));
    return 0;
}
