// The offline render of a song through FluidSynth into a WAV file.
//
// The program never synthesises while it plays: once a MIDI file is loaded, the whole song is
// rendered with the loaded SoundFont into a file of its own, and playback streams that file. The
// render runs on the caller's thread, one bounded slice per call of RenderStep, so that a window
// keeps redrawing and can show how far it has got.
//
// Life of a render:  idle --StartRender--> rendering --RenderStep per frame--> the player stops
//   --> Finished or Failed: the player and the synthesiser go, the SoundFont's samples are kept
//   for the next render, and the file stays open in `renderFile`. What
//   follows (naming the song, reading the overview, preparing playback, telling the user of a
//   failure) is the caller's. A SoundFont is loaded once for each change of it, never again for
//   each render.
//
// The song comes as the bytes its load read, never as a path: a file replaced or removed on disk
// while its song is loaded changes nothing of what the song's renders sound like.
//
// FluidSynth is used only through its public interface: settings, synthesiser, SoundFont
// loading and MIDI player. The WAV file is written here, into a file this program created and
// holds open. No audio driver is ever created.
//
// FluidSynth's MIDI player copies every event of the file before it plays, so a song of millions
// of notes would cost hundreds of megabytes to render. A song of kOwnSequencerBytes of MIDI data
// or more is played instead by the render's own sequencer (synth/sequencer_feed.h), which streams
// the events from the song's bytes into the synthesiser with everything the player path offers
// (speed, start, mutes, transposition); its raw render is not the `fluidsynth` command's to the
// byte, since its events fall on blocks by the reader's clock rather than the player's.
//
// Two renders come out of it:
// - The normalised render (the default). The synthesiser's float output goes, unclipped, into a
//   scratch file beside the render file (unnamed where the file system allows), while the song's
//   loudness (EBU R128) and sample peak and the peaks of its tail are measured. A second pass
//   reads the floats back, brings the song to kTargetLufs with one gain and through the limiter,
//   which holds the true peak under kCeilingDbtp where the gain would push it past (should the
//   limiter take more than kLimiterAllowanceLu of the song's energy, the pass is written once
//   more with a gain that makes it up), ends it where its sound falls below kEndThresholdDbfs past
//   the release of its last note, with a short fade, and writes 16-bit samples rounded to the
//   nearest. Only a few blocks of the song are ever in memory.
// - The raw render (`RenderRequest::raw`): the synthesiser's output is turned into 16-bit samples
//   exactly as FluidSynth's own file renderer does, at the same fixed gain, so the file is byte
//   for byte what `fluidsynth -ni -g 0.5 -F` writes.
//
// The raw render ends when FluidSynth's player has finished, as FluidSynth's own renderer would
// end it (through the own sequencer, once the song is over and its last voice has died away).
// The normalised one renders on past that until every voice has ended and the reverb has died
// away. Neither runs later than the song's length as the program's reader reads it plus a release
// tail: a file that FluidSynth's player reads differently (a damaged tempo, say) cannot render on
// without end.
#pragma once

#include <fluidsynth/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/failure.h"
#include "core/sample_rate.h"
#include "core/song_data.h"
#include "synth/loudness.h"
#include "synth/metronome.h"
#include "synth/part_mute.h"
#include "synth/render_file.h"
#include "synth/sequencer_feed.h"
#include "synth/soundfont_load.h"  // ShowFluidSynthMessages, for the renderer's callers

enum class RenderOutcome {
    Running,   // a slice was rendered; call again next frame
    Finished,  // the song was rendered into `renderFile`, whole
    Failed,    // nothing playable came of it; the status's failure says why
};

// Where a render stands after a slice.
struct RenderStatus {
    RenderOutcome outcome = RenderOutcome::Failed;
    // While Running, the progress to show in percent (it moves in visible steps only); -1 once the
    // render is over, when nothing is to be shown.
    float progress = -1.0f;
    Failure failure;  // why, when Failed
};

