// The controller's practice: the song slower or faster, and its parts silenced or played alone,
// heard within a moment of the change from where the song is.
//
// The song's own render is made once, as written. A practice choice other than that is played from
// a render of its own, started from the place the song is heard at: FluidSynth's player is sent
// there (with every controller and program change before it), plays at the tempo times the speed,
// and leaves the muted parts' notes unplayed. That render needs only a few seconds ahead of the
// place before the song can play on, and it is many times faster than the song, so a change is
// heard a fraction of a second after it is made. It plays at the song's own loudness (the song's
// render's gain), so a muted hand leaves the other as loud as it was.
//
// The song's place is always counted in the song's own frames (at its written speed): the clock,
// the time bar, the loop and the notes stay where they are whatever the speed, and only the
// stream being played maps them onto its frames.
#include <algorithm>
#include <cmath>

#include "app/player_controller.h"
#include "audio/streaming_player.h"
#include "midi/note_timeline.h"
#include "platform/window.h"
#include "settings/song_memory.h"
#include "synth/background_render.h"
#include "synth/render_stream.h"
#include "synth/stream_playback.h"
#include "synth/synth_renderer.h"

namespace {

// A render for practice starts this far (in the song) before the place it is for: notes struck
// just before the place ring on into it, as they would have.
constexpr double kPreRollSeconds = 2.0;
// A seek further than this past what the practice render has reached starts a new one there
// rather than waiting for it.
constexpr double kFarAheadSeconds = 8.0;

int PartCount(const SongData* song) {
    if (song == nullptr) return 0;
    return song->PartsInUse();
}

}  // namespace

void PlayerController::StopPracticeRender() {
    if (practiceRender) practiceRender->Stop();
}

void PlayerController::ApplyPractice(int64_t at) {
    RememberSong();
    // Before the song's render has started there is nothing to play; the choice holds from then on.
    if (!streamPlayback || !songStream) return;
    const bool playing = shared.playState == PlayState::Playing && shared.command != Command::CountIn;
    // The place the render under way may be unable to show (before its first frame): it is given.
    const int64_t heard = at >= 0 ? at : static_cast<int64_t>(PlaybackFrame());
    // The sound handed to the device goes (the refill waits for the one in progress), so that the
    // stream it reads can be replaced.
    if (soundPlayer) soundPlayer->Stop();
    StopPracticeRender();
    const PlaybackLoop loop = streamPlayback->Loop();

    std::shared_ptr<RenderStream> stream = songStream;
    StreamTimeline timeline;
    if (!shared.practice.choice.Plain()) {
        const double rate = songStream->SampleRate();
        double from = static_cast<double>(heard) / rate;
        if (loop.Active()) from = std::min(from, static_cast<double>(loop.start) / rate);
        from = std::max(0.0, from - kPreRollSeconds);
        RenderRequest request{shared.midiBytes, shared.soundFontPath, shared.song.get()};
        request.lowPriority = true;
        request.speed = shared.practice.choice.Speed();
        request.mutes = shared.practice.choice.Mutes(PartCount(shared.song.get()));
        if (songTempo && from > 0) {
            request.startTick = songTempo->TickAtOrBefore(from);
            request.startSeconds = songTempo->Seconds(request.startTick);
        }
        if (!practiceSynth) practiceSynth = std::make_unique<SynthRenderer>();
        const Failure started = practiceSynth->StartStreamRender(request, renderFolder, songStream);
        if (started.Ok()) {
            // The stream is taken before the render's thread starts: once it runs, the renderer is
            // the thread's, and a short render may be over (and have let its stream go) at once.
            stream = practiceSynth->Stream();
            if (!practiceRender) practiceRender = std::make_unique<BackgroundRender>();
            practiceRender->Run(*practiceSynth);
            timeline = {std::llround(request.startSeconds * rate), request.speed};
        } else {
            // The song plays on as written, and says why practice could not start.
            shared.practice.choice = PracticeChoice{};
            RememberSong();
            Report(shared, started);
        }
    }
    streamPlayback = std::make_unique<StreamPlayback>(std::move(stream), timeline);
    streamPlayback->SetLoop(loop);
    seekOffset = static_cast<uint32_t>(std::max<int64_t>(heard, 0));
    streamPlayback->Seek(seekOffset);
    shared.refreshBits |= RefreshNotesView;
    waitingForRender = false;
    if (playing) StartPlayback();
}

bool PlayerController::PracticeRenderNeeded(int64_t frame) const {
    if (shared.practice.choice.Plain() || !streamPlayback || !songStream) return false;
    const StreamTimeline& timeline = streamPlayback->Timeline();
    if (frame < timeline.origin) return true;
    const RenderStream& stream = streamPlayback->Stream();
    const double far = kFarAheadSeconds * stream.SampleRate();
    return !stream.Over() && static_cast<double>(frame - streamPlayback->ReadySongFrame()) > far;
}

void PlayerController::PollPracticeRender() {
    if (!practiceRender || !practiceRender->Running()) return;
    const RenderStatus status = practiceRender->Poll();
    if (status.outcome != RenderOutcome::Failed) return;
    // What was rendered still plays; the song then ends early, so the choice goes back to the
    // song as written, which plays from the place reached.
    shared.practice.choice = PracticeChoice{};
    ApplyPractice();
    Report(shared, status.failure);
}

void PlayerController::RememberSong() const {
    if (shared.practice.songKey.empty()) return;
    const PlaybackLoop loop = streamPlayback ? streamPlayback->Loop() : PlaybackLoop{};
    const double rate = streamPlayback ? streamPlayback->Stream().SampleRate() : 0.0;
    (void)WriteSongMemory(shared.practice.songKey, shared.practice.Memory(loop, rate));
}

void PlayerController::TakePracticeFromMemory(const SongMemory& memory) {
    const SongData* song = shared.song.get();
    shared.practice.TakeFromMemory(memory, PartCount(song), song != nullptr && song->percussionNotes > 0);
}

bool PlayerController::OnPracticeKey(const platform::InputMessage& message) {
    const uint32_t key = message.keyCode;
    const bool practiceKey =
        key == '[' || key == ']' || key == 'd' || key == 'D' || (key >= '1' && key <= '9');
    if (!practiceKey) return false;
    if (!shared.session.HasSong()) return true;
    bool changed = false;
    if (key == '[' || key == ']') {
        changed = shared.practice.choice.StepSpeed(key == ']' ? 1 : -1);
    } else if (message.repeat) {
        return true;  // a toggle acts once per press
    } else if (key == 'd' || key == 'D') {
        if (!shared.song || shared.song->percussionNotes <= 0) return true;
        shared.practice.choice.drumsMuted = !shared.practice.choice.drumsMuted;
        changed = true;
    } else if (key >= '1' && key <= '9') {
        const int part = static_cast<int>(key - '1');
        if (part >= PartCount(shared.song.get())) return true;
        changed = shared.practice.choice.ToggleMute(part);
    }
    if (changed) ApplyPractice();
    return true;
}
