// The controller's life: initialisation, the pending command at the start of every frame, the song
// time taken from the player, and the layout and drawing of the three panels.
#include <cstdio>

#include "app/player_controller.h"
#include "audio/wav_reader.h"
#include "core/file_access.h"
#include "core/frame_timer.h"
#include "core/memory_limit.h"
#include "core/panel_layout.h"
#include "core/voice_limit.h"
#include "export/export_job.h"
#include "export/transcoder.h"
#include "export/video_export.h"
#include "midi/note_timeline.h"
#include "midi/play_follow.h"
#include "midi/play_wait.h"
#include "platform/midi_input.h"
#include "platform/sound.h"
#include "resources/strings.h"
#include "settings/settings.h"
#include "synth/background_render.h"
#include "synth/live_synth.h"
#include "synth/render_stream.h"
#include "synth/stream_playback.h"
#include "synth/synth_renderer.h"
#include "ui/control_panel.h"
#include "view/notes_view.h"
#include "view/score_strip.h"
#include "view/time_bar.h"

namespace {

template <class P>
std::unique_ptr<P> MakePanel(PlayerController& c, uint16_t background) {
    auto panel = std::make_unique<P>();
    panel->palette = &c.palette;
    panel->background = background;
    panel->Init(c.device, &c.mousePoint);
    panel->CreateBrushes();
    panel->hover = false;
    return panel;
}

}  // namespace

PlayerController::PlayerController() = default;
PlayerController::~PlayerController() = default;

void PlayerController::CreatePlayer(platform::SoundOutput& output, std::chrono::milliseconds refillPeriod) {
    transport.CreatePlayer(output, refillPeriod);
    playAlong.SetSoundOutput(&output);
}

bool PlayerController::Post(Command command) {
    return !transport.CountingIn() && shared.Post(command);
}

void PlayerController::Initialise(platform::SoundOutput& output, const std::string& guideUrl,
                                  std::chrono::milliseconds refillPeriod) {
    transport.Clock().Init();

    synth = std::make_unique<SynthRenderer>();
    backgroundRender = std::make_unique<BackgroundRender>();

    palette = kDefaultPalette;
    controlPanelWidth = kDefaultControlPanelWidth;
    timeBarHeight = kDefaultTimeBarHeight;
    splitterHalfWidth = kSplitterHalfWidth;

    const Settings saved = ReadSettings();
    // Told at the start: otherwise the user finds out only that a choice was forgotten.
    if (const std::string problem = SettingsFileProblem(); !problem.empty()) Report(shared, problem, nullptr);
    shared.soundFontPath = saved.soundFontPath;
    SetSongMemoryLimit(saved.memoryLimitBytes);
    SetRenderVoiceLimit(saved.voiceLimit);
    transport.SetVolume(static_cast<float>(saved.volumePercent));
    shared.playAlong.chosenInput = saved.midiInput;
    shared.playAlong.volumePercent = std::clamp(saved.keysVolumePercent, 0, kFullVolume);
    playAlong.SetKeysOut(&midiPlayback);
    shared.soundFontName =
        shared.soundFontPath.empty() ? std::string() : FileTitleFromPath(shared.soundFontPath);
    shared.session = SongSession{};
    shared.command = Command::None;
    // A saved SoundFont that cannot be loaded (gone, or a pipe in its place) leaves the window
    // without one; the user is told when a song needs it.
    shared.soundFontLoaded = synth->LoadSoundFont(shared.soundFontPath).Ok();
    // Rendered songs of players that were killed; the lock of a running player keeps its own.
    transport.SetRenderFolder(CacheFolder());
    if (const std::string& folder = transport.RenderFolder(); !folder.empty())
        RemoveStaleRenderFiles(folder, kPlayerRenderPrefix, 0);
    // Earlier versions rendered into the settings folder; what a killed one left there goes too.
    if (const std::string old = SettingsFolder(); !old.empty()) RemoveStaleRenderFiles(old, "output-");

    notesView = MakePanel<NotesView>(*this, PalClear);
    notesView->Build();
    timeBar = MakePanel<TimeBar>(*this, PalTimeBar);
    scoreStrip = MakePanel<ScoreStrip>(*this, PalClear);
    scoreStrip->shown = saved.scoreShown.value_or(false);
    controlPanel = MakePanel<ControlPanel>(*this, PalControlPanel);
    controlPanel->Build(guideUrl);
    loading = SongLoading{};
    loading.soundFontLabel =
        shared.soundFontLoaded ? shared.soundFontName : res::LoadString(res::IdsNoSoundfontLoaded);
    loading.midiLabel = shared.session.Ready() ? shared.midiName : res::LoadString(res::IdsNoMidiFileLoaded);

    input.hoverPanel = HoverNone;
    input.wantedCursor = CursorUnset;
    input.shownCursor = CursorUnset;
    input.draggingHorizontalSplitter = false;
    input.draggingVerticalSplitter = false;
    designWidth = static_cast<float>(device->clientWidth);
    designHeight = static_cast<float>(device->clientHeight);
    controls.fullView = false;
    controls.toggleRequested = false;
    controls.overlayActive = false;
    input.escapeDown = false;
    input.spaceDown = false;
    controls.pendingIntent = PanelIntent::None;
    shownTime = -1.0f;

    CreatePlayer(output, refillPeriod);
    midiPlayback.Start(saved.soundOutput, saved.outputDelayMs);

    ProbeEncoders(shared.exportFormatFlags);
}