// What a render is of.
struct RenderRequest {
    // The MIDI file as the song's load read it, whole (a RIFF MIDI file as it is). Shared, since a
    // song's renders (its own, its practice passages, its exports on their thread) all play it.
    std::shared_ptr<const std::vector<uint8_t>> midi;
    std::string soundFontPath;
    // The song as the program's reader read it, for the render's length limit; null when it was
    // not read (the render then runs as long as FluidSynth's player and the longest song allow).
    const SongData* song = nullptr;
    // FluidSynth's own output at its fixed gain, byte for byte, instead of the normalised render.
    bool raw = false;
    // The render runs beside playback: its threads give way to the program's others.
    bool lowPriority = false;
    // The song's tempo times this, kMinRenderSpeed to kMaxRenderSpeed; the pitch stays. The
    // render's length and its limits follow.
    double speed = 1.0;
    // Parts left silent (see part_mute.h); any but the drums need `song`.
    PartMutes mutes{};
    // The render starts at this tick of the file, `startSeconds` into the song as its tempo map
    // places the tick: the player is sent there first, with every controller and program change
    // before it, and only notes struck from there on sound.
    int64_t startTick = 0;
    double startSeconds = 0.0;
    // Every note but the drums this many semitones up (or down), -12 to 12; a note moved off the
    // keyboard's 0..127 is not played.
    int transpose = 0;
    // The beats a metronome clicks on (midi/song_beats.h), at `clickVolume`; none for no clicks.
    // Not with `raw`, which is FluidSynth's output and nothing else.
    std::vector<Beat> metronome{};
    float clickVolume = kDefaultClickVolume;
    // How many voices sound at once, kLeastVoiceLimit to kMostVoiceLimit (core/voice_limit.h);
    // 0 for the process's limit, or, without one, the default of the way the song is played.
    int voiceLimit = 0;
    // A song whose MIDI data is this long or longer is played by the render's own sequencer
    // (synth/sequencer_feed.h) rather than FluidSynth's player.
    size_t ownSequencerBytes = kOwnSequencerBytes;
    // The threads the synthesiser mixes a dense song's voices on, 1 to kMostSynthesisThreads, when
    // the own sequencer plays it: a command with the processors to itself gives it them. A song
    // through the player always takes one, so that its raw render stays its command's.
    int synthesisThreads = 1;
};

class ScratchWriter;  // the synthesis's second thread: the meter and the scratch file
class RenderStream;   // the normalised render's float frames, playable as they come

namespace fluid_detail {
struct DeleteSettings {
    void operator()(fluid_settings_t* p) const;
};
struct DeleteSynth {
    void operator()(fluid_synth_t* p) const;
};
struct DeletePlayer {
    void operator()(fluid_player_t* p) const;  // stops and joins the player first
};
}  // namespace fluid_detail

// One per program (or per command), kept for the whole run. The fields are public so that the
// tests can see where a render stands; only the operations below change them.
class SynthRenderer {
  public:
    // Creates the FluidSynth settings. No synthesiser is made yet: one exists only while a
    // SoundFont is wanted in memory. Check Valid(): without the settings nothing can be rendered.
    SynthRenderer();
    ~SynthRenderer();
    SynthRenderer(const SynthRenderer&) = delete;
    SynthRenderer& operator=(const SynthRenderer&) = delete;

    [[nodiscard]] bool Valid() const { return fluidSettings != nullptr; }

    // Loads the SoundFont at `path` into a synthesiser of its own, `loadedSynth`, which lends it to
    // each render's fresh one while the render runs; a SoundFont loaded before is dropped first, so
    // two sets of samples are never held at once (a render in progress keeps its own). Asking
    // again for the path already loaded keeps what is loaded, once the file is still there.
    // Anything but a regular file (a pipe, a device) is refused before FluidSynth opens it, since
    // its loader would wait on a pipe for ever. On failure nothing stays loaded; the failure
    // (SoundFont) names the file and says why.
    [[nodiscard]] Failure LoadSoundFont(const std::string& path);
    // Drops the SoundFont kept for renders that are not coming: its samples are most of the
    // program's memory. The next render loads it again from its path.
    void ReleaseSoundFont() { loadedSynth.reset(); }

