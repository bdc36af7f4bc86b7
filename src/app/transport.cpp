// The transport's steps, the fill callbacks through which the player reads the sound, practice
// and the volume.
//
// A song plays from its render while the render runs on ahead on its own thread. Should playback
// catch up with the render, or be sent ahead of it, it waits where it is (the notes stand still
// too) until the render is far enough ahead again; the render is many times faster than the song,
// so the wait is short.
//
// Practice: the song's own render is made once, as written. A practice choice other than that is
// played from a render of its own, started from the place the song is heard at: FluidSynth's
// player is sent there (with every controller and program change before it), plays at the tempo
// times the speed, and leaves the muted parts' notes unplayed. That render needs only a few
// seconds ahead of the place before the song can play on, and it is many times faster than the
// song, so a change is heard a fraction of a second after it is made. It plays at the song's own
// loudness (the song's render's gain), so a muted hand leaves the other as loud as it was.
//
// The song's place is always counted in the song's own frames (at its written speed): the clock,
// the time bar, the loop and the notes stay where they are whatever the speed, and only the
// stream being played maps them onto its frames.
#include "app/transport.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>

#include "app/session_state.h"
#include "audio/streaming_player.h"
#include "audio/volume.h"
#include "audio/wav_reader.h"
#include "core/sample_rate.h"
#include "midi/loop_bars.h"
#include "midi/note_timeline.h"
#include "midi/song_beats.h"
#include "settings/settings.h"
#include "settings/song_memory.h"
#include "synth/background_render.h"
#include "synth/metronome.h"
#include "synth/render_stream.h"
#include "synth/stream_playback.h"
#include "synth/synth_renderer.h"

namespace {

// Rendered songs run at this rate; the song's length in seconds is taken from it, not from the file.
constexpr double kRenderRate = kSampleRate;

// The player hands the sound device up to two seconds ahead of what is heard (its ring). Playback
// runs while the render is at least kHoldLead ahead of what is heard, so nothing it hands over is
// ever short of the render; held, it goes on once the render is kGoLead ahead.
constexpr int64_t kHoldLead = static_cast<int64_t>(2.5 * kRenderRate);
constexpr int64_t kGoLead = static_cast<int64_t>(3.5 * kRenderRate);

// Without a tempo map (a WAV file) there is no bar to count: a silent second stands in for it.
constexpr double kCountInSeconds = 1.0;
// The song stops by itself this long after its last sound.
constexpr double kEndOfSongGrace = 1.0;

// A render for practice starts this far (in the song) before the place it is for: notes struck
// just before the place ring on into it, as they would have.
constexpr double kPreRollSeconds = 2.0;
// A seek further than this past what the practice render has reached starts a new one there
// rather than waiting for it.
constexpr double kFarAheadSeconds = 8.0;

// The keys' volume step: twenty presses from silence to full, fine enough near the loud end,
// where the curve is flat.
constexpr int kVolumeStep = 5;

int PartCount(const SongData* song) {
    return song == nullptr ? 0 : song->PartsInUse();
}

// The sound runs, or is about to: the count-in and both holds count.
bool Running(TransportState state) {
    return PlayStateOf(state) == PlayState::Playing;
}

}  // namespace

PlayState PlayStateOf(TransportState state) {
    switch (state) {
        case TransportState::Idle:
            return PlayState::Idle;
        case TransportState::CountingIn:
        case TransportState::Playing:
        case TransportState::WaitingForRender:
        case TransportState::HeldForPlayer:
            return PlayState::Playing;
        case TransportState::Paused:
            return PlayState::Paused;
        case TransportState::Stopped:
            return PlayState::Stopped;
    }
    return PlayState::Idle;
}

Transport::Transport(SessionState& session) : session_(session) {
    clock_.Init();
}

Transport::~Transport() {
    Release();
}

void Transport::Release() {
    // The renders' threads are joined first; then the player, whose refill reads the reader.
    practiceRender_.reset();
    player_.reset();
    wavReader_.reset();
    streamPlayback_.reset();
    songStream_.reset();
    practiceSynth_.reset();
}

