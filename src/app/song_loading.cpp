// The file-loading flow and the control panel's requests: what "Load SoundFont", "Load MIDI", a
// dropped file and the command line's song do, when the panel's large buttons may act, and the
// render that a load starts, driven one slice per frame.
//
// A press on a large button stops a song that plays at once, but its action waits until the mouse
// button has been up for two frames: the file dialog it may open is modal, and must never open
// under a button that is still held.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <future>
#include <memory>
#include <string_view>
#include <system_error>
#include <vector>

#include "app/hand_editing.h"
#include "app/player_controller.h"
#include "core/file_access.h"
#include "midi/midi_reader.h"
#include "midi/note_timeline.h"
#include "midi/song_beats.h"
#include "platform/dialogs.h"
#include "resources/strings.h"
#include "settings/settings.h"
#include "settings/song_memory.h"
#include "synth/background_render.h"
#include "synth/render_overview.h"
#include "synth/render_stream.h"
#include "synth/stream_playback.h"
#include "synth/synth_renderer.h"
#include "ui/control_panel.h"
#include "view/notes_view.h"

namespace {

// Said over the export buttons while they wait for the song's render.
constexpr std::string_view kExportWaitsForRender =
    "The song is still being rendered. It can be exported once it is ready.";

// Frames the mouse button must have been up before a large button's action runs.
constexpr int kIdleFramesBeforeAction = 2;

// From this size on, a song whose memory cannot exist yet has its key hashed aside; a smaller one
// is hashed at once, which costs less than starting a thread.
constexpr size_t kKeyedAsideBytes = size_t{1} << 20;

// From this size on, a MIDI file is read and parsed aside while the window goes on drawing: some
// two million notes, a fifth of a second of work. Smaller ones are read before the next frame.
constexpr uintmax_t kReadAsideBytes = uintmax_t{16} << 20;

}  // namespace

FileKind FileKindOfPath(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return FileKind::None;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "mid" || ext == "midi" || ext == "kar" || ext == "rmi") return FileKind::Midi;
    if (ext == "sf2" || ext == "sf3") return FileKind::SoundFont;
    return FileKind::None;
}

Command CommandForIntent(PanelIntent intent) {
    switch (intent) {
        case PanelIntent::Play:
            return Command::Play;
        case PanelIntent::Pause:
            return Command::Pause;
        case PanelIntent::Stop:
            return Command::Stop;
        case PanelIntent::Rewind:
            return Command::Rewind;
        case PanelIntent::ExportAudio:
            return Command::ExportAudio;
        case PanelIntent::ExportVideo:
            return Command::ExportVideo;
        default:
            return Command::None;
    }
}

SongView PlayerController::ViewOfSong() const {
    SongView view;
    view.song = shared.song.get();
    // A song plays, and its waveform fills in, while it renders.
    view.overview = shared.session.HasSong() ? &shared.overview : nullptr;
    if (notesView != nullptr && notesView->song == view.song) view.noteDensity = &notesView->density;
    view.songLoaded = shared.session.HasSong();
    view.songReady = shared.session.HasSong();
    view.songReading = loading.reading.valid();
    const RenderStream* songStream = transport.SongStream();
    view.renderedShare = shared.session.Ready() || songStream == nullptr ? 1.0f : songStream->RenderedShare();
    view.waitingForRender = transport.WaitingForRender();
    view.practice = &shared.practice.choice;
    if (const StreamPlayback* playback = transport.Playback()) {
        // Frames of the render, whose rate the song's seconds are counted in.
        const double rate = playback->Stream().SampleRate();
        const PlaybackLoop& loop = playback->Loop();
        if (loop.Active()) view.loopStart = loop.start / rate, view.loopEnd = loop.end / rate;
        if (shared.practice.loopMark >= 0) view.loopMark = shared.practice.loopMark / rate;
        if (shared.practice.loopDragFrom >= 0 && input.mouseDownNow) {
            const int64_t to = FrameAtTimeBarX(input.mouseX);
            view.loopStart = std::min(shared.practice.loopDragFrom, to) / rate;
            view.loopEnd = std::max(shared.practice.loopDragFrom, to) / rate;
        }
    }
    switch (transport.Coarse()) {
        case PlayState::Playing:
            view.play = PlayView::Playing;
            break;
        case PlayState::Paused:
            view.play = PlayView::Paused;
            break;
        case PlayState::Stopped:
            view.play = PlayView::Stopped;
            break;
        default:
            view.play = PlayView::Idle;
            break;
    }
    view.songTime = shownTime;
    view.countingIn = transport.CountingIn();
    view.busy = shared.command != Command::None || view.countingIn || loading.pending != PanelIntent::None;
    return view;
}

