// The transport: where the song is heard and whether it runs. One named state machine over the
// streaming player and what it plays (the song's render as far as it has got, or a WAV file), the
// practice render that replaces the song's while its speed or parts differ, the count-in clock and
// the volume. The window's controller and `dorvik-midi play` drive it through the operations
// below; nothing else moves the player, the reader or the seek offset.
//
// Sections of this header:
//   TransportState     the states and the steps between them
//   Set-up             the player, the sound to play, the song's length
//   Operations         play, pause, stop, back to the start, seek, loop, the player's hold
//   Once per frame     the count-in, the hold behind the render, the song time, the end of the song
//   Practice           the render at another speed or without some parts
//   Volume             what the window hears, and only that
//   Queries            state, place and length, for the panels and the command line
//
// Who owns what: the transport owns the player, the WAV reader, the stream playback, the song's
// stream and tempo map, the practice synthesiser and its render. The session (SessionState) owns
// the song and the practice choice, which the transport reads, and the refresh bits it sets when
// the place jumps. The song's own render is the loading flow's (the controller's); the transport
// is handed its stream.
//
// Adding to it: something that follows the song's place (a metronome, MIDI out, a score's cursor)
// reads Frame() or HeardSongTime() once per frame after Update, and knows the place jumped (to
// JumpedTo()) when Jumps() has changed since it last looked (the notes view hears of it through
// the session's RefreshNotesView bit, which is its own to clear); something that changes what is
// heard (a transposition, another practice choice) is a new render request in ApplyPractice; a
// new state is a new TransportState with its row in tests/app/transport_test.cpp.
//
// Threads: every member runs on the caller's thread (the window's frame loop) except the two fill
// callbacks, which the player's refill timer calls. They read the reader or the stream playback
// and the volume word. Whatever moves or replaces what they read stops the player first (MoveTo,
// the Prepare calls), and stopping kills the timer and waits for a refill in progress, so the
// refill never reads a reader or a playback that is being moved. The volume is an atomic word the
// refill takes as it is.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/song_session.h"
#include "core/frame_timer.h"

struct SessionState;
struct WavReader;
class StreamingPlayer;
class StreamPlayback;
struct PlaybackLoop;
class RenderStream;
class BackgroundRender;
class SynthRenderer;
class TempoMap;
namespace platform {
class SoundOutput;
}

//   Idle, Stopped, or at the song's or the loop's start --Play--> CountingIn
//   CountingIn --(one bar of clicks)--> Playing / WaitingForRender
//   Paused, or placed away from the start --Play--> Playing / WaitingForRender
//   Playing along, Playing --the loop comes round--> CountingIn, at the loop's start
//   Playing --the render falls behind--> WaitingForRender --the render is ahead again--> Playing
//   Playing --HoldForPlayer--> HeldForPlayer --ReleaseForPlayer--> Playing / WaitingForRender
//   any --Pause--> Paused (with a player)    any --Stop--> Stopped
//   Idle, CountingIn, Stopped --SeekTo--> Paused    the others keep running or paused at the new place
enum class TransportState : uint8_t {
    Idle,              // nothing has been played since the program started
    CountingIn,        // a bar of clicks before the song sounds; the song time runs up to the start
    Playing,           // the sound runs
    WaitingForRender,  // playing, but held where it is until the render is far enough ahead
    HeldForPlayer,     // playing along: held just before a note until the player's keys are down
    Paused,            // stopped in place
    Stopped,           // stopped and back at the start; the song time reads -1
};

// The panels' coarser view: the count-in and both holds are playing.
[[nodiscard]] PlayState PlayStateOf(TransportState state);

class Transport {
  public:
    explicit Transport(SessionState& session);
    ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // ---- Set-up
    // Makes the streaming player on `output`, refilled every `refillPeriod`; a period of 0 leaves
    // the refills to whoever calls the player's OnTimer (tests).
    void CreatePlayer(platform::SoundOutput& output,
                      std::chrono::milliseconds refillPeriod = std::chrono::milliseconds(300));
    // The private cache folder practice renders go into; "" for none.
    void SetRenderFolder(std::string folder) { renderFolder_ = std::move(folder); }
    [[nodiscard]] const std::string& RenderFolder() const { return renderFolder_; }
    // The song's tempo map, which places a practice render by time.
    void SetSongTempo(std::unique_ptr<TempoMap> tempo);
    // Opens a new reader on the session's rendered WAV, takes its frame count and sets the player
    // up for its format; the state stays (a hold ends). Returns whether the player is ready. A file
    // that is missing or holds no sample frames leaves nothing playable: no frames, no ring.
    bool PreparePlayback();
    // Sets the player up to play `stream`, the render just started, from its start; the song's
    // length stays the one read until the render completes. Returns whether the player is ready.
    bool PrepareStreamPlayback(std::shared_ptr<RenderStream> stream);
    // The render has completed: the song's length becomes where its sound ends.
    void TakeRenderedLength(int64_t endFrame);
    // The song is gone (its render came to nothing): stopped, and nothing left to play.
    void DropSong();
    // Everything made is let go, renders first (their threads are joined), then the player.
    void Release();