    // Begins rendering into a new file of the renderer's own in `folder`, a private folder of the
    // user's; it is locked while in use and removed when the renderer drops it. Any earlier
    // render is dropped, and the render takes the synthesiser LoadSoundFont left, or loads the
    // SoundFont into a fresh one. A SoundFont that cannot be loaded again leaves the file of the
    // previous render where it was. On failure nothing is left running.
    [[nodiscard]] Failure StartRender(const RenderRequest& request, const std::string& folder);
    // The same into a file the caller has created (a temporary file beside the command line's
    // output); the renderer keeps it in `renderFile` for the caller to commit.
    [[nodiscard]] Failure StartRender(const RenderRequest& request, std::unique_ptr<RenderFile> file);

    // A render only to be played (StartStreamRender): no file is written, and no loudness
    // measured. The frames go into the stream in `folder` (a private folder of the user's) and
    // play at the gain of `gainOf`, the whole song's render: a passage rendered again slower or
    // with parts silent plays as loud as the song.
    [[nodiscard]] Failure StartStreamRender(const RenderRequest& request, const std::string& folder,
                                            std::shared_ptr<const RenderStream> gainOf);

    // One slice, once per frame while rendering: renders blocks until the progress has risen more
    // than 1.6 points past what was last shown, then returns the new value to show; a slice also
    // ends after a bounded number of blocks, so that a frame never waits long. When the player has
    // stopped or the song's length and tail are reached, the synthesiser goes and the SoundFont is
    // kept for the next render; the normalised render then writes its second pass in slices of a few
    // milliseconds each (the synthesis takes the progress to 90 %, the second pass the rest).
    // Playback streams the completed file. A render that cannot be written, that FluidSynth played
    // nothing of, or that is silence for a song with notes fails. Once the render is over, every
    // further call returns how it ended.
    [[nodiscard]] RenderStatus RenderStep();

    // The normalised render's frames as they are rendered, for playing while the render runs on;
    // null for a raw render and once the render is over (the player keeps its own share of it).
    [[nodiscard]] std::shared_ptr<RenderStream> Stream() const { return stream_; }

    // The file being or last rendered into, or "" when there is none.
    [[nodiscard]] std::string OutputPath() const { return renderFile ? renderFile->path() : std::string(); }

    bool rendering = false;  // an offline render is in progress
    float progress = 0;      // last computed progress, percent
    std::unique_ptr<fluid_settings_t, fluid_detail::DeleteSettings> fluidSettings;  // for the program's life
    std::unique_ptr<fluid_synth_t, fluid_detail::DeleteSynth> fluidSynth;           // during a render only
    std::unique_ptr<fluid_synth_t, fluid_detail::DeleteSynth> loadedSynth;          // keeps the SoundFont
    std::string loadedPath;  // the SoundFont `loadedSynth` holds
    std::unique_ptr<fluid_player_t, fluid_detail::DeletePlayer> fluidPlayer;  // during a render only
    std::unique_ptr<RenderFile> renderFile;  // the file being or last rendered into; kept open and locked
    float shownProgress = 0;                 // progress last returned for showing, percent

    // Past the song's last note, what sounds on (releases, reverb) is rendered for at most this
    // long; FluidSynth's player ends its own renders about two seconds after the last voice.
    static constexpr double kReleaseTailSeconds = 10.0;
    // The loudness a limited render may miss the target by before its second pass is written
    // again with a gain that makes up what the limiter took.
    static constexpr double kLimiterAllowanceLu = 0.5;
    // The voices sounding at once when no limit is set. Through the player, FluidSynth's own
    // default, so that a raw render stays its command's. Through the own sequencer, a dense song
    // keeps every voice busy, so the synthesis costs what the limit allows: at 256 a song of
    // 30,000 notes a second renders in about 0.4 of its length on one core (twice the voices take
    // 0.6, and over its length while the window draws on the other), and the voices dropped are
    // the quietest, the ones least heard under so many. Starting notes costs what the limit
    // allows too: a denser song starts only the notes the voices have time to sound
    // (synth/note_budget.h), so one of 111,000 notes a second renders in about 0.4 of its length.
    static constexpr int kPlayerVoices = 256;
    static constexpr int kOwnSequencerVoices = 256;
    // Past a few threads the synthesiser's hand-over at every block costs more than the voices
    // each thread is left to mix.
    static constexpr int kMostSynthesisThreads = 4;

