// The file-loading flow and the control panel's requests: what "Load SoundFont", "Load MIDI", a
// dropped file and the command line's song do, when the panel's large buttons may act, and the
// render that a load starts, driven one slice per frame.
//
// A press on a large button stops a song that plays at once, but its action waits until the mouse
// button has been up for two frames: the file dialog it may open is modal, and must never open
// under a button that is still held.
#include <cctype>
#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

#include "app/player_controller.h"
#include "core/file_access.h"
#include "midi/midi_reader.h"
#include "platform/dialogs.h"
#include "resources/strings.h"
#include "synth/synth_renderer.h"
#include "ui/control_panel.h"
#include "view/notes_view.h"

namespace {

// Said over the export buttons while they wait for the song's render.
constexpr std::string_view kExportWaitsForRender =
    "The song is still being rendered. It can be exported once it is ready.";

// Frames the mouse button must have been up before a large button's action runs.
constexpr int kIdleFramesBeforeAction = 2;

// What the render tells the loading state as it goes.
class LoadingSink final : public RenderProgressSink {
  public:
    explicit LoadingSink(SongLoading& loading) : loading_(loading) {}
    void SetRenderProgress(float percent) override { loading_.renderProgress = percent; }
    void SetMidiLabel(const std::string& text) override { loading_.midiLabel = text; }
    void EndRender() override { loading_.rendering = false; }

