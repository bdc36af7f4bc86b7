#include "ui/control_panel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "resources/strings.h"

namespace {

constexpr float kLogoMaxHeight = 50.0f;
constexpr float kLogoMaxWidth = 173.62204f;  // 50 x 441 / 127: the logo's width at its greatest height
constexpr const char* kGuideName = "user-guide.html";

// Palette entries.
constexpr int kWhite = 9;
constexpr int kTransport = 10;      // light grey: plainly there to be pressed
constexpr int kTransportHover = 9;  // white
// A control that cannot be used now: plainly dimmed against the panel's dark blue.
constexpr ColourF kDimmed = {0.22f, 0.26f, 0.32f, 1.0f};
constexpr int kDimText = 10;

// The legend fills the panel's middle: from below the export notice to above the song time.
constexpr float kLegendTop = 465.0f;
// Where the buttons and the export notice stand below the panel's top in a panel of full height.
constexpr float kSoundFontOffset = 150.0f;
constexpr float kMidiOffset = 250.0f;
constexpr float kExportOffset = 350.0f;
constexpr float kVideoOffset = 390.0f;
constexpr float kNoticeOffset = 430.0f;
constexpr float kLegendBottomGap = 117.0f;
// From the bottom up: the transport buttons, the volume and the speed sliders, the song's length
// and its place, packed so that the legend above keeps its rows in the smallest window.
constexpr float kTimeBottomGap = 111.0f;
constexpr float kLengthBottomGap = 88.0f;
constexpr float kSpeedBottomGap = 73.0f;
constexpr float kVolumeBottomGap = 52.0f;
constexpr float kTransportBottomGap = 30.0f;
// Why the export buttons cannot act stands here, below them.
constexpr float kExportHintOffset = 428.0f;
// In a short panel everything from "Load SoundFont" down moves up into the room under the link, at
// most this far, until the legend has room for this many rows (three and the "+N more" line).
constexpr float kMostLift = 70.0f;
constexpr int kLegendRowsWanted = 4;
constexpr int kNoticeMostLines = 8;

}  // namespace

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
    logo = Bitmap::LoadPng(ImageLogo, device, lookup);
    legend.Build(device, lookup);

    link = LinkButton{};
    link.offsetY = 50;
    link.armed = true;
    link.text = "User guide";
    link.url = guideUrl;
    link.unopenedText = "Nothing on this desktop opens web pages. The user guide is the file " +
                        (guideUrl.rfind("file://", 0) == 0 ? guideUrl.substr(7) : guideUrl);
    exportNotice = LinkButton{};
    exportNotice.offsetY = kNoticeOffset;
    exportNotice.lines = 2;  // "Saved NAME" and "in FOLDER" rarely share one line of the column
    exportNotice.armed = true;

    Button* const buttons[] = {&soundFontButton, &midiButton, &exportButton, &videoButton};
    const res::StringId captions[] = {res::IdsLoadSoundfont, res::IdsLoadMidi, res::IdsExportAudio,
                                      res::IdsExportVideo};
    const float offsets[] = {kSoundFontOffset, kMidiOffset, kExportOffset, kVideoOffset};
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

    volume = Slider{};
    volume.caption = "Volume";
    volume.device = device;
    volume.brushes = brushes;
    speed = Slider{};
    speed.caption = "Speed";
    speed.device = device;
    speed.brushes = brushes;
    speed.lowest = PracticeChoice::kMinSpeed;
    speed.highest = PracticeChoice::kMaxSpeed;
    speed.step = PracticeChoice::kSpeedStep;
    inputs = InputList{};
    inputs.Build(device, brushes);

    soundFontLabel = Label{};
    soundFontLabel.offsetY = kSoundFontOffset + 40;
    midiLabel = Label{};
    midiLabel.offsetY = kMidiOffset + 40;

    for (Button* b : buttons) {
        b->device = device;
        b->brushes = brushes;
    }
    link.device = exportNotice.device = device;
    link.brushes = exportNotice.brushes = brushes;
    soundFontLabel.device = midiLabel.device = device;
    soundFontLabel.brushes = midiLabel.brushes = brushes;
}

