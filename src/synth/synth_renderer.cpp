// Index:
// - FluidSynth handle owners
// - creation and SoundFont loading
// - starting a render
// - render slices and completion

#include "synth/synth_renderer.h"

#include <fcntl.h>
#include <fluidsynth.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <thread>

#include "audio/wav_header.h"
#include "core/file_access.h"
#include "core/voice_limit.h"
#include "midi/midi_reader.h"
#include "synth/render_blocks.h"
#include "synth/render_stream.h"
#include "synth/scratch_writer.h"
#include "synth/soundfont_load.h"

using namespace render_blocks;

// --- FluidSynth handle owners ---

namespace fluid_detail {

void DeleteSettings::operator()(fluid_settings_t* p) const {
    delete_fluid_settings(p);
}
void DeleteSynth::operator()(fluid_synth_t* p) const {
    delete_fluid_synth(p);
}
// A player may only be deleted once it has stopped: join returns as soon as stop has marked it
// done, since with the sample timing source there is no timer thread to wait for.
void DeletePlayer::operator()(fluid_player_t* p) const {
    fluid_player_stop(p);
    fluid_player_join(p);
    delete_fluid_player(p);
}

}  // namespace fluid_detail

// --- Creation and SoundFont loading ---

SynthRenderer::SynthRenderer() {
    // FluidSynth's messages are routed through the program's own log function, so that a failure
    // can name them; they reach the terminal only when asked for.
    RouteFluidMessages();
    fluidSettings.reset(new_fluid_settings());
    if (!fluidSettings) return;
    // These reach every synthesiser and player made on the settings; half gain leaves headroom
    // for full two-handed chords.
    fluid_settings_setstr(fluidSettings.get(), "player.timing-source", "sample");
    fluid_settings_setint(fluidSettings.get(), "synth.lock-memory", 0);
    fluid_settings_setnum(fluidSettings.get(), "synth.gain", 0.5);
}

SynthRenderer::~SynthRenderer() {
    // The player and the file renderer hang on the synthesiser, which hangs on the settings.
    ReleaseRender();
    loadedSynth.reset();
    fluidSettings.reset();
}

Failure SynthRenderer::LoadSoundFont(const std::string& path) {
    // Looked at even when the SoundFont is loaded: one whose file has gone since is refused, as it
    // would be were it loaded now.
    if (const std::string problem = RegularFileProblem(path); !problem.empty()) {
        loadedSynth.reset();
        return SoundFontRefused(path, problem);
    }
    if (loadedSynth && loadedPath == path) return Failure::None();
    // The SoundFont loaded before goes first, so that its samples and the new ones are never held
    // together.
    loadedSynth.reset();
    if (!fluidSettings) return SoundFontRefused(path, "FluidSynth could not be set up");
    loadedSynth.reset(new_fluid_synth(fluidSettings.get()));
    if (!loadedSynth) return SoundFontRefused(path, "FluidSynth could not create a synthesiser");
    if (Failure loaded = LoadSoundFontInto(loadedSynth.get(), path); !loaded.Ok()) {
        loadedSynth.reset();
        return loaded;
    }
    loadedPath = path;
    return Failure::None();
}

// Each render plays on a synthesiser of its own, made for it: one that has played before does not
// sound quite as a new one does, even reset, and every render must sound as the first would. The
// SoundFont's samples, loaded once, move into it from `loadedSynth`, which keeps them between
// renders.
bool SynthRenderer::LendSoundFont() {
    fluid_sfont_t* sfont = loadedSynth ? fluid_synth_get_sfont(loadedSynth.get(), 0) : nullptr;
    fluidSynth.reset(new_fluid_synth(fluidSettings.get()));
    if (!fluidSynth || sfont == nullptr || fluid_synth_remove_sfont(loadedSynth.get(), sfont) != FLUID_OK)
        return false;
    if (fluid_synth_add_sfont(fluidSynth.get(), sfont) != FLUID_FAILED) return true;
    (void)fluid_synth_add_sfont(loadedSynth.get(), sfont);
    return false;
}