void Transport::CreatePlayer(platform::SoundOutput& output, std::chrono::milliseconds refillPeriod) {
    player_ = std::make_unique<StreamingPlayer>(output, refillPeriod);
}

void Transport::SetSongTempo(std::unique_ptr<TempoMap> tempo) {
    songTempo_ = std::move(tempo);
}

bool Transport::PreparePlayback() {
    StreamingPlayer* player = player_.get();
    // The old ring's refill may still be reading the old reader: it goes before the reader does.
    if (player != nullptr) player->Release();
    countInFill_ = false;
    streamPlayback_.reset();
    if (Running(state_) && state_ != TransportState::CountingIn) state_ = TransportState::Playing;
    wavReader_ = std::make_unique<WavReader>();
    wavReader_->Open(session_.outputWavPath);
    totalFrames_ = 0;
    seekOffset_ = 0;

    const WaveFormatRecord* format = wavReader_->format.get();
    if (format == nullptr || format->header.blockAlign == 0 ||
        wavReader_->dataSize < format->header.blockAlign) {
        // Missing, unreadable or empty: nothing becomes playable, so the song time never has to be
        // derived from a frame count of 0.
        return false;
    }
    const uint32_t frames = wavReader_->dataSize / format->header.blockAlign;
    totalFrames_ = frames > uint32_t(INT32_MAX) ? INT32_MAX : int32_t(frames);

    // The end of the audio is the end of the song: a render that rings on past the last note
    // lengthens the song to the audio's length.
    const double seconds = totalFrames_ / kRenderRate;
    if (session_.song && seconds > session_.song->duration) session_.song->duration = seconds;

    if (player == nullptr) return false;
    player->Create(format->header);
    player->SetFillCallback(&Transport::FillFromWave, this);
    return player->Prepared();
}

bool Transport::PrepareStreamPlayback(std::shared_ptr<RenderStream> stream) {
    StreamingPlayer* player = player_.get();
    if (player != nullptr) player->Release();
    countInFill_ = false;
    wavReader_.reset();
    streamPlayback_.reset();
    if (Running(state_) && state_ != TransportState::CountingIn) state_ = TransportState::Playing;
    seekOffset_ = 0;
    totalFrames_ = 0;
    if (!stream) return false;
    songStream_ = stream;
    const double seconds = session_.song ? session_.song->duration : 0.0;
    totalFrames_ = static_cast<int32_t>(std::clamp(seconds * kRenderRate, 1.0, double(INT32_MAX)));
    streamPlayback_ = std::make_unique<StreamPlayback>(std::move(stream));
    if (player == nullptr) return false;
    WavFormat format{};
    format.formatTag = 1;
    format.channels = RenderStream::kChannels;
    format.samplesPerSec = streamPlayback_->Stream().SampleRate();
    format.bitsPerSample = 16;
    format.blockAlign = RenderStream::kChannels * 2;
    format.avgBytesPerSec = format.samplesPerSec * format.blockAlign;
    player->Create(format);
    player->SetFillCallback(&Transport::FillFromStream, this);
    return player->Prepared();
}

void Transport::TakeRenderedLength(int64_t endFrame) {
    if (endFrame <= 0) return;
    totalFrames_ = static_cast<int32_t>(std::min<int64_t>(endFrame, INT32_MAX));
    // One length for the clock, the time bar and the end of playback: where the sound ends. It may
    // be shorter than the file's own (silence after the last note) or longer (a release, a reverb).
    if (session_.song) session_.song->duration = static_cast<double>(totalFrames_) / kRenderRate;
}

void Transport::DropSong() {
    // Nothing plays from a render that came to nothing.
    StopPracticeRender();
    if (streamPlayback_) {
        Stop();
        if (player_) player_->Release();
        streamPlayback_.reset();
        totalFrames_ = 0;
    }
    songStream_.reset();
}

void Transport::MoveTo(uint32_t frame) {
    if (player_) player_->Stop();
    RestoreFill();
    lastHeard_ = frame;
    if (wavReader_) wavReader_->SeekFrame(frame);
    if (streamPlayback_) streamPlayback_->Seek(frame);
    seekOffset_ = frame;
    ++jumps_;
    // The next frame clears the keyboard's lit keys before it moves the notes on: that comes
    // before any key of the new place is lit.
    session_.refreshBits |= RefreshNotesView;
}

