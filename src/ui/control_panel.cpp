#include "ui/control_panel.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>

#include "core/file_access.h"
#include "core/session_state.h"
#include "midi/midi_reader.h"
#include "platform/dialogs.h"
#include "resources/strings.h"
#include "settings/settings.h"
#include "synth/render_overview.h"

namespace {

constexpr int kLogoImage = 145;
constexpr float kLogoMaxHeight = 50.0f;
constexpr float kLogoMaxWidth = 173.62204f;  // 50 x 441 / 127: the logo's width at its greatest height
constexpr const char* kGuideName = "user-guide.html";

// Palette entries.
constexpr int kWhite = 9;
constexpr int kText = 8;
constexpr int kTransport = 10;      // light grey: plainly there to be pressed
constexpr int kTransportHover = 9;  // white
// A control that cannot be used now: plainly dimmed against the panel's dark blue.
constexpr ColourF kDimmed = {0.22f, 0.26f, 0.32f, 1.0f};
constexpr int kDimText = 10;

// The legend fills the panel's middle: from below the export notice to above the song time.
constexpr float kLegendTop = 465.0f;
constexpr float kLegendBottomGap = 115.0f;

}  // namespace

int FileKindOfPath(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return 0;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "mid" || ext == "midi" || ext == "kar" || ext == "rmi") return FileMidi;
    if (ext == "sf2" || ext == "sf3") return FileSoundFont;
    return 0;
}

std::string UserGuideUrl() {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    std::vector<fs::path> candidates;
    if (!error) candidates.push_back(exe.parent_path() / "../share/doc/dorvik-midi-player" / kGuideName);
#ifdef DORVIK_SOURCE_DIR
    candidates.push_back(fs::path(DORVIK_SOURCE_DIR) / "docs" / kGuideName);
#endif
    for (const fs::path& p : candidates) {
        if (fs::exists(p, error)) return "file://" + fs::weakly_canonical(p, error).string();
    }
    return candidates.empty() ? std::string() : "file://" + candidates.back().string();
}

void ControlPanel::Build(const std::string& guideUrl, ImageLookup lookup) {
    logo = Bitmap::LoadPng(kLogoImage, device, lookup);
    legend.Build(device, lookup);

    link = LinkButton{};
    link.offsetY = 50;
    link.armed = true;
    link.text = "User guide";
    link.url = guideUrl;
    link.unopenedText = "Nothing on this desktop opens web pages. The user guide is the file " +
                        (guideUrl.rfind("file://", 0) == 0 ? guideUrl.substr(7) : guideUrl);
    exportNotice = LinkButton{};
    exportNotice.offsetY = 430;
    exportNotice.lines = 2;  // "Saved NAME" and "in FOLDER" rarely share one line of the column
    exportNotice.armed = true;

    Button* const buttons[] = {&soundFontButton, &midiButton, &exportButton, &videoButton};
    const int captions[] = {res::IdsLoadSoundfont, res::IdsLoadMidi, res::IdsExportAudio,
                            res::IdsExportVideo};
    const float offsets[] = {150, 250, 350, 390};
    const bool progress[] = {false, true, true, true};
    for (int i = 0; i < 4; ++i) {
        Button& b = *buttons[i];
        b = Button{};
        b.text = res::LoadString(captions[i]);
        b.offsetY = offsets[i];
        b.armed = true;
        b.showProgress = progress[i];
        b.progress = -1.0f;
    }
    enabled = true;

    const SessionState& state = *sharedState;
    soundFontLabel = Label{};
    soundFontLabel.text =
        state.soundFontLoaded ? state.soundFontName : res::LoadString(res::IdsNoSoundfontLoaded);
    soundFontLabel.offsetY = 190;
    midiLabel = Label{};
    midiLabel.text = state.rendered ? state.midiName : res::LoadString(res::IdsNoMidiFileLoaded);
    midiLabel.offsetY = 290;

    for (Button* b : buttons) {
        b->device = device;
        b->brushes = brushes;
    }
    link.device = exportNotice.device = device;
    link.brushes = exportNotice.brushes = brushes;
    link.opener = exportNotice.opener = state.dialogs;
    soundFontLabel.device = midiLabel.device = device;
    soundFontLabel.brushes = midiLabel.brushes = brushes;
    action = ActionNone;
}