PanelRequest ControlPanel::Frame(const PanelSnapshot& shown) {
    const SongView& song = shown.song;
    PanelIntent intent = PanelIntent::None;
    auto ask = [&](PanelIntent i) {
        if (intent == PanelIntent::None) intent = i;
    };

    LayOut();
    if (link.Update(left, right, top, mousePoint, mouseDown)) ask(PanelIntent::OpenGuide);
    if (!exportNotice.text.empty() && exportNotice.Update(left, right, top, mousePoint, mouseDown))
        ask(PanelIntent::OpenExportFolder);

    midiButton.progress = shown.renderProgress;
    const bool exportBlocked = !shown.exportBlocked.empty();
    exportButton.dimmed = exportBlocked;
    videoButton.dimmed = exportBlocked && !videoExportRunning;
    if (soundFontButton.Update(left, right, top, mousePoint, mouseDown) && shown.canStart)
        ask(PanelIntent::ChooseSoundFont);
    if (midiButton.Update(left, right, top, mousePoint, mouseDown) && shown.canStart)
        ask(PanelIntent::ChooseMidi);
    if (exportButton.Update(left, right, top, mousePoint, mouseDown) && shown.canStart &&
        !exportButton.dimmed)
        ask(PanelIntent::ExportAudio);
    // While a video export runs, its button stops it; that needs no free moment for an action.
    if (videoButton.Update(left, right, top, mousePoint, mouseDown)) {
        if (videoExportRunning) {
            ask(PanelIntent::CancelVideoExport);
        } else if (shown.canStart && !videoButton.dimmed) {
            ask(PanelIntent::ExportVideo);
        }
    }
    if ((exportButton.dimmed && exportButton.state != WidgetNormal) ||
        (videoButton.dimmed && videoButton.state != WidgetNormal)) {
        DrawExportHint(shown.exportBlocked, kExportHintOffset - lift);
    }

    // The volume is never held back: it changes only what is heard, whatever else goes on.
    const float volumeTop = bottom - kVolumeBottomGap;
    switch (volume.Update(left, right, volumeTop, mousePoint, mouseDown, shown.volumePercent)) {
        case SliderChange::Moved:
            ask(PanelIntent::SetVolume);
            break;
        case SliderChange::Released:
            ask(PanelIntent::KeepVolume);
            break;
        case SliderChange::None:
            break;
    }
    // The speed is asked for when the slider is let go: each change renders the song again from
    // its place, which a drag would ask for at every step.
    const float shownSpeed =
        song.practice != nullptr ? static_cast<float>(song.practice->speedPercent) : 100.0f;
    // Once the song's tempo is known, the speed's caption is the beats a minute heard, the figure
    // a teacher or a metronome gives, beside the percent of the song's own.
    char caption[24] = "Speed";
    if (shown.beatsPerMinute > 0)
        std::snprintf(caption, sizeof caption, "%.0f BPM", static_cast<double>(shown.beatsPerMinute));
    if (speed.caption != caption) speed.caption = caption;
    if (speed.Update(left, right, bottom - kSpeedBottomGap, mousePoint, mouseDown, shownSpeed) ==
        SliderChange::Released)
        ask(PanelIntent::SetSpeed);
    ask(DrawTransport(song));
    DrawLogo();
    soundFontLabel.text = shown.soundFontLabel;
    midiLabel.text = shown.midiLabel;
    soundFontLabel.Draw(left, right, top);
    midiLabel.Draw(left, right, top);
    DrawTime(song);
    legend.SetSong(song.songLoaded ? song.song : nullptr);
    // The keyboards take the legend's lower part while playing along; the legend keeps the rest.
    float legendBottom = bottom - kLegendBottomGap;
    InputListAnswer inputAnswer;
    if (shown.inputs != nullptr) {
        const float listTop =
            std::max(top + LegendTop(), legendBottom - InputList::HeightFor(shown.inputs->names.size()));
        inputAnswer = inputs.Draw(device, {left, listTop, right, legendBottom}, *shown.inputs,
                                  brushes[PalText], brushes[kDimText], mousePoint, mouseDown, pressed);
        legendBottom = listTop;
        if (inputAnswer.chosen >= 0) ask(PanelIntent::ChooseInput);
        if (inputAnswer.volume == SliderChange::Moved) ask(PanelIntent::SetKeysVolume);
        if (inputAnswer.volume == SliderChange::Released) ask(PanelIntent::KeepKeysVolume);
    }
    const int clicked =
        legend.Draw(device, {left, top + LegendTop(), right, legendBottom}, brushes[PalText],
                    brushes[kDimText], mousePoint, brushes[background], pressed, song.practice);
    if (clicked >= 0 && song.songReady) ask(PanelIntent::CyclePart);
    PanelRequest request;
    request.intent = intent;
    if (intent == PanelIntent::SetVolume || intent == PanelIntent::KeepVolume) request.volume = volume.value;
    if (intent == PanelIntent::SetSpeed) request.speed = speed.value;
    if (intent == PanelIntent::CyclePart) request.part = clicked;
    if (intent == PanelIntent::ChooseInput) request.input = inputAnswer.chosen;
    if (intent == PanelIntent::SetKeysVolume || intent == PanelIntent::KeepKeysVolume)
        request.volume = inputs.volume.value;
    return request;
}