void PlayerController::ReleaseObjects() {
    // A running export goes first (its thread is joined), then the player: its refill reads the
    // reader. The panels go last.
    playAlong.End();           // the player's keys leave the sound device first
    midiPlayback.Release();    // every note on the instrument let go before the song goes
    exports.Release();         // cancelled at their next step; the partial files go with them
    backgroundRender.reset();  // stopped after its slice; the thread is joined
    transport.Release();
    controlPanel.reset();
    timeBar.reset();
    scoreStrip.reset();
    notesView.reset();
    synth.reset();
}

void PlayerController::RunCommand() {
    // A count-in that is over starts the sound before anything else of the frame looks at it.
    transport.StepCountIn();
    switch (shared.command) {
        case Command::Play:
            transport.Play();
            break;
        case Command::Pause:
            if (transport.Player() != nullptr) {
                notesView->ClearLitKeys();
                transport.Pause();
            }
            break;
        case Command::Stop:
            transport.Stop();
            break;
        case Command::Rewind:
            if (transport.Player() != nullptr) {
                notesView->ClearLitKeys();
                transport.Rewind();
            }
            break;
        case Command::PreparePlayback:
            // A re-rendered song (a new SoundFont) waits where it was.
            if (transport.PreparePlayback() && shared.resumeAt > 0) {
                transport.Stop();
                transport.SeekBy(shared.resumeAt);  // from the start, so to the place
            }
            shared.resumeAt = -1.0;
            break;
        case Command::ExportAudio:
            if (exports.StartAudio()) return;  // the running command stays pending while the export runs
            break;
        case Command::ExportRunning:
            exports.PollAudio(
                controlPanel.get());  // only looks at the job; clears the command when it has ended
            return;
        case Command::ExportVideo:
            (void)exports.StartVideo();  // the job runs beside the loop and holds no command
            break;
        default:
            break;
    }
    shared.command = Command::None;
}

void PlayerController::Frame() {
    Update();
    Draw();
    KeepSongAmongRecent(*this);
}

void PlayerController::Update() {
    RunCommand();
    exports.PollVideo(controlPanel.get());
    // A pending action may open a modal dialog: it runs before anything is drawn, and before the
    // panel takes this frame's mouse.
    RunPendingPanelAction();
    RunHandyAction(*this);
    // The render goes on in full view too.
    StepLoading();

    // The player's keys are taken in every frame, and the song held for them.
    playAlong.Step();
    if (transport.State() != TransportState::Idle) {
        transport.Update();
        const double songTime = transport.SongTime();
        // The clock never runs past the song's length, in the grace before the song stops either.
        shownTime = static_cast<float>(shared.song ? std::min(songTime, shared.song->duration) : songTime);
    } else if ((shared.refreshBits & RefreshSongTimeZero) != 0) {
        shared.refreshBits = static_cast<uint16_t>(shared.refreshBits & ~RefreshSongTimeZero);
        shownTime = 0.0f;
    }
    // The instrument follows the place the transport has just taken.
    midiPlayback.Step();

    // The notes view hears of a new song, and of a jump in time, before it moves on to this frame:
    // it shows the session's song from the moment it has been read: it plays while it renders.
    const SongData* shownSong = shared.session.HasSong() ? shared.song.get() : nullptr;
    // A huge song's index is built aside: the window goes on drawing while it is made.
    if (notesView->song != shownSong) notesView->SetSong(shownSong, true);
    if (scoreStrip != nullptr) {
        const std::vector<uint8_t>* bytes = shared.midiBytes.get();
        scoreStrip->SetSong(shownSong, transport.Tempo(), bytes != nullptr ? bytes->data() : nullptr,
                            bytes != nullptr ? bytes->size() : 0);
        // A song of many voices shows the parts the learner practises, as play-along would take them.
        if (shownSong != nullptr)
            scoreStrip->SetParts(shared.practice.ScoreParts(shownSong->PartsInUse(), shared.playAlong.On()));
    }
    if ((shared.refreshBits & RefreshNotesView) != 0) {
        shared.refreshBits = static_cast<uint16_t>(shared.refreshBits & ~RefreshNotesView);
        notesView->ClearLitKeys();
    }

    // The window may have been resized since the last frame.
    if (device != nullptr && device->clientWidth > 0 && device->clientHeight > 0) {
        designWidth = static_cast<float>(device->clientWidth);
        designHeight = static_cast<float>(device->clientHeight);
    }
}