bool Transport::BehindRender(uint32_t frame, int64_t lead) const {
    if (!streamPlayback_) return false;
    const RenderStream& stream = streamPlayback_->Stream();
    // The leads are in the frames of the stream being played: so many seconds of sound ahead.
    return !stream.Over() && stream.ReadyFrames() < streamPlayback_->Timeline().StreamFrame(frame) + lead;
}

void Transport::Play() {
    // While a loop is set, a song played from outside it (its start, as when it is opened with
    // the loop kept from the last time) plays the loop: the passage is what is being practised.
    const PlaybackLoop loop = streamPlayback_ ? streamPlayback_->Loop() : PlaybackLoop{};
    if (loop.Active() && (Frame() < loop.start || Frame() >= loop.end)) {
        SeekTo(StartFrame());
        BeginCountIn(StartFrame());
        return;
    }
    // A running song plays on; a paused one, or one set to a place while stopped, goes on from
    // there at once; from the song's or the loop's start a bar is counted in first, so that the
    // player comes in on the beat.
    if ((Running(state_) && state_ != TransportState::CountingIn) || Frame() != StartFrame()) {
        Start();
        return;
    }
    BeginCountIn(StartFrame());
}

void Transport::BeginCountIn(uint32_t frame) {
    MoveTo(frame);
    const double speed = session_.practice.choice.Speed();
    std::vector<double> beats;
    if (songTempo_) beats = CountInBeats(*songTempo_, static_cast<double>(frame) / kRenderRate, speed);
    countInSeconds_ = beats.empty() ? kCountInSeconds : -beats.front();
    countInSound_.clear();
    countInRead_ = 0;
    // The clicks are played through the song's own player, which plays the song once the bar is
    // over: both go through the same device, so the song's first beat lands a beat after the
    // last click whatever the device's latency. Only a render's 16-bit stereo gets them.
    if (player_ && streamPlayback_ && !beats.empty()) {
        const uint32_t rate = streamPlayback_->Stream().SampleRate();
        std::vector<Beat> clicks;
        for (size_t i = 0; i < beats.size(); ++i) clicks.push_back({beats[i] + countInSeconds_, i == 0});
        ClickTrack track(clicks, 0.0, 1.0, rate, kDefaultClickVolume);
        const auto frames = static_cast<int64_t>(std::ceil(countInSeconds_ * rate));
        std::vector<float> mix(static_cast<size_t>(frames) * 2, 0.0f);
        track.Mix(mix.data(), frames, 0);
        countInSound_.resize(mix.size());
        std::transform(mix.begin(), mix.end(), countInSound_.begin(), [](float v) {
            return static_cast<int16_t>(std::clamp(std::lround(v * 32767.0f), -32768L, 32767L));
        });
        player_->SetFillCallback(&Transport::FillFromCountIn, this);
        countInFill_ = true;
        player_->Play();
    }
    clock_.Tick();
    state_ = TransportState::CountingIn;
    songTime_ = static_cast<double>(frame) / kRenderRate - countInSeconds_ * speed;
}

void Transport::RestoreFill() {
    if (!countInFill_ || !player_) return;
    // The refill reads the clicks until the player has stopped.
    player_->Stop();
    player_->SetFillCallback(streamPlayback_ ? &Transport::FillFromStream : &Transport::FillFromWave, this);
    countInFill_ = false;
}

void Transport::Start() {
    state_ = TransportState::Playing;
    if (!player_) return;
    if (BehindRender(Frame(), kGoLead)) {
        state_ = TransportState::WaitingForRender;
        return;
    }
    player_->Play();
}

void Transport::Pause() {
    if (!player_) return;
    // The count-in's clicks go, and the song waits at the place it was to start from.
    if (state_ == TransportState::CountingIn) MoveTo(seekOffset_);
    session_.refreshBits |= RefreshNotesView;
    player_->Pause();
    state_ = TransportState::Paused;
}