void ControlPanel::Frame() {
    SessionState& state = *sharedState;

    // The pending action, once the button is up (and for a large button two frames later).
    if (action != ActionNone && !mouseDown && idleFrames >= 2) {
        if (action == ActionLoadFile) {
            LoadFile(fileKind);
        } else if (action != ActionRendering) {
            // Posted, not written over: a command that became pending since the press (a count-in
            // started from the keyboard, say) must run its course.
            state.Post(static_cast<uint16_t>(action));
        }
        if (action != ActionRendering) action = ActionNone;
    }

    const bool canStart = enabled && state.command == CmdNone;
    link.Update(left, right, top, mousePoint, mouseDown);
    if (!exportNotice.text.empty()) exportNotice.Update(left, right, top, mousePoint, mouseDown);

    // A large button's click: a song that plays stops at once; the action runs once the button
    // has been up for two frames.
    auto start = [&](int32_t newAction, int32_t kind) {
        placeBeforeLoad = songTime;
        if (state.playState == Playing) state.command = CmdStop;
        enabled = false;
        fileKind = kind;
        action = newAction;
        idleFrames = 0;
    };
    if (soundFontButton.Update(left, right, top, mousePoint, mouseDown) && canStart &&
        !RefuseLoadWhileVideoExports()) {
        start(ActionLoadFile, FileSoundFont);
    }
    if (midiButton.Update(left, right, top, mousePoint, mouseDown) && canStart &&
        !RefuseLoadWhileVideoExports()) {
        if (!state.soundFontLoaded) {
            ShowErrorBox(state, res::IdsNoSoundfontLoaded, res::IdsError);
        } else {
            start(ActionLoadFile, FileMidi);
        }
    }
    if (exportButton.Update(left, right, top, mousePoint, mouseDown) && canStart) {
        start(ActionExport, fileKind);
    }
    // While a video export runs, its button stops it; it needs no free command slot for that.
    if (videoButton.Update(left, right, top, mousePoint, mouseDown)) {
        if (videoExportRunning) {
            videoCancelRequested = true;
        } else if (canStart) {
            start(ActionExportVideo, fileKind);
        }
    }

    if (action == ActionRendering && synth != nullptr) TakeRenderStatus(synth->RenderStep());

    if (!mouseDown) {
        if (action == ActionNone) enabled = true;
        ++idleFrames;
    }

    DrawTransport();
    DrawLogo();
    soundFontLabel.Draw(left, right, top);
    midiLabel.Draw(left, right, top);
    DrawTime();
    legend.SetSong(state.midiParsed ? state.song.get() : nullptr);
    // The legend moves down below the export notice while one shows.
    const float legendTop = exportNotice.text.empty()
                                ? kLegendTop
                                : std::max(kLegendTop, exportNotice.offsetY + exportNotice.Height() + 10);
    legend.Draw(device, {left, top + legendTop, right, bottom - kLegendBottomGap}, brushes[kText],
                brushes[kDimText]);
}

