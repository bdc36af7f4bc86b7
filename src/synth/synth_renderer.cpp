// Index:
// - FluidSynth handle owners and log routing
// - creation and SoundFont loading
// - starting a render
// - render slices and completion
// - the normalised render's second pass

#include "synth/synth_renderer.h"

#include <fcntl.h>
#include <fluidsynth.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
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
#include "midi/midi_reader.h"
#include "platform/library_messages.h"
#include "synth/render_stream.h"
#include "synth/scratch_writer.h"

// --- FluidSynth handle owners and log routing ---

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

namespace {

// FluidSynth's first and last errors since they were cleared, kept so that a load or a render it
// refused can say why. FluidSynth reports from the thread that renders, which is the only one that
// reads these.
std::string firstFluidError;
std::string lastFluidError;
// Whether FluidSynth's own lines also go to standard error, for a diagnosis; off by default, since
// what they say reaches the user inside the failure they explain.
std::atomic<bool> printFluidMessages{false};

void TakeFluidMessage(int level, const char* message, void*) {
    if (level != FLUID_WARN) {
        if (firstFluidError.empty()) firstFluidError = message;
        lastFluidError = message;
    }
    if (printFluidMessages.load()) {
        std::fprintf(stderr, "fluidsynth: %s: %s\n", level == FLUID_WARN ? "warning" : "error", message);
    }
}

void RouteFluidMessages() {
    fluid_set_log_function(FLUID_PANIC, TakeFluidMessage, nullptr);
    fluid_set_log_function(FLUID_ERR, TakeFluidMessage, nullptr);
    fluid_set_log_function(FLUID_WARN, printFluidMessages.load() ? TakeFluidMessage : nullptr, nullptr);
    fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
}

// The SoundFont loader's reason in the user's words; the loader speaks of its own reading.
std::string PlainSoundFontReason(const std::string& raw) {
    if (raw.empty()) return "FluidSynth could not load it";
    if (raw.find("EOF") != std::string::npos || raw.find("size mismatch") != std::string::npos) {
        return "not a SoundFont file, or one cut short";
    }
    if (raw.find("Not a RIFF") != std::string::npos || raw.find("Not a SoundFont") != std::string::npos) {
        return "not a SoundFont file";
    }
    return "a damaged SoundFont (" + raw + ")";
}

}  // namespace

void ShowFluidSynthMessages(bool show) {
    printFluidMessages.store(show);
    RouteFluidMessages();
}

// --- Creation and SoundFont loading ---

SynthRenderer::SynthRenderer() {
    // FluidSynth's messages are routed through the program's own log function, so that a failure
    // can name them; they reach the terminal only when asked for.
    if (const char* show = std::getenv("DORVIK_FLUIDSYNTH_MESSAGES"); show != nullptr && *show != '\0') {
        printFluidMessages.store(true);
    }
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
    const auto refused = [&path](const std::string& reason) {
        return Failure::Because(FailureKind::SoundFont,
                                "The SoundFont \"" + path + "\" could not be loaded: " + reason);
    };
    // FluidSynth's loader opens the file for blocking reads: a pipe in its place would hold the
    // program before its window ever opens. Only a regular file is handed to it.
    if (const Failure check = CheckRegularFile(path); !check.Ok()) {
        loadedSynth.reset();
        return refused(check.text.substr(std::min(check.text.size(), path.size() + 2)));
    }
    if (loadedSynth && loadedPath == path) return Failure::None();
    // The SoundFont loaded before goes first, so that its samples and the new ones are never held
    // together.
    loadedSynth.reset();
    if (!fluidSettings) return refused("FluidSynth could not be set up");
    loadedSynth.reset(new_fluid_synth(fluidSettings.get()));
    if (!loadedSynth) return refused("FluidSynth could not create a synthesiser");
    firstFluidError.clear();
    lastFluidError.clear();
    // A file the SoundFont loader refuses goes on to FluidSynth's DLS loader, whose library prints
    // a failed assertion of its own for anything that is not DLS either; the loaders' errors
    // already say what is wrong.
    const platform::QuietLibraryCriticals quiet;
    if (fluid_synth_sfload(loadedSynth.get(), path.c_str(), 1) != FLUID_FAILED) {
        loadedPath = path;
        return Failure::None();
    }
    loadedSynth.reset();
    // The first error is the SoundFont loader's own reason ("Not a RIFF file"); the last only
    // says that no loader took the file.
    return refused(PlainSoundFontReason(firstFluidError));
}