  private:
    SongLoading& loading_;
};

void ShowErrorText(SessionState& state, const std::string& text, const char* caption) {
    if (state.dialogs != nullptr) {
        state.dialogs->ShowError(text, caption);
    } else {
        std::fprintf(stderr, "%s: %s\n", caption, text.c_str());
    }
}

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

uint16_t CommandForIntent(PanelIntent intent) {
    switch (intent) {
        case PanelIntent::Play:
            return CmdPlay;
        case PanelIntent::Pause:
            return CmdPause;
        case PanelIntent::Stop:
            return CmdStop;
        case PanelIntent::Rewind:
            return CmdRewind;
        case PanelIntent::ExportAudio:
            return CmdExport;
        case PanelIntent::ExportVideo:
            return CmdExportVideo;
        default:
            return CmdNone;
    }
}

SongView PlayerController::ViewOfSong() const {
    SongView view;
    view.song = shared.song.get();
    view.overview = shared.songReady ? &shared.overview : nullptr;
    view.songLoaded = shared.midiParsed;
    view.songReady = shared.songReady;
    switch (shared.playState) {
        case Playing:
            view.play = PlayView::Playing;
            break;
        case Paused:
            view.play = PlayView::Paused;
            break;
        case Stopped:
            view.play = PlayView::Stopped;
            break;
        default:
            view.play = PlayView::Idle;
            break;
    }
    view.songTime = shownTime;
    view.busy = shared.command != CmdNone || loading.pending != PanelIntent::None || loading.rendering;
    view.countingIn = shared.command == CmdCountIn;
    return view;
}

PanelSnapshot PlayerController::ControlPanelSnapshot() const {
    PanelSnapshot shown;
    shown.song = ViewOfSong();
    shown.soundFontLabel = loading.soundFontLabel;
    shown.midiLabel = loading.midiLabel;
    shown.renderProgress = loading.renderProgress;
    shown.canStart = loading.pending == PanelIntent::None && !loading.rendering && shared.command == CmdNone;
    if (loading.rendering) shown.exportBlocked = kExportWaitsForRender;
    return shown;
}

void PlayerController::HandlePanelRequest(const PanelRequest& request) {
    switch (request.intent) {
        case PanelIntent::None:
        case PanelIntent::SeekTo:
            return;
        case PanelIntent::CancelVideoExport:
            if (controlPanel != nullptr) controlPanel->videoCancelRequested = true;
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
            if (RefuseLoadWhileVideoExports()) return;
            if (request.intent == PanelIntent::ChooseMidi && !shared.soundFontLoaded) {
                ShowErrorBox(shared, res::IdsNoSoundfontLoaded, res::IdsError);
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
    if (shared.playState == Playing) shared.command = CmdStop;
    loading.pending = request.intent;
    loading.pendingWaitsForIdle = true;
    loading.idleFrames = 0;
}

void PlayerController::RunPendingPanelAction() {
    if (loading.pending == PanelIntent::None || mouseDownNow) return;
    if (loading.pendingWaitsForIdle && loading.idleFrames < kIdleFramesBeforeAction) return;
    const PanelIntent intent = loading.pending;
    loading.pending = PanelIntent::None;
    if (intent == PanelIntent::ChooseMidi) {
        (void)ChooseAndLoadFile(FileKind::Midi);
    } else if (intent == PanelIntent::ChooseSoundFont) {
        (void)ChooseAndLoadFile(FileKind::SoundFont);
    } else {
        // Posted, not written over: a command that became pending since the press (a count-in
        // started from the keyboard, say) must run its course.
        shared.Post(CommandForIntent(intent));
    }
}

void PlayerController::StepLoading() {
    if (loading.rendering && synth != nullptr) {
        LoadingSink sink(loading);
        (void)synth->RenderStep(sink);
    }
    if (!mouseDownNow) ++loading.idleFrames;
}

bool PlayerController::DropFile(const std::string& path) {
    const FileKind kind = FileKindOfPath(path);
    if (kind == FileKind::None) {
        if (shared.dialogs != nullptr) {
            shared.dialogs->ShowError("\"" + path + "\" is neither a MIDI file nor a SoundFont.",
                                      res::LoadString(res::IdsError));
        }
        return false;
    }
    if (loading.pending != PanelIntent::None || loading.rendering || shared.command != CmdNone) return false;
    if (RefuseLoadWhileVideoExports()) return false;
    if (kind == FileKind::Midi && !shared.soundFontLoaded) {
        ShowErrorBox(shared, res::IdsNoSoundfontLoaded, res::IdsError);
        return false;
    }
    loading.placeBeforeLoad = shownTime;
    if (shared.playState == Playing) shared.command = CmdStop;
    LoadChosenFile(kind, path);
    return true;
}

bool PlayerController::ChooseAndLoadFile(FileKind kind) {
    SetPanelsMouseDown(false);
    mouseDownNow = false;
    if (kind == FileKind::None) return true;

    const bool midi = kind == FileKind::Midi;
    std::string path;
    if (shared.dialogs == nullptr ||
        !shared.dialogs->OpenFile(res::LoadString(midi ? res::IdsSelectMidiFile : res::IdsSelectSoundfont),
                                  res::LoadString(midi ? res::IdsMidiFiles : res::IdsSoundfontFilter),
                                  midi ? std::vector<std::string>{"*.mid", "*.midi", "*.kar", "*.rmi"}
                                       : std::vector<std::string>{"*.sf2", "*.sf3"},
                                  path)) {
        return false;
    }
    LoadChosenFile(kind, path);
    return true;
}

bool PlayerController::RefuseLoadWhileVideoExports() {
    // A new render would write the sound file the video export is reading.
    if (controlPanel == nullptr || !controlPanel->videoExportRunning) return false;
    ShowErrorText(shared,
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
    // The new song is read aside first: a file that does not load leaves the current song loaded,
    // playable and where it was.
    auto song = std::make_unique<SongData>();
    if (!ReadMidiFile(*song, path)) {
        // The same words the command line prints for this file.
        ShowErrorText(shared, MidiLoadFailureText(*song), res::LoadString(res::IdsError));
        return;
    }
    // The SoundFont is loaded again before anything of the current song is dropped: if its file
    // has gone since, the current song stays loaded and playable.
    if (synth != nullptr && !synth->LoadSoundFont()) {
        if (shared.dialogs != nullptr) {
            shared.dialogs->ShowError(
                "The SoundFont \"" + shared.soundFontPath + "\" could not be loaded: " + synth->lastError,
                res::LoadString(res::IdsError));
        }
        return;
    }
    shared.midiPath = path;
    shared.resumeAt = -1.0;  // a new song starts at its start
    if (controlPanel != nullptr) controlPanel->ForgetSong();
    if (notesView != nullptr) notesView->SetSong(nullptr);  // shown again once it is rendered
    shared.song = std::move(song);
    shared.midiParsed = true;
    shared.rendered = false;
    shared.songReady = false;
    shared.refreshBits |= RefreshNotesView;       // no key stays lit from the song before
    loading.midiLabel = FileTitleFromPath(path);  // the song's name while it renders
    if (synth == nullptr || !synth->StartRender()) {
        // Nothing runs, so nothing may look as if it were rendering; say why.
        loading.midiLabel = res::LoadString(res::IdsNoMidiFileLoaded);
        if (shared.dialogs != nullptr) {
            shared.dialogs->ShowError(
                synth != nullptr ? synth->lastError : "The synthesiser is not available",
                res::LoadString(res::IdsError));
        }
        return;
    }
    shared.rendered = true;
    loading.renderProgress = 0;
    loading.rendering = true;
}

void PlayerController::LoadSoundFontFile(const std::string& path) {
    // A SoundFont that does not load changes nothing: the one before stays, and so does the song.
    const std::string previous = shared.soundFontPath;
    shared.soundFontPath = path;
    if (synth == nullptr || !synth->LoadSoundFont()) {
        shared.soundFontPath = previous;
        if (shared.dialogs != nullptr) {
            const std::string reason =
                synth != nullptr ? synth->lastError : "the synthesiser is not available";
            shared.dialogs->ShowError("The SoundFont \"" + path + "\" could not be loaded: " + reason,
                                      res::LoadString(res::IdsError));
        }
        return;
    }
    shared.soundFontLoaded = true;
    shared.soundFontName = FileTitleFromPath(shared.soundFontPath);
    loading.soundFontLabel = shared.soundFontName;
    // Without a song to render, the samples are not kept in memory; the next song loads them.
    if (!shared.midiParsed || shared.midiPath.empty() || loading.rendering) synth->ReleaseSoundFont();
    // The song sounds with the new SoundFont from where it was.
    if (shared.midiParsed && !shared.midiPath.empty() && !loading.rendering) {
        shared.resumeAt = loading.placeBeforeLoad;
        shared.songReady = false;
        shared.rendered = false;
        shared.refreshBits |= RefreshNotesView;
        if (!synth->StartRender()) {
            shared.resumeAt = -1.0;
            shared.midiParsed = false;
            if (controlPanel != nullptr) controlPanel->ForgetSong();
            if (notesView != nullptr) notesView->SetSong(nullptr);
            shared.song.reset();
            loading.midiLabel = res::LoadString(res::IdsNoMidiFileLoaded);
            if (shared.dialogs != nullptr)
                shared.dialogs->ShowError(synth->lastError, res::LoadString(res::IdsError));
            return;
        }
        shared.rendered = true;
        loading.renderProgress = 0;
        loading.rendering = true;
    }
}