void ControlPanel::DrawTransport() {
    SessionState& state = *sharedState;
    platform::RenderTarget* target = Target();
    const float x0 = std::max(left + 20, (width - 130) * 0.5f + left + 20);
    const float t = bottom - 40;
    const float b = bottom - 20;
    transportButtons[TransportRewind] = {x0, t, x0 + 25, b};
    transportButtons[TransportPlayPause] = {x0 + 35, t, x0 + 60, b};
    transportButtons[TransportStop] = {x0 + 70, t, x0 + 95, b};

    const bool usable =
        state.midiParsed && state.songReady && action == ActionNone && state.command == CmdNone;
    const bool armed = mouseDown && usable;
    const bool playing = state.playState == Playing;
    const int32_t actions[3] = {ActionRewind, playing ? ActionPause : ActionPlay, ActionStop};

    for (int i = 0; i < 3; ++i) {
        const RectF& r = transportButtons[i];
        const float mx = static_cast<float>(mouseX);
        const float my = static_cast<float>(mouseY);
        const bool over = r.left <= mx && mx <= r.right && r.top <= my && my <= r.bottom;
        ColourF colour = brushes[kTransport];
        if (!usable && state.command != CmdCountIn) colour = kDimmed;
        float d = 0;
        if (over && usable) {
            colour = brushes[kTransportHover];
            if (armed) {
                action = actions[i];
                d = 1;
                if (i == TransportStop) state.refreshBits = RefreshAll;
            }
        }
        if (target == nullptr) continue;
        switch (i) {
            case TransportRewind:
                target->FillRect({x0 + d, t + d, x0 + 5 + d, b + d}, colour);
                for (int k = 0; k < 15; ++k) {
                    const float x = x0 + 5 + static_cast<float>(k) + d;
                    target->DrawLine(x, t + 0.625f * static_cast<float>(k) + 10 + d, x,
                                     b - 0.625f * static_cast<float>(k) - 10 + d, colour, 1);
                }
                break;
            case TransportPlayPause:
                if (playing) {
                    target->FillRect({x0 + 40 + d, t + d, x0 + 45 + d, b + d}, colour);
                    target->FillRect({x0 + 50 + d, t + d, x0 + 55 + d, b + d}, colour);
                } else {
                    for (int k = 0; k < 20; ++k) {
                        const float x = x0 + 40 + static_cast<float>(k) + d;
                        target->DrawLine(x, t + 0.5f * static_cast<float>(k) + d, x,
                                         b - 0.5f * static_cast<float>(k) + d, colour, 1);
                    }
                }
                break;
            case TransportStop:
                target->FillRect({x0 + 75 + d, t + d, x0 + 95 + d, b + d}, colour);
                break;
        }
    }
}

void ControlPanel::DrawLogo() {
    platform::RenderTarget* target = Target();
    if (target == nullptr) return;
    float w = right - left + 1;
    float h = w * 127 / 441;
    float x = left;
    if (h > kLogoMaxHeight) {
        h = kLogoMaxHeight;
        w = kLogoMaxWidth;
        x = (width - kLogoMaxWidth) * 0.5f + left;
    }
    target->FillRect({left, top, right, top + h}, brushes[kWhite]);
    logo.Draw(x, top, x + w, top + h, 1.0f);
}

void ControlPanel::DrawTime() {
    if (device == nullptr) return;
    const SessionState& state = *sharedState;
    if (!state.midiParsed || !state.songReady || !state.song) {
        device->DrawTextMedium(FormatSongTime(songTime), left, bottom - 100, static_cast<int>(width), 20,
                               brushes[kText]);
        return;
    }
    // The position in the large digits and the length under it ("/ 01:37.9"): one line of both
    // would not fit the panel's narrow column.
    device->DrawTextMedium(FormatSongTime(std::max(static_cast<double>(songTime), 0.0)), left, bottom - 108,
                           static_cast<int>(width), 20, brushes[kText]);
    device->DrawTextSmall("/ " + FormatSongTime(state.song->duration), left, bottom - 80,
                          static_cast<int>(width), 14, brushes[kText]);
}

void ControlPanel::ShowExportNotice(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path full = fs::absolute(path, error);
    if (error) full = path;
    const std::string folder = full.parent_path().string();
    std::string shown = folder;
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        const std::string h = home;
        if (shown == h) {
            shown = "~";
        } else if (shown.rfind(h + "/", 0) == 0) {
            shown = "~" + shown.substr(h.size());
        }
    }
    exportNotice.text = "Saved " + full.filename().string() + " in " + shown;
    exportNotice.url = "file://" + folder;
    exportNotice.unopenedText = "Nothing on this desktop opens folders. The file is " + full.string();
}