// The synthesiser goes with the player: once a render is over, the song plays from its file, and
// the SoundFont's samples are loaded again only for the next render.
void SynthRenderer::ReleaseRender() {
    fluidPlayer.reset();
    // A synthesiser kept for the next render is reset to how a fresh one starts: no voice, no
    // controller, no reverb left over.
    if (keepSynth_ && fluidSynth && !loadedSynth) {
        fluid_synth_system_reset(fluidSynth.get());
        loadedSynth = std::move(fluidSynth);
    }
    fluidSynth.reset();
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

constexpr int kChannels = 2;
constexpr size_t kFrameBytes = 2 * kChannels;
constexpr int kBlockFrames = 64;  // FluidSynth's own period: its renderer checks the player this often
constexpr size_t kPendingBytes = size_t{1} << 16;
constexpr size_t kWavHeader = kCanonicalWavHeaderBytes;
// The normalised render hands the synthesiser's floats to the meter and the scratch file in
// chunks of this many frames, and its second pass reads them back in chunks of this many.
constexpr size_t kChunkFrames = kScratchChunkFrames;
constexpr size_t kPassFrames = 16384;
constexpr size_t kFloatFrameBytes = sizeof(float) * kChannels;

// The canonical header of a 16-bit stereo PCM WAV file, as FluidSynth's file renderer writes it.
void MakeHeader(uint8_t* h, uint32_t sampleRate, uint32_t dataBytes) {
    WriteCanonicalWavHeader(h, kChannels, sampleRate, 16, dataBytes);
}

// The render file as the user knows it: an unnamed temporary file has only the process's own
// handle for a path, which means nothing to a reader.
std::string RenderFileName(const RenderFile& file) {
    return file.unnamed() ? "the temporary file beside the output" : file.path();
}

bool WriteAll(int fd, const uint8_t* data, size_t size, off_t at, std::string& error) {
    while (size > 0) {
        const ssize_t put = at < 0 ? write(fd, data, size) : pwrite(fd, data, size, at);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            error = put < 0 ? std::strerror(errno) : "nothing could be written";
            return false;
        }
        data += put;
        size -= static_cast<size_t>(put);
        if (at >= 0) at += put;
    }
    return true;
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

// Past the player's end, the normalised render goes on while any voice sounds or the reverb is
// above this: far below anything the gain could bring up to the end threshold.
constexpr float kTailSilence = 1e-6f;  // -120 dBFS

// A note still held when the reader's song has ended is let go this long after (half a second at
// 44.1 kHz), a margin for the player's timing against the reader's.
constexpr int64_t kHoldGraceFrames = 22050;

// A slice of the second pass stops after this long, so that a window keeps drawing.
constexpr auto kPassSliceTime = std::chrono::milliseconds(8);

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
    std::string error;
    if (!file->CreateUnique(folder, kPlayerRenderPrefix, ".wav", error)) {
        ReleaseSoundFont();
        return Refuse(Failure::Because(FailureKind::TargetOpen,
                                       "cannot write the rendered song in " + folder + ": " + error));
    }
    return StartRender(request, std::move(file));
}