// The player goes with its render, and the SoundFont back to `loadedSynth` for the next one,
// unless another has been loaded since: then it goes with the render's synthesiser.
void SynthRenderer::PutSynthBy() {
    fluidPlayer.reset();
    fluid_synth_t* from = fluidSynth.get();
    fluid_sfont_t* sfont = from != nullptr ? fluid_synth_get_sfont(from, 0) : nullptr;
    if (sfont != nullptr && loadedSynth && fluid_synth_sfcount(loadedSynth.get()) == 0 &&
        fluid_synth_remove_sfont(from, sfont) == FLUID_OK &&
        fluid_synth_add_sfont(loadedSynth.get(), sfont) == FLUID_FAILED) {
        (void)fluid_synth_add_sfont(from, sfont);
    }
    fluidSynth.reset();
}

void SynthRenderer::ReleaseRender() {
    PutSynthBy();
    feed_.reset();
    midi_.reset();
    muter_.reset();
    pending_.reset();
    pendingBytes_ = 0;
    writer_.reset();
    // A stream whose render did not complete gets no more frames; its player may keep it.
    if (stream_) stream_->Abandon();
    stream_.reset();
    tail_.reset();
    limiter_.reset();
    passIn_ = {};
    passOut_ = {};
    chunk_ = nullptr;
    chunkFrames_ = 0;
}

// --- Starting a render ---

namespace {

constexpr size_t kFrameBytes = 2 * kChannels;
constexpr int kBlockFrames = 64;  // FluidSynth's own period: its renderer checks the player this often
// The normalised render hands the synthesiser's floats to the meter and the scratch file in
// chunks of this many frames.
constexpr size_t kChunkFrames = kScratchChunkFrames;

// The canonical header of a 16-bit stereo PCM WAV file, as FluidSynth's file renderer writes it.
void MakeHeader(uint8_t* h, uint32_t sampleRate, uint32_t dataBytes) {
    WriteCanonicalWavHeader(h, kChannels, sampleRate, 16, dataBytes);
}

// The render file as the user knows it: an unnamed temporary file has only the process's own
// handle for a path, which means nothing to a reader.
std::string RenderFileName(const RenderFile& file) {
    return file.unnamed() ? "the temporary file beside the output" : file.path();
}

// A whole write, its reason kept for the failure the render ends with.
bool Write(int fd, const void* data, size_t size, int64_t at, std::string& error) {
    Failure written = WriteAll(fd, data, size, at);
    if (!written.Ok()) error = std::move(written.text);
    return written.Ok();
}

// FluidSynth's file renderer hands its float samples to its sound-file library, which turns them
// into 16-bit integers like this, with clipping on: scaled to 32 bits in single precision, rounded
// to the nearest (ties to even), and the top 16 bits kept.
int16_t ToSample(float value) {
    const float scaled = value * static_cast<float>(8.0 * 0x10000000);
    if (static_cast<double>(scaled) >= 1.0 * 0x7FFFFFFF) return 0x7FFF;
    if (static_cast<double>(scaled) <= -8.0 * 0x10000000) return -0x8000;
    const int32_t whole = static_cast<int32_t>(std::lrintf(scaled));
    return static_cast<int16_t>(whole >> 16);
}

// Past the player's end, the normalised render goes on while any voice sounds or the reverb is
// above this: far below anything the gain could bring up to the end threshold.
constexpr float kTailSilence = 1e-6f;  // -120 dBFS

// A note still held when the reader's song has ended is let go this long after (half a second at
// 44.1 kHz), a margin for the player's timing against the reader's.
constexpr int64_t kHoldGraceFrames = 22050;

}  // namespace

Failure SynthRenderer::Refuse(Failure failure) {
    ReleaseRender();
    rendering = false;
    ended_ = {RenderOutcome::Failed, -1.0f, failure};
    return failure;
}