void PlayerController::DrawControlPanel() {
    if (!controls.fullView && controlPanel != nullptr)
        HandlePanelRequest(controlPanel->Frame(ControlPanelSnapshot()));
    if (controlPanel != nullptr) controlPanel->pressed = false;
}

void PlayerController::Draw() {
    platform::RenderTarget* target = device != nullptr ? device->target : nullptr;
    if (target != nullptr) target->Clear(PaletteColour(palette.colour[PalClear]));
    const PanelLayout layout = LayOutPanels(designWidth, designHeight, controlPanelWidth, timeBarHeight,
                                            splitterHalfWidth, controls.fullView);
    const RectF& n = layout.notesView;
    const SongView view = ViewOfSong();
    // The score strip, when shown, stands over the top of the falling notes, which come out from
    // under it; what is written over the notes moves below it.
    const bool scoreShown = scoreStrip != nullptr && scoreStrip->shown && view.songLoaded;
    viewOptions.coveredTop =
        scoreShown ? ScoreStripHeight(n.bottom - n.top, scoreStrip->StavesAsked()) : 0.0f;
    if (scoreShown) {
        scoreStrip->SetRect(n.left, n.top, n.right, n.top + viewOptions.coveredTop);
    } else if (scoreStrip != nullptr) {
        scoreStrip->SetRect(0, 0, 0, 0);  // nothing to click on
    }
    notesView->SetRect(n.left, n.top, n.right, n.bottom);
    viewOptions.quietParts = shared.practice.choice.Mutes(kMaxParts).parts;
    viewOptions.playerKeys = shared.playAlong.keysDown;
    viewOptions.wrongKeys = playAlong.WrongKeys();
    viewOptions.scoreText = shared.playAlong.scoreText;
    playAlong.ShowIn(viewOptions);
    // A Ctrl-drag over the notes shows the box whose notes change hands on release.
    viewOptions.handBoxShown = shared.practice.handBoxActive;
    if (shared.practice.handBoxActive)
        viewOptions.handBox = {shared.practice.handBoxX - n.left, shared.practice.handBoxY - n.top,
                               input.mouseX - n.left, input.mouseY - n.top};
    viewOptions.transpose = shared.practice.transpose;
    notesView->SetOptions(viewOptions);
    notesView->Update(shownTime);
    notesView->DrawBackground();
    notesView->Draw(view);
    if (scoreShown) scoreStrip->Draw(view);

    // In full view the other two panels are neither laid out nor drawn, and the splitters keep
    // their last places.
    if (!controls.fullView) {
        const RectF& t = layout.timeBar;
        timeBar->SetRect(t.left, t.top, t.right, t.bottom);
        timeBar->DrawBackground();
        timeBar->Draw(view);

        const RectF& p = layout.controlPanel;
        controlPanel->SetRect(p.left, p.top, p.right, p.bottom);
        controlPanel->DrawBackground();
    }
    DrawControlPanel();
    if (!controls.fullView) {
        horizontalSplitterRect = layout.horizontalSplitter;
        verticalSplitterRect = layout.verticalSplitter;
    }

    notesView->DrawViewToggle(controls);
    if (controls.overlayActive) {
        const FrameTimer& clock = transport.Clock();
        controls.idleSeconds = clock.SecondsSince(clock.activityStamp);
        controls.sceneWidth = designWidth;
        controls.sceneHeight = designHeight;
        const PanelRequest request = notesView->DrawOverlay(controls, ViewOfSong());
        if (request.intent == PanelIntent::SeekTo) SeekToSeconds(request.seconds);
    }
    DrawAtHand(*this);
}