Failure SynthRenderer::StartRender(const RenderRequest& request, std::unique_ptr<RenderFile> file) {
    // A render still running, or one abandoned, is dropped first.
    ReleaseRender();
    rendering = false;
    streamOnly_ = false;
    keepSynth_ = false;
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

    // The synthesiser LoadSoundFont left has rendered nothing yet (or has been reset since), so
    // the render starts from one holding just the current SoundFont.
    if (Failure loaded = LoadSoundFont(request.soundFontPath); !loaded.Ok()) return Refuse(std::move(loaded));
    fluidSynth = std::move(loadedSynth);

    // The MIDI file as bytes read here, so that FluidSynth plays exactly what was read, and a pipe
    // or a device in the file's place is refused rather than waited on.
    std::vector<uint8_t> midi;
    if (Failure read = ReadRegularFile(request.midiPath, kMaxMidiFileBytes, midi); !read.Ok()) {
        return Refuse(std::move(read));
    }
    // A RIFF MIDI file is unwrapped, and chunks FluidSynth's player cannot step over are left out,
    // so that it plays exactly what the reader read; any other file goes as it is.
    const std::vector<uint8_t> playerBytes = PlayerMidiBytes(midi.data(), midi.size());
    lastFluidError.clear();
    fluidPlayer.reset(new_fluid_player(fluidSynth.get()));
    // The one place the MIDI file's bytes reach FluidSynth, which copies them.
    if (!fluidPlayer || playerBytes.empty() ||
        fluid_player_add_mem(fluidPlayer.get(), playerBytes.data(), playerBytes.size()) != FLUID_OK ||
        !SeekPlayer(request.startTick) || fluid_player_play(fluidPlayer.get()) != FLUID_OK) {
        return Refuse(Failure::Because(FailureKind::Render, "FluidSynth could not start its MIDI player"));
    }

    double rate = 44100;
    fluid_settings_getnum(fluidSettings.get(), "synth.sample-rate", &rate);
    sampleRate_ = static_cast<uint32_t>(rate + 0.5);
    const SongData* song = request.song;
    if (Failure practice = SetUpPractice(request); !practice.Ok()) return Refuse(std::move(practice));
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
                          !WriteAll(renderFile->fd(), header, sizeof header, -1, writeError_)))) {
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
        if (!scratch->CreateTemporary(folder, writeError_)) {
            return Refuse(
                Failure::Because(FailureKind::TargetOpen,
                                 "cannot make the render's scratch file in " + folder + ": " + writeError_));
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
    writeFailed_ = !WriteAll(renderFile->fd(), pending_.get(), pendingBytes_, -1, writeError_);
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
    (void)writer_->Drain(writeError_);
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
    writeFailed_ = !WriteAll(renderFile->fd(), header, sizeof header, 0, writeError_);
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
    if (raw_ ? !Finish(frames_) : !FlushChunk() || !writer_->Drain(writeError_)) return WriteFailure();
    if (!playing && !lastFluidError.empty() && (frames_ < songFrames_ || !heardSound_)) {
        // FluidSynth gave up on the file part way or at once (it cannot read the file, or reads it
        // differently), so the sound is not the song.
        return End(
            Failure::Because(FailureKind::Render, "FluidSynth could not play the song: " + lastFluidError));
    }
    // Silence is what was asked for when every part that plays is muted, or when a passage from a
    // place has no note left to play.
    if (songHasNotes_ && !heardSound_ && !muter_ && !streamOnly_) {
        return End(Failure::Because(
            FailureKind::Render,
            lastFluidError.empty()
                ? "the render is silent although the song has notes (is the SoundFont complete?)"
                : "the render is silent: " + lastFluidError));
    }
    if (raw_) return End(Failure::None());
    if (streamOnly_) {
        const double gain = gainOf_ ? gainOf_->Gain() : 1.0;
        endFrame = tail_->EndFrame(gain);
        stream_->Complete(gain, endFrame, tail_->FadeFrames());
        return End(Failure::None());
    }
    // The second pass needs no synthesiser: the SoundFont's samples go now.
    fluidPlayer.reset();
    fluidSynth.reset();
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
    for (int blocks = 0;; ++blocks) {
        // The position is read before the block is rendered, so a slice shows where it began.
        // Without the song's own length, the player's ticks tell; the player counts the length by
        // walking every event of every track, so it is asked for only until it has read the file.
        int64_t current = frames_, total = songFrames_;
        if (total == 0) {
            if (totalTicks_ == 0) totalTicks_ = fluid_player_get_total_ticks(fluidPlayer.get());
            current = fluid_player_get_current_tick(fluidPlayer.get());
            total = totalTicks_;
        }
        const bool playing = fluid_player_get_status(fluidPlayer.get()) == FLUID_PLAYER_PLAYING;
        // FluidSynth's player plays on while any voice sounds, so a note no note-off ends would
        // keep it playing for ever: the song is over once the reader's length has passed too.
        const bool songOver = !playing || (songFrames_ > 0 && frames_ >= songFrames_ + kHoldGraceFrames);
        if (!raw_ && songOver && !notesReleased_) {
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
            if (releaseFrame_ < 0 || releaseFrame_ > frames_) {
                releaseFrame_ = frames_;
                if (FlushChunk()) tail_->SetRelease(releaseFrame_);
            }
        }
        const bool tailOver = raw_ ? !playing
                                   : songOver && fluid_synth_get_active_voice_count(fluidSynth.get()) == 0 &&
                                         blockPeak_ < kTailSilence;
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

// --- The normalised render's second pass ---

namespace {

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