Failure SynthRenderer::StartRender(const RenderRequest& request, const std::string& folder) {
    if (folder.empty()) {
        return Refuse(
            Failure::Because(FailureKind::TargetOpen, "there is no private folder for the rendered song"));
    }
    // The SoundFont is loaded before the previous render's file is touched: one that cannot be
    // loaded any more (its file removed since) leaves that file in place. A render still running
    // goes first, with its samples.
    ReleaseRender();
    rendering = false;
    if (Failure loaded = LoadSoundFont(request.soundFontPath); !loaded.Ok()) return Refuse(std::move(loaded));
    // The previous render's file goes first, and the new one takes a name no other player can
    // hold: players in separate process-id spaces share one folder and even one process id.
    renderFile.reset();
    auto file = std::make_unique<RenderFile>();
    if (Failure made = file->CreateUnique(folder, kPlayerRenderPrefix, ".wav"); !made.Ok()) {
        ReleaseSoundFont();
        return Refuse(Failure::Because(FailureKind::TargetOpen,
                                       "cannot write the rendered song in " + folder + ": " + made.text));
    }
    return StartRender(request, std::move(file));
}

Failure SynthRenderer::StartRender(const RenderRequest& request, std::unique_ptr<RenderFile> file) {
    // A render still running, or one abandoned, is dropped first.
    ReleaseRender();
    rendering = false;
    streamOnly_ = false;
    gainOf_.reset();
    renderFile = std::move(file);
    if (!renderFile || renderFile->fd() < 0) {
        ReleaseSoundFont();
        return Refuse(Failure::Because(FailureKind::TargetOpen, "no file to render into"));
    }
    std::string folder = renderFile->folder();
    if (folder.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        folder = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    }
    return BeginRender(request, folder);
}