    // How the last normalised render was brought to the target: the gain applied, whether the
    // limiter held its peaks, and where it ended, in frames. For the tests and the curious.
    NormalisePlan plan;
    int64_t endFrame = 0;

  private:
    enum class Pass {
        Synthesis,  // rendering from FluidSynth (into the file or, normalised, the scratch file)
        Write,      // normalised: the scratch file into the render file
    };

    int totalTicks_ = 0;       // the song's length in ticks, once the player has read the file
    int64_t frames_ = 0;       // frames rendered so far
    int64_t songFrames_ = 0;   // the song's length as read, in frames; 0 when unknown
    int64_t limitFrames_ = 0;  // the render ends here at the latest
    bool songHasNotes_ = false;
    bool heardSound_ = false;  // a sample louder than silence has been rendered
    uint32_t sampleRate_ = kSampleRate;
    std::unique_ptr<uint8_t[]> pending_;  // samples waiting to be written
    size_t pendingBytes_ = 0;
    bool writeFailed_ = false;
    std::string writeError_;
    RenderStatus ended_;  // how the last render ended, or why the last start failed

    // The normalised render.
    bool raw_ = false;
    bool streamOnly_ = false;  // StartStreamRender's: frames for playing, no file
    std::shared_ptr<const RenderStream> gainOf_;
    Pass pass_ = Pass::Synthesis;
    std::shared_ptr<RenderStream> stream_;  // the song as floats, between the passes and for playback
    std::unique_ptr<ScratchWriter> writer_;
    float* chunk_ = nullptr;  // the writer's buffer being filled, or null
    size_t chunkFrames_ = 0;
    LoudnessMeter meter_;
    std::unique_ptr<SoundEndTracker> tail_;  // made at the song's last release
    int64_t releaseFrame_ = -1;              // where the song's last note is released, once known
    bool notesReleased_ = false;             // the player is done and every note has been let go
    float blockPeak_ = 0;                    // the loudest sample of the last block
    std::unique_ptr<PeakLimiter> limiter_;
    double energyIn_ = 0;                  // of the samples the limiter took in, this pass
    double energyOut_ = 0;                 // of those it let out
    int writes_ = 0;                       // second passes begun for this render
    int64_t readFrame_ = 0;                // the next scratch frame the second pass reads
    int64_t outFrames_ = 0;                // frames written into the render file by the second pass
    std::vector<float> passIn_, passOut_;  // the second pass's chunk, as read and as limited

    // Between the player (or the own sequencer) and the synthesiser while parts are muted; it
    // reads frames_.
    std::unique_ptr<NoteMuter> muter_;
    // The song too big for the player, played by the program's own sequencer; null otherwise.
    std::unique_ptr<SequencerFeed> feed_;
    std::shared_ptr<const std::vector<uint8_t>> midi_;  // the bytes feed_ reads
    // Where feed_ is to start: it is opened by the render's first step, on the thread that renders,
    // since opening walks the whole file and would otherwise hold up whoever starts the render.
    SequencerFeed::Timing feedTiming_;
    bool feedOpened_ = false;
    std::unique_ptr<ClickTrack> clicks_;  // the metronome's, mixed into each float block
    // The speed, the muted parts, the transposition and the clicks of `request`, on the player
    // just made.
    [[nodiscard]] Failure SetUpPractice(const RenderRequest& request);
    // The voice limit and the order voices give way in, on the settings the render's synthesiser
    // is made from.
    void SetUpVoices(const RenderRequest& request, bool ownSequencer);

    void ReleaseRender();
    bool LendSoundFont();
    void PutSynthBy();
    // The part of StartRender after its file is there (or, streamOnly_, without one).
    [[nodiscard]] Failure BeginRender(const RenderRequest& request, const std::string& scratchFolder);
    bool SeekPlayer(int64_t tick);
    bool RenderBlock();
    bool RenderFloatBlock();
    bool FlushChunk();
    bool Flush();
    bool Finish(int64_t frames);
    RenderStatus FinishSynthesis(bool playing);
    RenderStatus StepSecondPass();
    bool SecondPassChunk(std::vector<float>& in, std::vector<float>& out);
    bool BeginSecondPass();
    RenderStatus WriteFailure();
    Failure Refuse(Failure failure);
    RenderStatus End(Failure failure);
};