void Transport::Stop() {
    if (player_) {
        MoveTo(0);
        if (wavReader_) wavReader_->RewindData();
    }
    state_ = TransportState::Stopped;
}

void Transport::Rewind() {
    if (!player_) return;
    MoveTo(0);
    if (Running(state_)) Start();
}

void Transport::SeekTo(uint32_t frame) {
    if (totalFrames_ <= 0) return;
    frame = std::min(frame, static_cast<uint32_t>(totalFrames_ - 1));
    // Nothing sounds yet during the count-in: the seek ends it, and the song waits at the new
    // place. A hold, for the render or the player, is for a place the song has left.
    switch (state_) {
        case TransportState::Idle:
        case TransportState::CountingIn:
        case TransportState::Stopped:
            state_ = TransportState::Paused;
            break;
        case TransportState::WaitingForRender:
        case TransportState::HeldForPlayer:
            state_ = TransportState::Playing;
            break;
        default:
            break;
    }
    MoveTo(frame);
    // Practice plays from a render of its own, made from a place on: a seek before it, or far
    // past where it has got, starts a new one from there.
    if (PracticeRenderNeeded(frame)) {
        ApplyPractice(frame);
        return;
    }
    // A paused song stays paused at the new place; the next play primes the ring from there (or
    // waits there for the render).
    if (state_ == TransportState::Playing && player_) Start();
}

void Transport::SeekBy(double seconds) {
    if (totalFrames_ <= 0) return;
    const double target = static_cast<double>(Frame()) + seconds * kRenderRate;
    SeekTo(static_cast<uint32_t>(std::clamp(target, 0.0, static_cast<double>(totalFrames_ - 1))));
}

void Transport::SetLoop(const PlaybackLoop& wanted) {
    if (!streamPlayback_) return;
    PlaybackLoop loop = wanted;
    if (loop.Active() && totalFrames_ > 0) loop.end = std::min<int64_t>(loop.end, totalFrames_);
    if (!loop.Active()) loop = {};
    // The loop takes effect at once: the sound already handed to the device goes, and the player
    // starts again from the place (or stays paused there).
    uint32_t frame = Frame();
    // A loop set away from the place heard (or ending right there, as when its end is marked now)
    // starts playing from its start.
    if (loop.Active() && (frame < loop.start || frame >= loop.end)) frame = static_cast<uint32_t>(loop.start);
    // The refill reads the loop: it is changed only once the player has stopped.
    if (player_) player_->Stop();
    streamPlayback_->SetLoop(loop);
    // The passage is there again the next time the song is opened.
    RememberSong();
    MoveTo(frame);
    // A practice render made from a place after the loop's start has not got it: one is made
    // from the loop's start.
    if (loop.Active() && PracticeRenderNeeded(loop.start)) {
        ApplyPractice(frame);
        return;
    }
    if (Running(state_) && state_ != TransportState::CountingIn) Start();
}

void Transport::TakeLoop(const PlaybackLoop& loop) {
    if (!streamPlayback_) return;
    if (player_) player_->Stop();
    streamPlayback_->SetLoop(loop);
}

void Transport::MarkLoop(bool exact) {
    if (!streamPlayback_) return;
    const bool looping = streamPlayback_->Loop().Active();
    int64_t now = Frame();
    // A passage is practised by bars: the marks go to the nearest bar line, its end never onto its
    // start; held exact, or with no bar line to go to, they stay where the song is.
    if (session_.song && !looping) {
        const double seconds = static_cast<double>(now) / kRenderRate;
        const int64_t mark = session_.practice.loopMark;
        const double snapped =
            mark >= 0 && now > mark
                ? SnapLoopEnd(*session_.song, static_cast<double>(mark) / kRenderRate, seconds, exact)
                : SnapToBar(*session_.song, seconds, exact);
        if (snapped >= 0)
            now = std::clamp<int64_t>(std::llround(snapped * kRenderRate), 0, std::max(0, totalFrames_ - 1));
    }
    const std::optional<PlaybackLoop> loop = session_.practice.MarkLoop(now, looping);
    if (loop) SetLoop(*loop);
}