Failure SynthRenderer::BeginRender(const RenderRequest& request, const std::string& scratchFolder) {
    if (!fluidSettings)
        return Refuse(Failure::Because(FailureKind::Render, "FluidSynth could not be set up"));

    if (!request.midi || request.midi->empty()) {
        return Refuse(Failure::Because(FailureKind::Render, "there is no song to render"));
    }
    const MidiBytes smf = StandardMidiBytes(request.midi->data(), request.midi->size());
    const bool ownSequencer = smf.size >= request.ownSequencerBytes;

    // The render starts from a fresh synthesiser holding just the current SoundFont.
    if (Failure loaded = LoadSoundFont(request.soundFontPath); !loaded.Ok()) return Refuse(std::move(loaded));
    SetUpVoices(request, ownSequencer);
    // A dense song keeps every voice busy, and mixing them is much of its render: the render's own
    // synthesiser may mix them on more threads. The output is the same sample for sample. The one
    // that keeps the SoundFont between renders never plays, and gets none.
    const int threads = ownSequencer ? std::clamp(request.synthesisThreads, 1, kMostSynthesisThreads) : 1;
    (void)fluid_settings_setint(fluidSettings.get(), "synth.cpu-cores", threads);
    const bool lent = LendSoundFont();
    (void)fluid_settings_setint(fluidSettings.get(), "synth.cpu-cores", 1);
    if (!lent) {
        return Refuse(Failure::Because(FailureKind::Render, "FluidSynth could not create a synthesiser"));
    }
    const int voices = request.voiceLimit > 0   ? request.voiceLimit
                       : RenderVoiceLimit() > 0 ? RenderVoiceLimit()
                       : ownSequencer           ? kOwnSequencerVoices
                                                : kPlayerVoices;
    if (fluid_synth_set_polyphony(fluidSynth.get(), std::clamp(voices, kLeastVoiceLimit, kMostVoiceLimit)) !=
        FLUID_OK) {
        return Refuse(Failure::Because(
            FailureKind::Render, "FluidSynth would not sound " + std::to_string(voices) + " voices at once"));
    }
    ClearFluidErrors();
    if (!ownSequencer) {
        // A RIFF MIDI file is unwrapped, and chunks FluidSynth's player cannot step over are left
        // out, so that it plays exactly what the reader read; any other file goes as it is.
        const std::vector<uint8_t> playerBytes = PlayerMidiBytes(request.midi->data(), request.midi->size());
        fluidPlayer.reset(new_fluid_player(fluidSynth.get()));
        // The one place the MIDI file's bytes reach FluidSynth, which copies them.
        if (!fluidPlayer || playerBytes.empty() ||
            fluid_player_add_mem(fluidPlayer.get(), playerBytes.data(), playerBytes.size()) != FLUID_OK ||
            !SeekPlayer(request.startTick) || fluid_player_play(fluidPlayer.get()) != FLUID_OK) {
            return Refuse(
                Failure::Because(FailureKind::Render, "FluidSynth could not start its MIDI player"));
        }
    }

    double rate = kSampleRate;
    fluid_settings_getnum(fluidSettings.get(), "synth.sample-rate", &rate);
    sampleRate_ = static_cast<uint32_t>(rate + 0.5);
    const SongData* song = request.song;
    if (Failure practice = SetUpPractice(request); !practice.Ok()) return Refuse(std::move(practice));
    if (ownSequencer) {
        feed_ = std::make_unique<SequencerFeed>();
        feedTiming_ = {request.startTick, request.startSeconds, request.speed, sampleRate_};
        feedOpened_ = false;
        // The feed reads the song's own bytes, which the request shares for as long as it plays.
        midi_ = request.midi;
    }
    // Every limit below is in rendered time: a song played at half speed lasts twice as long.
    const double songLength =
        song != nullptr ? std::min(std::max(song->duration, 0.0), kMaxSongSeconds) : kMaxSongSeconds;
    const double songSeconds =
        PlayedSeconds(std::max(songLength - std::max(request.startSeconds, 0.0), 0.0), request.speed);
    songFrames_ = song != nullptr ? static_cast<int64_t>(songSeconds * sampleRate_) : 0;
    limitFrames_ = static_cast<int64_t>(std::ceil((songSeconds + kReleaseTailSeconds) * sampleRate_));
    songHasNotes_ = song != nullptr && song->duration > 0;
    heardSound_ = false;
    frames_ = 0;
    writeFailed_ = false;
    writeError_.clear();

    pending_.reset(new (std::nothrow) uint8_t[kPendingBytes]);
    uint8_t header[kWavHeader];
    MakeHeader(header, sampleRate_, 0);
    if (!pending_ ||
        (!streamOnly_ && (ftruncate(renderFile->fd(), 0) != 0 || lseek(renderFile->fd(), 0, SEEK_SET) != 0 ||
                          !Write(renderFile->fd(), header, sizeof header, -1, writeError_)))) {
        const std::string target = renderFile ? RenderFileName(*renderFile) : "the rendered audio";
        return Refuse(Failure::Because(FailureKind::Write, "cannot write " + target + ": " +
                                                               (pending_ ? writeError_ : "out of memory")));
    }
    pendingBytes_ = 0;

    raw_ = request.raw;
    pass_ = Pass::Synthesis;
    plan = {};
    endFrame = 0;
    releaseFrame_ = -1;
    notesReleased_ = false;
    blockPeak_ = 0;
    readFrame_ = 0;
    outFrames_ = 0;
    if (!raw_) {
        // The song as floats goes beside the render file: on the same disk, and gone with the
        // process however it ends where the file system can make unnamed files.
        const std::string& folder = scratchFolder;
        auto scratch = std::make_unique<RenderFile>();
        if (Failure made = scratch->CreateTemporary(folder); !made.Ok()) {
            return Refuse(
                Failure::Because(FailureKind::TargetOpen,
                                 "cannot make the render's scratch file in " + folder + ": " + made.text));
        }
        chunk_ = nullptr;
        chunkFrames_ = 0;
        // The true peak is not measured: the second pass's limiter holds it under the ceiling
        // whatever it is, and measuring it would cost as much again as the synthesis.
        if (!streamOnly_ && !meter_.Open(kChannels, sampleRate_, false)) {
            return Refuse(Failure::Because(FailureKind::Render, "the loudness meter could not be set up"));
        }
        stream_ = std::make_shared<RenderStream>(std::move(scratch), sampleRate_,
                                                 songFrames_ > 0 ? songFrames_ : limitFrames_);
        if (gainOf_) stream_->FollowGainOf(gainOf_);
        writer_ =
            std::make_unique<ScratchWriter>(streamOnly_ ? nullptr : &meter_, *stream_, request.lowPriority);
        // Without the reader's song, the release is known only when the player ends; until then
        // it lies past anything the render can reach.
        releaseFrame_ = song != nullptr ? static_cast<int64_t>(std::llround(songSeconds * sampleRate_)) : -1;
        tail_ = std::make_unique<SoundEndTracker>(
            kChannels, releaseFrame_ >= 0 ? releaseFrame_ : std::numeric_limits<int64_t>::max(),
            static_cast<int>(sampleRate_));
    }

    rendering = true;
    shownProgress = 0;
    totalTicks_ = 0;
    ended_ = {};
    return Failure::None();
}