PanelSnapshot PlayerController::ControlPanelSnapshot() const {
    PanelSnapshot shown;
    shown.song = ViewOfSong();
    shown.soundFontLabel = loading.soundFontLabel;
    shown.midiLabel = loading.midiLabel;
    shown.renderProgress = loading.renderProgress;
    if (const TempoMap* tempo = transport.Tempo())
        shown.beatsPerMinute = static_cast<float>(
            BeatsPerMinuteAt(*tempo, std::max(0.0f, shown.song.songTime), shared.practice.choice.Speed()));
    shown.canStart = loading.pending == PanelIntent::None && !loading.rendering && !loading.reading.valid() &&
                     shared.command == Command::None && !transport.CountingIn();
    if (loading.rendering) shown.exportBlocked = kExportWaitsForRender;
    shown.volumePercent = static_cast<float>(shared.volumePercent);
    shown.audioExportProgress = exports.AudioProgress();
    shown.videoExportProgress = exports.VideoProgress();
    if (shared.playAlong.On()) {
        shown.inputs = &playAlong.Inputs();
        shown.played = &viewOptions.playedParts;
    }
    shown.outputs = &midiPlayback.Rows();
    return shown;
}

void PlayerController::OpenLink(const LinkButton& link) {
    if (shared.dialogs == nullptr || shared.dialogs->OpenUrl(link.url) || link.unopenedText.empty()) return;
    shared.dialogs->ShowError(link.unopenedText, link.text);
}

void PlayerController::HandlePanelRequest(const PanelRequest& request) {
    switch (request.intent) {
        case PanelIntent::None:
        case PanelIntent::SeekTo:
            return;
        case PanelIntent::OpenGuide:
        case PanelIntent::OpenExportFolder:
            // Opened in the next update: where nothing opens links, a box says so, and no box
            // opens while the panels draw.
            loading.pending = request.intent;
            loading.pendingWaitsForIdle = false;
            return;
        case PanelIntent::CancelVideoExport:
            exports.CancelVideo();
            return;
        case PanelIntent::SetVolume:
            transport.SetVolume(request.volume);
            return;
        case PanelIntent::KeepVolume:
            // Written once, when the slider is let go, rather than at every step of the drag.
            transport.SetVolume(request.volume);
            input.volumeUnsaved = false;
            transport.SaveVolume();
            return;
        case PanelIntent::SetSpeed: {
            // At once, from where the song is heard.
            PracticeChoice& choice = shared.practice.choice;
            const int before = choice.speedPercent;
            choice.SetSpeed(request.speed);
            if (choice.speedPercent != before && shared.session.HasSong()) transport.ApplyPractice();
            return;
        }
        case PanelIntent::CyclePart:
            (void)ActOnPart(*this, request.part, request.partAction);
            return;
        case PanelIntent::ChooseInput:
            playAlong.ChooseInput(request.input);
            return;
        case PanelIntent::SetKeysVolume:
            playAlong.SetKeysVolume(request.volume);
            return;
        case PanelIntent::KeepKeysVolume:
            playAlong.SetKeysVolume(request.volume);
            playAlong.SaveChoices();
            return;
        case PanelIntent::ChooseOutput:
            midiPlayback.Choose(request.output);
            return;
        case PanelIntent::SetOutputDelay:
            midiPlayback.SetDelay(request.delayMs);
            return;
        case PanelIntent::KeepOutputDelay:
            midiPlayback.SetDelay(request.delayMs);
            midiPlayback.SaveChoices();
            return;
        case PanelIntent::Play:
        case PanelIntent::Pause:
        case PanelIntent::Rewind:
        case PanelIntent::Stop:
            // Asked for once the mouse button is up again.
            loading.pending = request.intent;
            loading.pendingWaitsForIdle = false;
            if (request.intent == PanelIntent::Stop) shared.refreshBits = RefreshAll;
            return;
        case PanelIntent::ChooseSoundFont:
        case PanelIntent::ChooseMidi:
            // A load that will be refused leaves the song playing; the box saying why opens in
            // the next update, not while the panels draw.
            if (exports.VideoRunning() ||
                (request.intent == PanelIntent::ChooseMidi && !shared.soundFontLoaded)) {
                loading.pending = request.intent;
                loading.pendingWaitsForIdle = false;
                return;
            }
            break;
        case PanelIntent::ExportAudio:
        case PanelIntent::ExportVideo:
            break;
    }
    // A large button: a song that plays stops at once; the action runs once the button has been
    // up for a while.
    loading.placeBeforeLoad = shownTime;
    if (transport.Coarse() == PlayState::Playing) shared.command = Command::Stop;
    loading.pending = request.intent;
    loading.pendingWaitsForIdle = true;
    loading.idleFrames = 0;
}