uint32_t Transport::StartFrame() const {
    if (!streamPlayback_ || !streamPlayback_->Loop().Active()) return 0;
    return static_cast<uint32_t>(std::max<int64_t>(0, streamPlayback_->Loop().start));
}

void Transport::HoldForPlayer(uint32_t frame) {
    if (state_ != TransportState::Playing || !streamPlayback_) return;
    // Held where the note is about to sound: the device's queued sound goes, and the song is
    // primed from just before the note when it goes on.
    MoveTo(frame);
    state_ = TransportState::HeldForPlayer;
}

void Transport::ReleaseForPlayer() {
    if (state_ == TransportState::HeldForPlayer) Start();
}

void Transport::StepCountIn() {
    // The clock counts in float seconds: a tenth of a millisecond short of the bar is the bar.
    constexpr double kClockGrain = 1e-4;
    if (state_ != TransportState::CountingIn || clock_.Peek() + kClockGrain < countInSeconds_) return;
    clock_.Tick();
    RestoreFill();
    Start();
}

void Transport::Update() {
    switch (state_) {
        case TransportState::Idle:
            return;
        case TransportState::CountingIn:
            // The notes fall towards the place the song starts from, at the speed it will play.
            songTime_ =
                static_cast<double>(seekOffset_) / kRenderRate +
                (static_cast<double>(clock_.Peek()) - countInSeconds_) * session_.practice.choice.Speed();
            return;
        case TransportState::Stopped:
            songTime_ = -1.0;
            return;
        case TransportState::WaitingForRender:
            if (player_ && !BehindRender(seekOffset_, kGoLead)) {
                state_ = TransportState::Playing;
                player_->Play();
            }
            break;
        case TransportState::Playing:
            if (player_ && streamPlayback_) {
                const uint32_t frame = Frame();
                // Playing along, each time round the loop is a pass of its own: the song goes back
                // to the loop's start and counts the player in again.
                const PlaybackLoop& loop = streamPlayback_->Loop();
                if (session_.playAlong.On() && loop.Active() && lastHeard_ >= loop.start &&
                    static_cast<int64_t>(frame) < lastHeard_) {
                    BeginCountIn(static_cast<uint32_t>(loop.start));
                    return;
                }
                lastHeard_ = frame;
                // Caught up: held where it is heard now, and primed from there once the render is ahead.
                if (BehindRender(frame, kHoldLead)) {
                    MoveTo(frame);
                    state_ = TransportState::WaitingForRender;
                }
            }
            break;
        default:
            break;
    }
    songTime_ = HeardSongTime();
    // A song still rendering has no end yet: the length read from its file is only a guess.
    const bool lengthKnown = !streamPlayback_ || streamPlayback_->Stream().Completed();
    if (session_.song && lengthKnown && songTime_ > session_.song->duration + kEndOfSongGrace) Stop();
}

uint32_t Transport::Frame() const {
    const PlayState play = PlayStateOf(state_);
    if (play != PlayState::Playing && play != PlayState::Paused) return 0;
    // The player may be sounding the count-in's clicks: the song stands where it will start.
    if (state_ == TransportState::CountingIn) return seekOffset_;
    const uint32_t played = player_ ? player_->GetPlayPosition() : 0;
    // Inside a loop the frames heard since the start come round again.
    if (streamPlayback_)
        return static_cast<uint32_t>(std::max<int64_t>(streamPlayback_->HeardAfter(played), 0));
    return played + seekOffset_;
}

double Transport::HeardSongTime() const {
    if (totalFrames_ <= 0 || !session_.song) return -1.0;
    if (state_ == TransportState::CountingIn) return songTime_;
    const uint32_t played = player_ ? player_->GetPlayPosition() : 0;
    // A song played from its render runs at the render's rate; its length follows the render.
    if (streamPlayback_) {
        const int64_t frame = streamPlayback_->HeardAfter(played);
        const bool held =
            state_ == TransportState::WaitingForRender || state_ == TransportState::HeldForPlayer;
        const double lead = held ? 0.0 : streamPlayback_->Timeline().speed / 30.0;
        return double(frame) / kRenderRate + lead;
    }
    return double(played + seekOffset_) * session_.song->duration / double(totalFrames_) + 1.0 / 30.0;
}