    // ---- Operations
    // The play button: a paused song, or one placed away from its start, plays on at once;
    // from the song's or the loop's start, a bar's count-in comes first.
    void Play();
    // The sound runs from the place now, or waits there for the render.
    void Start();
    void Pause();   // with a player only
    void Stop();    // and back to the start
    void Rewind();  // back to the start, running on if running; with a player only
    // To `frame`, running on if running; paused stays paused. A song that is stopped, counting in
    // or not yet started waits, paused, at the new place, so that play starts there.
    void SeekTo(uint32_t frame);
    // By `seconds` from the place now (negative: back), kept inside the song.
    void SeekBy(double seconds);
    // Plays `loop` over and over from now on (an inactive one ends the loop), taking effect where
    // the song is heard now; only a song played from its render loops.
    void SetLoop(const PlaybackLoop& loop);
    // The loop the song's memory keeps, taken as its playback is prepared: it plays from the next
    // seek on, and the place stays where it is.
    void TakeLoop(const PlaybackLoop& loop);
    // The L key: marks where a loop starts, then where it ends (the loop plays at once), then ends it.
    // The marks go to the nearest bar line unless `exact` (Shift).
    void MarkLoop(bool exact = false);
    // Where Home and a play from the start go: the loop's start while one is set, else the song's.
    [[nodiscard]] uint32_t StartFrame() const;
    // Playing along: the song stands at `frame`, just before a note of the player's, until
    // ReleaseForPlayer. Only a running song is held.
    void HoldForPlayer(uint32_t frame);
    void ReleaseForPlayer();

    // ---- Once per frame
    // At the start of a frame: a count-in that is over starts the sound.
    void StepCountIn();
    // How long the count-in lasts (or would, from the place now), in seconds: one bar of the
    // meter in force there, at its tempo and the practice speed; a second without a tempo map.
    [[nodiscard]] double CountInSeconds() const { return countInSeconds_; }
    // The clicks of the count-in, interleaved 16-bit stereo at the player's rate (empty when the
    // sound played is not that).
    [[nodiscard]] const std::vector<int16_t>& CountInSound() const { return countInSound_; }
    // Before the panels draw: holds a song that has caught up with its render (and lets it go on
    // once the render is ahead), takes the song time and stops the song a second after its end.
    void Update();

    // ---- Practice
    // Plays on with the session's practice choice from where the song is heard now (or from the
    // song frame `at`), within a moment: from the song's own render when practice is plain, else
    // from a render of the song from there at its speed and with its parts silent. The choice is
    // kept in the song's memory with the loop.
    void ApplyPractice(int64_t at = -1);
    // Whether a seek to `frame` lies outside what the practice render being played can reach soon.
    [[nodiscard]] bool PracticeRenderNeeded(int64_t frame) const;
    // Reports a practice render that failed, once per frame; the song plays on as written.
    void PollPracticeRender();
    void StopPracticeRender();
    // Writes the song's memory: the practice choice and the loop.
    void RememberSong() const;

    // ---- Volume
    // A percent, rounded and clamped to 0..100 (NaN is ignored): the session's volume and, through
    // the volume's curve, the gain the refill applies. It writes nothing.
    void SetVolume(float percent);
    // To the next multiple of the volume step up (`steps` > 0) or down, as the + and - keys do.
    void StepVolume(int steps);
    // Writes the session's volume to the settings file, leaving the other settings as they are.
    void SaveVolume() const;
    [[nodiscard]] float Gain() const { return gain_.load(std::memory_order_relaxed); }
    // While the song sounds on a MIDI instrument the window's own sound is silent, the volume kept
    // as it was; the render goes on all the same, for the waveform and the exports.
    void SetSilent(bool silent) { silent_.store(silent, std::memory_order_relaxed); }
    [[nodiscard]] bool Silent() const { return silent_.load(std::memory_order_relaxed); }