bool ControlPanel::DropFile(const std::string& path) {
    SessionState& state = *sharedState;
    const int kind = FileKindOfPath(path);
    if (kind == 0) {
        if (state.dialogs != nullptr) {
            state.dialogs->ShowError("\"" + path + "\" is neither a MIDI file nor a SoundFont.",
                                     res::LoadString(res::IdsError));
        }
        return false;
    }
    if (!enabled || state.command != CmdNone || action != ActionNone) return false;
    if (RefuseLoadWhileVideoExports()) return false;
    if (kind == FileMidi && !state.soundFontLoaded) {
        ShowErrorBox(state, res::IdsNoSoundfontLoaded, res::IdsError);
        return false;
    }
    placeBeforeLoad = songTime;
    if (state.playState == Playing) state.command = CmdStop;
    LoadChosenFile(kind, path);
    return true;
}

bool ControlPanel::LoadFile(int kind) {
    SessionState& state = *sharedState;
    mouseDown = false;
    if (kind != FileMidi && kind != FileSoundFont) return true;

    const bool midi = kind == FileMidi;
    std::string path;
    if (state.dialogs == nullptr ||
        !state.dialogs->OpenFile(res::LoadString(midi ? res::IdsSelectMidiFile : res::IdsSelectSoundfont),
                                 res::LoadString(midi ? res::IdsMidiFiles : res::IdsSoundfontFilter),
                                 midi ? std::vector<std::string>{"*.mid", "*.midi", "*.kar", "*.rmi"}
                                      : std::vector<std::string>{"*.sf2", "*.sf3"},
                                 path)) {
        return false;
    }

    LoadChosenFile(kind, path);
    return true;
}

bool ControlPanel::RefuseLoadWhileVideoExports() {
    if (!videoExportRunning) return false;
    SessionState& state = *sharedState;
    const std::string text =
        "A video is being exported from the current song. Load another file once it has finished, "
        "or click \"Export video\" to stop it.";
    if (state.dialogs != nullptr) {
        state.dialogs->ShowError(text, res::LoadString(res::IdsExportVideo));
    } else {
        std::fprintf(stderr, "%s: %s\n", res::LoadString(res::IdsExportVideo), text.c_str());
    }
    return true;
}

void ControlPanel::LoadChosenFile(int kind, const std::string& path) {
    if (RefuseLoadWhileVideoExports()) return;
    if (kind == FileMidi) {
        LoadMidi(path);
    } else {
        LoadSoundFontFile(path);
    }
}

void ControlPanel::LoadMidi(const std::string& path) {
    SessionState& state = *sharedState;
    // The new song is read aside first: a file that does not load leaves the current song loaded,
    // playable and where it was.
    auto song = std::make_unique<SongData>();
    if (!ReadMidiFile(*song, path)) {
        // The same words the command line prints for this file.
        const std::string why = MidiLoadFailureText(*song);
        if (state.dialogs != nullptr) {
            state.dialogs->ShowError(why, res::LoadString(res::IdsError));
        } else {
            std::fprintf(stderr, "%s: %s\n", res::LoadString(res::IdsError), why.c_str());
        }
        return;
    }
    // The SoundFont is loaded again before anything of the current song is dropped: if its file
    // has gone since, the current song stays loaded and playable.
    if (synth != nullptr) {
        if (const Failure loaded = synth->LoadSoundFont(state.soundFontPath); !loaded.Ok()) {
            if (state.dialogs != nullptr)
                state.dialogs->ShowError(loaded.text, res::LoadString(res::IdsError));
            return;
        }
    }
    state.midiPath = path;
    state.resumeAt = -1.0;    // a new song starts at its start
    legend.SetSong(nullptr);  // the next song may take the same address
    state.song = std::move(song);
    state.midiParsed = true;
    state.rendered = false;
    state.songReady = false;
    state.refreshBits |= RefreshNotesView;     // no key stays lit from the song before
    midiLabel.text = FileTitleFromPath(path);  // the song's name while it renders
    const Failure started =
        synth != nullptr ? synth->StartRender({path, state.soundFontPath, state.song.get()}, renderFolder)
                         : Failure::Because(FailureKind::Render, "The synthesiser is not available");
    if (synth != nullptr) state.outputWavPath = synth->OutputPath();
    if (!started.Ok()) {
        // Nothing runs, so nothing may look as if it were rendering; say why.
        midiLabel.text = res::LoadString(res::IdsNoMidiFileLoaded);
        if (state.dialogs != nullptr) state.dialogs->ShowError(started.text, res::LoadString(res::IdsError));
        return;
    }
    state.rendered = true;
    midiButton.progress = 0;
    action = ActionRendering;
}