int Transport::FillFromWave(uint8_t* destination, uint32_t framesWanted, uint32_t* framesRead,
                            void* context) {
    auto* self = static_cast<Transport*>(context);
    *framesRead = 0;
    WavReader* reader = self->wavReader_.get();
    if (reader == nullptr || !reader->format || reader->format->header.blockAlign == 0) return 0;
    const uint32_t blockAlign = reader->format->header.blockAlign;
    const uint32_t got = reader->Read(destination, framesWanted * blockAlign);
    *framesRead = got / blockAlign;
    // The window's renders are 16-bit PCM, and only those are scaled; the file itself stays as rendered.
    const WavFormat& format = reader->format->header;
    if (format.formatTag == kWaveFormatPcm && format.bitsPerSample == 16) {
        ApplyVolumeGain16(destination, size_t{*framesRead} * blockAlign / 2, self->HeardGain());
    }
    return 0;
}

int Transport::FillFromCountIn(uint8_t* destination, uint32_t framesWanted, uint32_t* framesRead,
                               void* context) {
    auto* self = static_cast<Transport*>(context);
    const std::vector<int16_t>& sound = self->countInSound_;
    const size_t wanted = size_t{framesWanted} * 2;
    const size_t from = std::min(self->countInRead_, sound.size());
    const size_t n = std::min(wanted, sound.size() - from);
    auto* out = reinterpret_cast<int16_t*>(destination);
    std::copy_n(sound.data() + from, n, out);
    // Silence after the bar until the song takes over: the player keeps running, not ending.
    std::fill(out + n, out + wanted, int16_t{0});
    self->countInRead_ = from + n;
    // Silent with the song: the instrument clicks the bar itself.
    ApplyVolumeGain16(destination, n, self->HeardGain());
    *framesRead = framesWanted;
    return 0;
}

int Transport::FillFromStream(uint8_t* destination, uint32_t framesWanted, uint32_t* framesRead,
                              void* context) {
    auto* self = static_cast<Transport*>(context);
    *framesRead = 0;
    if (!self->streamPlayback_) return 0;
    // The staging block is the player's own allocation, aligned for any sample.
    *framesRead = static_cast<uint32_t>(self->streamPlayback_->Fill(reinterpret_cast<int16_t*>(destination),
                                                                    framesWanted, self->HeardGain()));
    return 0;
}

void Transport::StopPracticeRender() {
    if (practiceRender_) practiceRender_->Stop();
}