    // ---- Queries
    [[nodiscard]] TransportState State() const { return state_; }
    [[nodiscard]] PlayState Coarse() const { return PlayStateOf(state_); }
    [[nodiscard]] bool CountingIn() const { return state_ == TransportState::CountingIn; }
    [[nodiscard]] bool WaitingForRender() const { return state_ == TransportState::WaitingForRender; }
    // The sound runs: playing and held by nothing.
    [[nodiscard]] bool Sounding() const { return state_ == TransportState::Playing; }
    // The frame the player stands at: 0 while stopped or not yet started.
    [[nodiscard]] uint32_t Frame() const;
    // The song's tempo map, once its playback is prepared; null before.
    [[nodiscard]] const TempoMap* Tempo() const { return songTempo_.get(); }
    // The song time the player's position stands for, in seconds; -1 while nothing is playable.
    [[nodiscard]] double HeardSongTime() const;
    // The song time the last Update took (the count-in's too); -1 when stopped or before any play.
    [[nodiscard]] double SongTime() const { return songTime_; }
    // Sample frames of the song's sound (as expected, while it renders); 0 when nothing plays.
    [[nodiscard]] int32_t TotalFrames() const { return totalFrames_; }
    // How many times the place has jumped (a seek, a stop, a hold, a loop's start): whoever follows
    // the place compares it with the count it saw last.
    [[nodiscard]] uint32_t Jumps() const { return jumps_; }
    // The song frame the place last jumped to: where whoever follows the place starts again from
    // (by the time it looks, the sound may have run on from there).
    [[nodiscard]] uint32_t JumpedTo() const { return seekOffset_; }
    // The frame at which the player last started from silence.
    [[nodiscard]] uint32_t SeekOffset() const { return seekOffset_; }
    // What is played from: the render (with the loop and the practice timeline), or the WAV file.
    [[nodiscard]] const StreamPlayback* Playback() const { return streamPlayback_.get(); }
    [[nodiscard]] const WavReader* Wav() const { return wavReader_.get(); }
    [[nodiscard]] const RenderStream* SongStream() const { return songStream_.get(); }
    [[nodiscard]] StreamingPlayer* Player() const { return player_.get(); }
    [[nodiscard]] BackgroundRender* PracticeRender() const { return practiceRender_.get(); }
    // The count-in's clock, which also keeps the time of the last mouse activity in full view.
    [[nodiscard]] FrameTimer& Clock() { return clock_; }

    // The player's fill callbacks: the next frames from the WAV reader or the render, scaled by
    // the volume. `context` is the transport.
    static int FillFromWave(uint8_t* destination, uint32_t framesWanted, uint32_t* framesRead, void* context);
    static int FillFromStream(uint8_t* destination, uint32_t framesWanted, uint32_t* framesRead,
                              void* context);

  private:
    // Stops the player (waiting for a refill in progress), moves what it plays from to `frame`
    // and has the notes view forget its lit keys. Every jump of the place goes through here.
    void MoveTo(uint32_t frame);
    // Counts in a bar before `frame`: the place moves there and the player sounds the clicks.
    void BeginCountIn(uint32_t frame);
    // The player reads the song again rather than the count-in's clicks.
    void RestoreFill();
    // The count-in's clicks, for the player while counting in.
    static int FillFromCountIn(uint8_t* destination, uint32_t framesWanted, uint32_t* framesRead,
                               void* context);
    // What the refill scales the sound by: the volume's gain, or nothing while silent.
    [[nodiscard]] float HeardGain() const { return Silent() ? 0.0f : Gain(); }
    // The render is not far enough ahead of `frame` to start there.
    [[nodiscard]] bool BehindRender(uint32_t frame, int64_t lead) const;

    SessionState& session_;
    TransportState state_ = TransportState::Idle;
    FrameTimer clock_;
    std::unique_ptr<StreamingPlayer> player_;
    std::unique_ptr<WavReader> wavReader_;            // made when a WAV file's playback is prepared
    std::unique_ptr<StreamPlayback> streamPlayback_;  // playback of a render as far as it has got
    std::shared_ptr<RenderStream> songStream_;        // the song's own render, as written
    std::unique_ptr<TempoMap> songTempo_;
    std::unique_ptr<SynthRenderer> practiceSynth_;
    std::unique_ptr<BackgroundRender> practiceRender_;
    std::string renderFolder_;
    std::atomic<float> gain_{1.0f};    // read by the refill's thread
    std::atomic<bool> silent_{false};  // likewise
    int32_t totalFrames_ = 0;
    uint32_t seekOffset_ = 0;
    uint32_t jumps_ = 0;
    double songTime_ = -1.0;
    // The count-in: its length, its clicks and how far the refill has read them (the refill's
    // thread reads them only while the player runs them; they change only once it has stopped).
    double countInSeconds_ = 1.0;
    std::vector<int16_t> countInSound_;
    size_t countInRead_ = 0;
    bool countInFill_ = false;  // the player reads the clicks
    int64_t lastHeard_ = -1;    // the frame heard at the last Update, for a loop's wrap
};