void ControlPanel::LoadSoundFontFile(const std::string& path) {
    SessionState& state = *sharedState;
    // A SoundFont that does not load changes nothing: the one before stays, and so does the song.
    const Failure loaded = synth != nullptr ? synth->LoadSoundFont(path)
                                            : Failure::Because(FailureKind::SoundFont,
                                                               "The SoundFont \"" + path +
                                                                   "\" could not be loaded: the synthesiser "
                                                                   "is not available");
    if (!loaded.Ok()) {
        if (state.dialogs != nullptr) state.dialogs->ShowError(loaded.text, res::LoadString(res::IdsError));
        return;
    }
    state.soundFontPath = path;
    // The choice is kept the moment it is made, and only then: a window never writes back a
    // setting it did not change, so closing a second window cannot undo this one's choice. A
    // settings file that cannot be written loses nothing but the memory of the choice.
    (void)WriteSettings({path});
    state.soundFontLoaded = true;
    state.soundFontName = FileTitleFromPath(state.soundFontPath);
    soundFontLabel.text = state.soundFontName;
    // Without a song to render, the samples are not kept in memory; the next song loads them.
    if (!state.midiParsed || state.midiPath.empty() || action == ActionRendering) synth->ReleaseSoundFont();
    // The song sounds with the new SoundFont from where it was.
    if (state.midiParsed && !state.midiPath.empty() && action != ActionRendering) {
        state.resumeAt = placeBeforeLoad;
        state.songReady = false;
        state.rendered = false;
        state.refreshBits |= RefreshNotesView;
        const Failure started =
            synth->StartRender({state.midiPath, state.soundFontPath, state.song.get()}, renderFolder);
        state.outputWavPath = synth->OutputPath();
        if (!started.Ok()) {
            state.resumeAt = -1.0;
            state.midiParsed = false;
            state.song.reset();
            midiLabel.text = res::LoadString(res::IdsNoMidiFileLoaded);
            if (state.dialogs != nullptr)
                state.dialogs->ShowError(started.text, res::LoadString(res::IdsError));
            return;
        }
        state.rendered = true;
        midiButton.progress = 0;
        action = ActionRendering;
    }
}

void ControlPanel::TakeRenderStatus(const RenderStatus& status) {
    if (status.outcome == RenderOutcome::Running) {
        midiButton.progress = status.progress;
        return;
    }
    SessionState& state = *sharedState;
    state.rendered = status.outcome == RenderOutcome::Finished;
    if (state.rendered) {
        state.midiName = FileTitleFromPath(state.midiPath);
        midiLabel.text = state.midiName;
        if (state.midiParsed) {
            state.songReady =
                synth->renderFile != nullptr &&
                ReadRenderOverview(synth->renderFile->fd(), synth->OutputPath(), state.overview).Ok();
            state.overviewLoaded = true;
            state.command = CmdPreparePlayback;
        }
    } else {
        state.songReady = false;
        midiLabel.text = res::LoadString(res::IdsNoMidiFileLoaded);
        if (state.dialogs != nullptr && !status.failure.text.empty()) {
            state.dialogs->ShowError(status.failure.text, res::LoadString(res::IdsError));
        }
    }
    midiButton.progress = -1.0f;
    action = ActionNone;
}