void Transport::ApplyPractice(int64_t at) {
    RememberSong();
    // Before the song's render has started there is nothing to play; the choice holds from then on.
    if (!streamPlayback_ || !songStream_) return;
    // A song held for the player stays held: the place does not change.
    const bool resume = state_ == TransportState::Playing || state_ == TransportState::WaitingForRender;
    // A count-in under way starts again, at the new speed's tempo, with the clicks the stop took.
    const bool countingIn = state_ == TransportState::CountingIn;
    // The place the render under way may be unable to show (before its first frame): it is given.
    const int64_t heard = at >= 0 ? at : static_cast<int64_t>(Frame());
    // The sound handed to the device goes (the refill waits for the one in progress), so that the
    // stream it reads can be replaced.
    if (player_) player_->Stop();
    StopPracticeRender();
    const PlaybackLoop loop = streamPlayback_->Loop();

    std::shared_ptr<RenderStream> stream = songStream_;
    StreamTimeline timeline;
    PracticeSession& practice = session_.practice;
    if (!practice.PlainSound()) {
        const double rate = songStream_->SampleRate();
        double from = static_cast<double>(heard) / rate;
        if (loop.Active()) from = std::min(from, static_cast<double>(loop.start) / rate);
        from = std::max(0.0, from - kPreRollSeconds);
        RenderRequest request{session_.midiBytes, session_.soundFontPath, session_.song.get()};
        request.lowPriority = true;
        request.speed = practice.choice.Speed();
        request.mutes = practice.choice.Mutes(PartCount(session_.song.get()));
        request.transpose = practice.transpose;
        if (practice.metronome && songTempo_)
            request.metronome = SongBeats(*songTempo_, session_.song->duration + kPreRollSeconds);
        if (songTempo_ && from > 0) {
            request.startTick = songTempo_->TickAtOrBefore(from);
            request.startSeconds = songTempo_->Seconds(request.startTick);
        }
        if (!practiceSynth_) practiceSynth_ = std::make_unique<SynthRenderer>();
        const Failure started = practiceSynth_->StartStreamRender(request, renderFolder_, songStream_);
        if (started.Ok()) {
            // The stream is taken before the render's thread starts: once it runs, the renderer is
            // the thread's, and a short render may be over (and have let its stream go) at once.
            stream = practiceSynth_->Stream();
            if (!practiceRender_) practiceRender_ = std::make_unique<BackgroundRender>();
            practiceRender_->Run(*practiceSynth_);
            timeline = {std::llround(request.startSeconds * rate), request.speed};
        } else {
            // The song plays on as written, and says why practice could not start.
            practice.choice = PracticeChoice{};
            practice.transpose = 0;
            practice.metronome = false;
            RememberSong();
            Report(session_, started);
        }
    }
    streamPlayback_ = std::make_unique<StreamPlayback>(std::move(stream), timeline);
    streamPlayback_->SetLoop(loop);
    MoveTo(static_cast<uint32_t>(std::max<int64_t>(heard, 0)));
    if (resume) Start();
    if (countingIn) BeginCountIn(static_cast<uint32_t>(std::max<int64_t>(heard, 0)));
}

bool Transport::PracticeRenderNeeded(int64_t frame) const {
    if (session_.practice.PlainSound() || !streamPlayback_ || !songStream_) return false;
    const StreamTimeline& timeline = streamPlayback_->Timeline();
    if (frame < timeline.origin) return true;
    const RenderStream& stream = streamPlayback_->Stream();
    const double far = kFarAheadSeconds * stream.SampleRate();
    return !stream.Over() && static_cast<double>(frame - streamPlayback_->ReadySongFrame()) > far;
}

void Transport::PollPracticeRender() {
    if (!practiceRender_ || !practiceRender_->Running()) return;
    const RenderStatus status = practiceRender_->Poll();
    if (status.outcome != RenderOutcome::Failed) return;
    // What was rendered still plays; the song then ends early, so the choice goes back to the
    // song as written, which plays from the place reached.
    session_.practice.choice = PracticeChoice{};
    ApplyPractice();
    Report(session_, status.failure);
}

void Transport::RememberSong() const {
    const PracticeSession& practice = session_.practice;
    if (practice.Key().empty()) return;
    const PlaybackLoop loop = streamPlayback_ ? streamPlayback_->Loop() : PlaybackLoop{};
    const double rate = streamPlayback_ ? streamPlayback_->Stream().SampleRate() : 0.0;
    (void)WriteSongMemory(practice.Key(), practice.Memory(loop, rate));
}

void Transport::SetVolume(float percent) {
    if (std::isnan(percent)) return;
    const int whole =
        static_cast<int>(std::lround(std::clamp(percent, 0.0f, static_cast<float>(kFullVolume))));
    session_.volumePercent = whole;
    gain_.store(VolumeGain(static_cast<float>(whole)), std::memory_order_relaxed);
}

void Transport::StepVolume(int steps) {
    if (steps == 0) return;
    // From a volume between two steps (set with the slider), the first press lands on the step
    // beside it rather than keeping the odd value.
    const int now = session_.volumePercent;
    const int below = (now + kVolumeStep - 1) / kVolumeStep - 1;  // the last step under `now`
    const int above = now / kVolumeStep + 1;                      // the first step over `now`
    const int step = steps > 0 ? above + steps - 1 : below + steps + 1;
    SetVolume(static_cast<float>(step * kVolumeStep));
}

void Transport::SaveVolume() const {
    // A settings file that cannot be written loses nothing but the memory of the volume.
    const int percent = session_.volumePercent;
    (void)UpdateSettings([percent](Settings& settings) { settings.volumePercent = percent; });
}