// Sends the player into the song before it plays: the controllers and programs up to `tick` are
// set, and only notes from there on sound. A player that plays already would refuse the place,
// since it has not read the file's length yet.
bool SynthRenderer::SeekPlayer(int64_t tick) {
    return tick <= 0 || fluid_player_seek(fluidPlayer.get(),
                                          static_cast<int>(std::min<int64_t>(tick, INT32_MAX))) == FLUID_OK;
}

// The synthesiser gives way to a new voice by dropping the voice of lowest score. The weights make
// that score its loudness alone, and a released voice (fading already) the first to go: for a
// dense song at its limit, the notes dropped are the ones least heard. A raw render through the
// player keeps FluidSynth's own weights, so that it stays byte for byte its command's.
void SynthRenderer::SetUpVoices(const RenderRequest& request, bool ownSequencer) {
    struct Weight {
        const char* name;
        double quietFirst;
    };
    static constexpr Weight kWeights[] = {
        {"synth.overflow.volume", 10000.0},  // the most the setting takes
        {"synth.overflow.age", 0.0},        {"synth.overflow.sustained", 0.0},
        {"synth.overflow.percussion", 0.0}, {"synth.overflow.released", -2000.0},
    };
    const bool quietFirst = ownSequencer || !request.raw;
    fluid_settings_t* settings = fluidSettings.get();
    for (const Weight& w : kWeights) {
        double value = w.quietFirst;
        if (!quietFirst) (void)fluid_settings_getnum_default(settings, w.name, &value);
        (void)fluid_settings_setnum(settings, w.name, value);
    }
}

Failure SynthRenderer::SetUpPractice(const RenderRequest& request) {
    const double speed = request.speed;
    if (!(speed >= kMinRenderSpeed && speed <= kMaxRenderSpeed)) {
        return Failure::Because(FailureKind::Render, "the speed " + std::to_string(speed) +
                                                         " is outside what a render plays at (0.25 to 2)");
    }
    // The player's own tempo changes go on being followed, each times the speed.
    if (fluidPlayer && speed != 1.0 &&
        fluid_player_set_tempo(fluidPlayer.get(), FLUID_PLAYER_TEMPO_INTERNAL, speed) != FLUID_OK) {
        return Failure::Because(FailureKind::Render, "FluidSynth's player would not change its tempo");
    }
    clicks_.reset();
    if (!request.metronome.empty()) {
        if (request.raw) {
            return Failure::Because(FailureKind::Render,
                                    "a raw render is the synthesiser's output alone: it takes no metronome");
        }
        clicks_ = std::make_unique<ClickTrack>(request.metronome, request.startSeconds, speed, sampleRate_,
                                               request.clickVolume);
    }
    if (request.transpose < -kMostTranspose || request.transpose > kMostTranspose) {
        return Failure::Because(
            FailureKind::Render,
            "the transposition " + std::to_string(request.transpose) + " is outside -12 to 12 semitones");
    }
    if (!request.mutes.Any() && request.transpose == 0) return Failure::None();
    if (request.song == nullptr && request.mutes.parts.any()) {
        return Failure::Because(FailureKind::Render, "a part can be muted only in a song that has been read");
    }
    muter_ = std::make_unique<NoteMuter>(request.song, request.mutes, speed, sampleRate_, &frames_,
                                         fluidSynth.get(), request.startSeconds, request.transpose);
    if (fluidPlayer &&
        fluid_player_set_playback_callback(fluidPlayer.get(), NoteMuter::Forward, muter_.get()) != FLUID_OK) {
        return Failure::Because(FailureKind::Render, "FluidSynth's player would not let parts be muted");
    }
    return Failure::None();
}