void PlayerController::RunPendingPanelAction() {
    if (loading.pending == PanelIntent::None || input.mouseDownNow) return;
    if (loading.pendingWaitsForIdle && loading.idleFrames < kIdleFramesBeforeAction) return;
    const PanelIntent intent = loading.pending;
    loading.pending = PanelIntent::None;
    const bool load = intent == PanelIntent::ChooseMidi || intent == PanelIntent::ChooseSoundFont;
    if (load && RefuseLoadWhileVideoExports()) return;
    if (intent == PanelIntent::ChooseMidi && !shared.soundFontLoaded) {
        midiPlayback.SayASongNeedsASoundFont();
    } else if (intent == PanelIntent::OpenGuide || intent == PanelIntent::OpenExportFolder) {
        if (controlPanel != nullptr)
            OpenLink(intent == PanelIntent::OpenGuide ? controlPanel->link : controlPanel->exportNotice);
    } else if (intent == PanelIntent::ChooseMidi) {
        (void)ChooseAndLoadFile(FileKind::Midi);
    } else if (intent == PanelIntent::ChooseSoundFont) {
        (void)ChooseAndLoadFile(FileKind::SoundFont);
    } else {
        // Posted, not written over: a command that became pending since the press (a count-in
        // started from the keyboard, say) must run its course.
        Post(CommandForIntent(intent));
    }
}

