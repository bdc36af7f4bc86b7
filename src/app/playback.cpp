// The controller's playback operations: preparing the player for a rendered WAV, start, stop,
// pause, back to the start and seek, and the fill callback through which the player reads the WAV.
//
// Everything that moves the reader first stops the player; stopping kills the refill timer and
// waits for a refill in progress, so the timer's thread never reads a reader that is being moved.
// The keyboard's lit keys are cleared by the next frame, which finds RefreshNotesView set and
// tells the notes view before moving it on: that comes before any key of the new place is lit.
#include <algorithm>
#include <climits>

#include "app/player_controller.h"
#include "audio/streaming_player.h"
#include "audio/volume.h"
#include "audio/wav_reader.h"

namespace {

// Rendered songs run at this rate; the song's length in seconds is taken from it, not from the file.
constexpr double kRenderRate = 44100.0;

}  // namespace

void PlayerController::CreatePlayer(platform::SoundOutput& output, std::chrono::milliseconds refillPeriod) {
    soundPlayer = std::make_unique<StreamingPlayer>(output, refillPeriod);
    shared.player = soundPlayer.get();
}

bool PlayerController::PreparePlayback() {
    StreamingPlayer* player = soundPlayer.get();
    // The old ring's refill may still be reading the old reader: it goes before the reader does.
    if (player != nullptr) player->Release();
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

void PlayerController::StartPlayback() {
    if (soundPlayer) soundPlayer->Play();
    shared.playState = PlayState::Playing;
}

void PlayerController::StopPlayback() {
    if (soundPlayer) {
        shared.refreshBits |= RefreshNotesView;
        soundPlayer->Stop();
        if (wavReader) {
            wavReader->SeekFrame(0);
            wavReader->RewindData();
        }
        seekOffset = 0;
    }
    shared.playState = PlayState::Stopped;
}

void PlayerController::PausePlayback() {
    if (!soundPlayer) return;
    shared.refreshBits |= RefreshNotesView;
    soundPlayer->Pause();
    shared.playState = PlayState::Paused;
}

void PlayerController::RewindPlayback() {
    if (!soundPlayer) return;
    shared.refreshBits |= RefreshNotesView;
    soundPlayer->Stop();
    if (wavReader) wavReader->SeekFrame(0);
    if (shared.playState == PlayState::Playing) soundPlayer->Play();
    seekOffset = 0;
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
    // A paused song stays paused at the new place; the next play primes the ring from there.
    if (shared.playState == PlayState::Playing && soundPlayer) soundPlayer->Play();
}

uint32_t PlayerController::PlaybackFrame() const {
    if (shared.playState != PlayState::Playing && shared.playState != PlayState::Paused) return 0;
    return (soundPlayer ? soundPlayer->GetPlayPosition() : 0) + seekOffset;
}

void PlayerController::SeekBy(double seconds) {
    if (totalFrames <= 0) return;
    const double target = static_cast<double>(PlaybackFrame()) + seconds * kRenderRate;
    SeekPlayback(static_cast<uint32_t>(std::clamp(target, 0.0, static_cast<double>(totalFrames - 1))));
}

double PlayerController::PlaybackSongTime() const {
    if (totalFrames <= 0 || !shared.song) return -1.0;
    const uint32_t played = (soundPlayer ? soundPlayer->GetPlayPosition() : 0) + seekOffset;
    return double(played) * shared.song->duration / double(totalFrames) + 1.0 / 30.0;
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