Failure SynthRenderer::StartStreamRender(const RenderRequest& request, const std::string& folder,
                                         std::shared_ptr<const RenderStream> gainOf) {
    ReleaseRender();
    rendering = false;
    if (folder.empty()) {
        return Refuse(
            Failure::Because(FailureKind::TargetOpen, "there is no private folder for the rendered song"));
    }
    streamOnly_ = true;
    gainOf_ = std::move(gainOf);
    RenderRequest normalised = request;
    normalised.raw = false;
    return BeginRender(normalised, folder);
}

// --- Render slices and completion ---

namespace {

// Percent of the song played. Until the player has read the file it reports no total, and the
// result is not a number: compared with anything it is false, so the slice simply carries on
// rendering.
//
// The render runs on for a few seconds past the song's last note, past 100 %, so the count is held
// at 100: the button never shows more than all of it, and the tail is rendered in the slice that
// reaches 100.
float ProgressPercent(int64_t current, int64_t total) {
    if (total <= 0) return std::numeric_limits<float>::quiet_NaN();
    const float percent = static_cast<float>(static_cast<double>(static_cast<float>(current)) * 100.0 /
                                             static_cast<double>(static_cast<float>(total)));
    return percent > 100.0f ? 100.0f : percent;
}

// A frame of the window renders at most this many blocks, about one and a half seconds of the song,
// so that however slowly the song's progress moves the window answers within a few hundredths.
constexpr int kBlocksPerSlice = 1024;

}  // namespace

bool SynthRenderer::Flush() {
    if (pendingBytes_ == 0 || writeFailed_) return !writeFailed_;
    writeFailed_ = !Write(renderFile->fd(), pending_.get(), pendingBytes_, -1, writeError_);
    pendingBytes_ = 0;
    return !writeFailed_;
}

// The normalised render's block: floats as the synthesiser made them, into the chunk.
bool SynthRenderer::RenderFloatBlock() {
    if (chunkFrames_ + kBlockFrames > kChunkFrames && !FlushChunk()) return false;
    if (chunk_ == nullptr) chunk_ = writer_->Buffer();
    float* at = chunk_ + chunkFrames_ * kChannels;
    fluid_synth_write_float(fluidSynth.get(), kBlockFrames, at, 0, 2, at, 1, 2);
    if (clicks_) clicks_->Mix(at, kBlockFrames, frames_);
    float peak = 0;
    for (int i = 0; i < kBlockFrames * kChannels; ++i) peak = std::max(peak, std::fabs(at[i]));
    blockPeak_ = peak;
    // A song whose loudest sample would not reach one step of 16 bits at the synthesiser's own
    // gain is taken for silence, as in the raw render.
    heardSound_ = heardSound_ || peak >= 1.0f / 32768.0f;
    chunkFrames_ += kBlockFrames;
    frames_ += kBlockFrames;
    return true;
}

// Hands the chunk to the writer; the end of the sound is tracked here, where the release is known.
bool SynthRenderer::FlushChunk() {
    if (chunkFrames_ > 0) {
        tail_->AddFrames(chunk_, chunkFrames_);
        writer_->Submit(chunkFrames_);
        chunk_ = nullptr;
        chunkFrames_ = 0;
    }
    if (!writer_->Failed()) return true;
    writeError_ = writer_->Drain().text;
    return false;
}