namespace {

// Reads and parses the MIDI file at `path`; nothing of the window is touched, so that a large
// file is read on a thread of its own.
SongRead ReadSongFile(const std::string& path) {
    SongRead read;
    read.path = path;
    read.song = std::make_unique<SongData>();
    read.tempo = std::make_unique<TempoMap>();
    read.usable = ReadMidiFile(*read.song, path, &read.bytes, read.tempo.get());
    return read;
}

void TakeSongRead(PlayerController& c, SongRead read) {
    const std::string& path = read.path;
    // The new song is read aside first: a file that does not load leaves the current song loaded,
    // playable and where it was.
    auto refuse = [&](const std::string& why) {
        c.shared.session.ReadFailed();
        Report(c.shared, why);
    };
    auto song = std::move(read.song);
    if (!read.usable) {
        // The same words the command line prints for this file.
        refuse(path + ": " + MidiLoadFailureText(*song));
        return;
    }
    // A song without a note would play as seconds of nothing; the current song stays instead.
    if (!SongHasNotes(*song)) {
        refuse(path + " has no notes: there is nothing to play");
        return;
    }
    // The SoundFont is loaded (or, kept since the last render, checked) before anything of the
    // current song is dropped: if its file has gone since, the current song stays loaded and
    // playable.
    if (c.synth != nullptr) {
        if (const Failure loaded = c.synth->LoadSoundFont(c.shared.soundFontPath); !loaded.Ok()) {
            refuse(loaded.text);
            return;
        }
    }
    // Playing along was with the song before: what was played is offered for saving first.
    if (c.shared.playAlong.On()) c.playAlong.End();
    c.shared.midiPath = path;
    c.shared.midiBytes = std::make_shared<const std::vector<uint8_t>>(std::move(read.bytes));
    // The song is known again by its bytes, for what is remembered of it. A large song of whose
    // size nothing is kept is hashed on a thread of its own: the hash of a file of a hundred
    // megabytes would hold the first frame up for a fifth of a second, for nothing to read.
    const std::shared_ptr<const std::vector<uint8_t>> kept = c.shared.midiBytes;
    if (kept->size() >= kKeyedAsideBytes && !SongFileMayExist(kept->size(), ".txt") &&
        !SongFileMayExist(kept->size(), ".hands.txt")) {
        c.shared.practice.NewSongKeyedAside(
            std::async(std::launch::async, [kept] { return SongKey(kept->data(), kept->size()); }).share());
    } else {
        c.shared.practice.NewSong(SongKey(kept->data(), kept->size()));
    }
    // The hands as the player mended them, before anything shows or scores the song.
    TakeHandEdits(c.shared.practice, *song);
    c.shared.resumeAt = -1.0;  // a new song starts at its start
    if (c.controlPanel != nullptr) c.controlPanel->ForgetSong();
    if (c.notesView != nullptr) c.notesView->SetSong(nullptr);  // shown again once it is rendered
    c.shared.song = std::move(song);
    c.transport.SetSongTempo(std::move(read.tempo));
    (void)c.shared.session.Read();
    c.shared.refreshBits |= RefreshNotesView;       // no key stays lit from the song before
    c.loading.midiLabel = FileTitleFromPath(path);  // the song's name while it renders
    if (c.loading.keepFolderWhenRead) KeepDialogFolder(FolderKind::Midi, path);
    if (c.StartSongRender() && c.loading.playWhenRead) c.Post(Command::Play);
}

}  // namespace