float ControlPanel::LegendTop() const {
    // The legend moves down below the export notice while one shows.
    const float below = kLegendTop - lift;
    return exportNotice.text.empty() ? below
                                     : std::max(below, exportNotice.offsetY + exportNotice.Height() + 10);
}

void ControlPanel::LayOut() {
    // The notice wraps onto as many lines as its text needs, within reason.
    if (!exportNotice.text.empty() && device != nullptr) {
        platform::TextFormat format = device->textSmall;
        const float width = right - left - 8;  // as LinkButton draws it
        int lines = Target() != nullptr ? Target()->WrappedLineCount(exportNotice.text, format, width) : 0;
        if (lines <= 0) lines = EstimatedLines(exportNotice.text, width, format.size);
        exportNotice.lines = std::clamp(lines, 2, kNoticeMostLines);
    }
    lift = 0;
    exportNotice.offsetY = kNoticeOffset;
    const float wanted = VoiceLegend::HeightFor(kLegendRowsWanted);
    const float room = (bottom - kLegendBottomGap) - (top + LegendTop());
    lift = std::clamp(wanted - room, 0.0f, kMostLift);
    soundFontButton.offsetY = kSoundFontOffset - lift;
    soundFontLabel.offsetY = kSoundFontOffset + 40 - lift;
    midiButton.offsetY = kMidiOffset - lift;
    midiLabel.offsetY = kMidiOffset + 40 - lift;
    exportButton.offsetY = kExportOffset - lift;
    videoButton.offsetY = kVideoOffset - lift;
    exportNotice.offsetY = kNoticeOffset - lift;
}

PanelIntent ControlPanel::DrawTransport(const SongView& song) {
    platform::RenderTarget* target = Target();
    const float x0 = std::max(left + 20, (width - 130) * 0.5f + left + 20);
    const float t = bottom - kTransportBottomGap;
    const float b = t + 20;
    transportButtons[TransportRewind] = {x0, t, x0 + 25, b};
    transportButtons[TransportPlayPause] = {x0 + 35, t, x0 + 60, b};
    transportButtons[TransportStop] = {x0 + 70, t, x0 + 95, b};

    const bool usable = song.songLoaded && song.songReady && !song.busy;
    const bool armed = mouseDown && usable;
    const bool playing = song.play == PlayView::Playing;
    const PanelIntent intents[3] = {PanelIntent::Rewind, playing ? PanelIntent::Pause : PanelIntent::Play,
                                    PanelIntent::Stop};
    PanelIntent asked = PanelIntent::None;

    for (int i = 0; i < 3; ++i) {
        const RectF& r = transportButtons[i];
        const bool over = mousePoint != nullptr && r.ContainsClosed(static_cast<float>(mousePoint->x),
                                                                    static_cast<float>(mousePoint->y));
        ColourF colour = brushes[kTransport];
        if (!usable && !song.countingIn) colour = kDimmed;
        float d = 0;
        if (over && usable) {
            colour = brushes[kTransportHover];
            if (armed) {
                asked = intents[i];
                d = 1;
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
    return asked;
}

void ControlPanel::DrawExportHint(std::string_view why, float offset) {
    platform::RenderTarget* target = Target();
    if (target == nullptr || device == nullptr) return;
    // Over the export notice's place, under the export buttons, on the panel's own colour.
    const float hintTop = top + offset;
    target->FillRect({left, hintTop, right, hintTop + 34.0f}, brushes[background]);
    platform::TextFormat& format = device->textSmall;
    format.wrap = true;
    target->DrawText(std::string(why), format, RectF{left + 10, hintTop, right - 10, hintTop + 34.0f},
                     brushes[PalText]);
    format.wrap = false;
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

void ControlPanel::DrawTime(const SongView& song) {
    if (device == nullptr) return;
    const float songTime = song.songTime;
    if (!song.songLoaded || !song.songReady || song.song == nullptr) {
        device->DrawTextMedium(FormatSongTime(songTime), left, bottom - kTimeBottomGap + 8,
                               static_cast<int>(width), 20, brushes[PalText]);
        return;
    }
    // The position in the large digits and the length under it ("/ 01:37.9"): one line of both
    // would not fit the panel's narrow column.
    device->DrawTextMedium(FormatSongTime(std::max(static_cast<double>(songTime), 0.0)), left,
                           bottom - kTimeBottomGap, static_cast<int>(width), 20, brushes[PalText]);
    device->DrawTextSmall("/ " + FormatSongTime(song.song->duration), left, bottom - kLengthBottomGap,
                          static_cast<int>(width), 14, brushes[PalText]);
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