bool SynthRenderer::RenderBlock() {
    float block[kBlockFrames * kChannels] = {};
    fluid_synth_write_float(fluidSynth.get(), kBlockFrames, block, 0, 2, block, 1, 2);
    if (pendingBytes_ + sizeof block / 2 > kPendingBytes && !Flush()) return false;
    uint8_t* out = pending_.get() + pendingBytes_;
    for (const float value : block) {
        const int16_t sample = ToSample(value);
        // The conversion rounds the smallest negative values down to -1, so silence is -1 to 0.
        heardSound_ = heardSound_ || sample > 0 || sample < -1;
        out[0] = static_cast<uint8_t>(sample);
        out[1] = static_cast<uint8_t>(static_cast<uint16_t>(sample) >> 8);
        out += 2;
    }
    pendingBytes_ += sizeof block / 2;
    frames_ += kBlockFrames;
    return true;
}

// Writes what is pending and the header's final sizes, for `frames` frames of samples.
bool SynthRenderer::Finish(int64_t frames) {
    if (!Flush()) return false;
    const uint64_t dataBytes = static_cast<uint64_t>(frames) * kFrameBytes;
    uint8_t header[kWavHeader];
    MakeHeader(header, sampleRate_, static_cast<uint32_t>(dataBytes));
    writeFailed_ = !Write(renderFile->fd(), header, sizeof header, 0, writeError_);
    return !writeFailed_;
}

RenderStatus SynthRenderer::WriteFailure() {
    if (streamOnly_) {
        return End(
            Failure::Because(FailureKind::Write, "could not write the rendered audio: " + writeError_));
    }
    if (pass_ == Pass::Synthesis && !raw_) {
        return End(Failure::Because(FailureKind::Write, "could not write the rendered audio to " +
                                                            RenderFileName(*renderFile) +
                                                            " (its scratch file beside it): " + writeError_));
    }
    return End(Failure::Because(FailureKind::Write, "could not write the rendered audio to " +
                                                        RenderFileName(*renderFile) + ": " + writeError_));
}

RenderStatus SynthRenderer::End(Failure failure) {
    ReleaseRender();
    rendering = false;
    ended_ = {failure.Ok() ? RenderOutcome::Finished : RenderOutcome::Failed, -1.0f, std::move(failure)};
    return ended_;
}

RenderStatus SynthRenderer::FinishSynthesis(bool playing) {
    // Every chunk handed to the writer is on disk before the render counts as finished.
    auto drained = [this] {
        const Failure failed = writer_->Drain();
        writeError_ = failed.text;
        return failed.Ok();
    };
    if (raw_ ? !Finish(frames_) : !FlushChunk() || !drained()) return WriteFailure();
    if (!playing && !LastFluidError().empty() && (frames_ < songFrames_ || !heardSound_)) {
        // FluidSynth gave up on the file part way or at once (it cannot read the file, or reads it
        // differently), so the sound is not the song.
        return End(
            Failure::Because(FailureKind::Render, "FluidSynth could not play the song: " + LastFluidError()));
    }
    // Silence is what was asked for when every part that plays is muted, or when a passage from a
    // place has no note left to play.
    if (songHasNotes_ && !heardSound_ && !muter_ && !streamOnly_) {
        return End(Failure::Because(
            FailureKind::Render,
            LastFluidError().empty()
                ? "the render is silent although the song has notes (is the SoundFont complete?)"
                : "the render is silent: " + LastFluidError()));
    }
    if (raw_) return End(Failure::None());
    if (streamOnly_) {
        const double gain = gainOf_ ? gainOf_->Gain() : 1.0;
        endFrame = tail_->EndFrame(gain);
        stream_->Complete(gain, endFrame, tail_->FadeFrames());
        return End(Failure::None());
    }
    // The second pass needs no synthesiser: it goes now, and the SoundFont waits for the next render.
    PutSynthBy();
    writer_.reset();
    plan = PlanNormalisation(meter_.IntegratedLufs(), meter_.SamplePeak());
    endFrame = tail_->EndFrame(plan.gain);
    stream_->Complete(plan.gain, endFrame, tail_->FadeFrames());
    writes_ = 0;
    if (!BeginSecondPass()) return WriteFailure();
    return StepSecondPass();
}