void PlayerController::StepLoading() {
    // A song read aside replaces the current one in the first frame after it is ready.
    if (loading.reading.valid() &&
        loading.reading.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
        TakeSongRead(*this, loading.reading.get());
    if (loading.rendering && backgroundRender != nullptr) {
        // The waveform fills in as the render advances.
        if (const RenderStream* songStream = transport.SongStream())
            songStream->TakeOverview(shared.overview);
        TakeRenderStatus(backgroundRender->Poll());
    }
    transport.PollPracticeRender();
    if (!input.mouseDownNow) ++loading.idleFrames;
}

void PlayerController::TakeRenderStatus(const RenderStatus& status) {
    if (status.outcome == RenderOutcome::Running) {
        loading.renderProgress = status.progress;
        return;
    }
    loading.renderProgress = -1.0f;
    loading.rendering = false;
    Failure failure = status.failure;
    if (status.outcome == RenderOutcome::Finished) {
        // What a finished render hands on: the sound's overview, read from the very file written.
        failure = synth->renderFile != nullptr
                      ? ReadRenderOverview(synth->renderFile->fd(), synth->OutputPath(), shared.overview)
                      : Failure::Because(FailureKind::Render, "The rendered sound has gone");
        if (failure.Ok() && shared.session.RenderFinished()) {
            shared.midiName = FileTitleFromPath(shared.midiPath);
            loading.midiLabel = shared.midiName;
            // The song has been playing from its render all along; now its end is known.
            if (transport.Playback() != nullptr) {
                transport.TakeRenderedLength(synth->endFrame);
            } else {
                shared.command = Command::PreparePlayback;
            }
            return;
        }
    }
    // Nothing playable came of it: the song is not shown as one.
    (void)shared.session.RenderFailed();
    ForgetSong();
    Report(shared, failure);
}

void PlayerController::ForgetSong() {
    shared.resumeAt = -1.0;
    transport.DropSong();
    if (controlPanel != nullptr) controlPanel->ForgetSong();
    if (notesView != nullptr) notesView->SetSong(nullptr);
    shared.song.reset();
    loading.midiLabel = res::LoadString(res::IdsNoMidiFileLoaded);
}

bool PlayerController::DropFile(const std::string& path) {
    const FileKind kind = FileKindOfPath(path);
    if (kind == FileKind::None) {
        Report(shared, "\"" + path + "\" is neither a MIDI file nor a SoundFont.");
        return false;
    }
    if (loading.pending != PanelIntent::None || loading.rendering || loading.reading.valid() ||
        shared.command != Command::None || transport.CountingIn())
        return false;
    if (RefuseLoadWhileVideoExports()) return false;
    if (kind == FileKind::Midi && !shared.soundFontLoaded) {
        midiPlayback.SayASongNeedsASoundFont();
        return false;
    }
    loading.placeBeforeLoad = shownTime;
    if (transport.Coarse() == PlayState::Playing) shared.command = Command::Stop;
    LoadChosenFile(kind, path);
    return true;
}

bool PlayerController::ChooseAndLoadFile(FileKind kind) {
    SetPanelsMouseDown(false);
    input.mouseDownNow = false;
    if (kind == FileKind::None) return true;

    const bool midi = kind == FileKind::Midi;
    const FolderKind folder = midi ? FolderKind::Midi : FolderKind::SoundFont;
    std::string path = DialogFolder(folder);  // where the dialog of this kind was left, in any run
    if (shared.dialogs == nullptr ||
        !shared.dialogs->OpenFile(res::LoadString(midi ? res::IdsSelectMidiFile : res::IdsSelectSoundfont),
                                  res::LoadString(midi ? res::IdsMidiFiles : res::IdsSoundfontFilter),
                                  midi ? std::vector<std::string>{"*.mid", "*.midi", "*.kar", "*.rmi"}
                                       : std::vector<std::string>{"*.sf2", "*.sf3"},
                                  path)) {
        return false;
    }
    LoadChosenFile(kind, path);
    // The folder is kept once its file has loaded: a file that did not leaves the settings alone.
    // A large song is still being read; its folder is kept when it is taken.
    if (midi && loading.reading.valid()) {
        loading.keepFolderWhenRead = true;
    } else if ((midi ? shared.midiPath : shared.soundFontPath) == path) {
        KeepDialogFolder(folder, path);
    }
    return true;
}

bool PlayerController::RefuseLoadWhileVideoExports() {
    // A new render would write the sound file the video export is reading.
    if (!exports.VideoRunning()) return false;
    Report(shared,
           "A video is being exported from the current song. Load another file once it has finished, "
           "or click \"Export video\" to stop it.",
           res::LoadString(res::IdsExportVideo));
    return true;
}

void PlayerController::LoadChosenFile(FileKind kind, const std::string& path) {
    if (RefuseLoadWhileVideoExports()) return;
    if (kind == FileKind::Midi) {
        LoadMidi(path);
    } else if (kind == FileKind::SoundFont) {
        LoadSoundFontFile(path);
    }
}

void PlayerController::LoadMidi(const std::string& path) {
    if (!shared.session.BeginReading()) return;
    // A file this large takes a second or more to read and parse: the window goes on drawing
    // meanwhile, and the song is taken in the frame after it is ready (StepLoading).
    loading.keepFolderWhenRead = false;
    loading.playWhenRead = false;
    std::error_code error;
    if (const uintmax_t size = std::filesystem::file_size(path, error); !error && size >= kReadAsideBytes) {
        loading.reading = std::async(std::launch::async, [path] { return ReadSongFile(path); });
        return;
    }
    TakeSongRead(*this, ReadSongFile(path));
}

bool PlayerController::StartSongRender() {
    // The render that may run is stopped (its stream is dropped with the player below), and so
    // is a practice render of the song before.
    if (backgroundRender != nullptr) backgroundRender->Stop();
    transport.StopPracticeRender();
    RenderRequest request{shared.midiBytes, shared.soundFontPath, shared.song.get()};
    request.lowPriority = true;
    const Failure started = synth != nullptr
                                ? synth->StartRender(request, transport.RenderFolder())
                                : Failure::Because(FailureKind::Render, "The synthesiser is not available");
    if (synth != nullptr) shared.outputWavPath = synth->OutputPath();
    if (!started.Ok()) {
        // Nothing runs, so nothing may look as if it were rendering; say why.
        (void)shared.session.RenderFailed();
        ForgetSong();
        Report(shared, started);
        return false;
    }
    loading.renderProgress = 0;
    loading.rendering = true;
    // The song plays from its render at once; a song rendered again (a new SoundFont) waits,
    // paused, where it was.
    const bool prepared = transport.PrepareStreamPlayback(synth->Stream());
    // The passage practised last time plays over and over again, at the speed and with the parts
    // it was practised with. A song rendered again (a new SoundFont) keeps the choice it has.
    const bool reRender = shared.resumeAt > 0;
    if (const StreamPlayback* playback = transport.Playback();
        playback && !shared.practice.KnownKey().empty()) {
        const SongMemory memory = ReadSongMemory(shared.practice.KnownKey());
        const double rate = playback->Stream().SampleRate();
        const PlaybackLoop loop{static_cast<int64_t>(memory.loopStart * rate),
                                static_cast<int64_t>(memory.loopEnd * rate)};
        if (memory.HasLoop() && loop.Active()) transport.TakeLoop(loop);
        if (!reRender) TakePracticeFromMemory(memory);
    }
    if (prepared && reRender) {
        transport.Stop();
        transport.SeekBy(shared.resumeAt);  // from the start, so to the place
    }
    if (prepared && !shared.practice.PlainSound()) transport.ApplyPractice();
    shared.resumeAt = -1.0;
    if (backgroundRender == nullptr) backgroundRender = std::make_unique<BackgroundRender>();
    backgroundRender->Run(*synth);
    return true;
}

void PlayerController::LoadSoundFontFile(const std::string& path) {
    // A SoundFont that does not load changes nothing: the one before stays, and so does the song.
    const Failure loaded =
        synth != nullptr ? synth->LoadSoundFont(path)
                         : Failure::Because(FailureKind::SoundFont,
                                            "The SoundFont \"" + path +
                                                "\" could not be loaded: the synthesiser is not available");
    if (!loaded.Ok()) {
        Report(shared, loaded);
        return;
    }
    shared.soundFontPath = path;
    // The choice is kept the moment it is made, and only then: a window never writes back a
    // setting it did not change, so closing a second window cannot undo this one's choice. A
    // settings file that cannot be written loses nothing but the memory of the choice.
    (void)UpdateSettings([&path](Settings& settings) { settings.soundFontPath = path; });
    shared.soundFontLoaded = true;
    shared.soundFontName = FileTitleFromPath(shared.soundFontPath);
    loading.soundFontLabel = shared.soundFontName;
    // Without a song to render, the samples are not kept in memory; the next song loads them.
    const bool reRender = shared.session.Ready() && !shared.midiPath.empty();
    if (!reRender) synth->ReleaseSoundFont();
    // The song sounds with the new SoundFont from where it was.
    if (reRender && shared.session.ReRender()) {
        shared.resumeAt = loading.placeBeforeLoad;
        shared.refreshBits |= RefreshNotesView;
        (void)StartSongRender();
    }
}

void PlayerController::TakePracticeFromMemory(const SongMemory& memory) {
    const SongData* song = shared.song.get();
    shared.practice.TakeFromMemory(memory, song != nullptr ? song->PartsInUse() : 0,
                                   song != nullptr && song->percussionNotes > 0);
}