RenderStatus SynthRenderer::RenderStep() {
    if (!rendering) return ended_;
    if (pass_ != Pass::Synthesis) return StepSecondPass();
    if (feed_ != nullptr && !feedOpened_) {
        if (!feed_->Open(midi_->data(), midi_->size(), feedTiming_, fluidSynth.get(), muter_.get()))
            return End(Failure::Because(FailureKind::Render, "the song's MIDI data cannot be played"));
        feedOpened_ = true;
    }
    for (int blocks = 0;; ++blocks) {
        // The position is read before the block is rendered, so a slice shows where it began.
        // Without the song's own length, the player's ticks tell; the player counts the length by
        // walking every event of every track, so it is asked for only until it has read the file.
        int64_t current = frames_, total = songFrames_;
        const bool sequenced = feed_ != nullptr;
        if (total == 0 && sequenced) {
            current = feed_->Tick();
            total = feed_->EndTick();
        } else if (total == 0) {
            if (totalTicks_ == 0) totalTicks_ = fluid_player_get_total_ticks(fluidPlayer.get());
            current = fluid_player_get_current_tick(fluidPlayer.get());
            total = totalTicks_;
        }
        // The own sequencer sends what falls due before the block, as the player would from its
        // callback at the block's start.
        if (sequenced) feed_->PlayUntil(frames_);
        const bool playing = sequenced ? !feed_->Done(frames_)
                                       : fluid_player_get_status(fluidPlayer.get()) == FLUID_PLAYER_PLAYING;
        // FluidSynth's player plays on while any voice sounds, so a note no note-off ends would
        // keep it playing for ever: the song is over once the reader's length has passed too.
        const bool songOver = !playing || (songFrames_ > 0 && frames_ >= songFrames_ + kHoldGraceFrames);
        // The own sequencer lets go at the end of the song what the player lets go at its own end.
        if ((!raw_ || sequenced) && songOver && !notesReleased_) {
            // The song has ended: a note never let go (or held by a pedal) is let go here, so its
            // sound fades like any other's and the song can end.
            fluid_synth_t* synth = fluidSynth.get();
            for (int channel = 0; channel < fluid_synth_count_midi_channels(synth); ++channel) {
                fluid_synth_cc(synth, channel, 64, 0);
                fluid_synth_cc(synth, channel, 66, 0);
                fluid_synth_all_notes_off(synth, channel);
            }
            notesReleased_ = true;
            // The player has played every note-off by now. A song read without its notes, or whose
            // length was raised since (to an earlier render's), releases here at the latest.
            if (!raw_ && (releaseFrame_ < 0 || releaseFrame_ > frames_)) {
                releaseFrame_ = frames_;
                if (FlushChunk()) tail_->SetRelease(releaseFrame_);
            }
        }
        const bool voicesOver = fluid_synth_get_active_voice_count(fluidSynth.get()) == 0;
        // A raw render through the player ends where the player does; through the own sequencer,
        // once the song's last voice has died away, as the player would end it.
        const bool tailOver = raw_ ? (sequenced ? songOver && voicesOver : !playing)
                                   : songOver && voicesOver && blockPeak_ < kTailSilence;
        if (tailOver || frames_ >= limitFrames_) return FinishSynthesis(playing);
        if (!(raw_ ? RenderBlock() : RenderFloatBlock())) return WriteFailure();
        progress = ProgressPercent(current, total);
        // The synthesis is most of a normalised render's time; the second pass shows the rest.
        if (!raw_) progress *= 0.9f;
        // Showing only steps of more than 1.6 points spreads any render over about 62 frames, so
        // the window keeps redrawing whatever the song's length.
        if (static_cast<double>(progress) - 1.6 > static_cast<double>(shownProgress)) {
            shownProgress = progress;
            return {RenderOutcome::Running, shownProgress, {}};
        }
        if (blocks + 1 >= kBlocksPerSlice) return {RenderOutcome::Running, shownProgress, {}};
    }
}
