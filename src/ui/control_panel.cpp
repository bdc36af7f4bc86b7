#include "ui/control_panel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "resources/strings.h"
#include "view/help_overlay.h"

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
// In a short panel everything from "Load SoundFont" down moves up into the room under the link, and
// the buttons close up, until the legend has room for all its rows (or at least this many), at most
// so far that "Load SoundFont" stands just under the link and each label just over the next button.
constexpr float kCompactSoundFontOffset = 85.0f;
constexpr float kCompactLegendTop = 335.0f;
constexpr float kMostLift = kLegendTop - kCompactLegendTop;
constexpr int kLegendRowsWanted = 4;
constexpr int kNoticeMostLines = 8;

// Why a control cannot act now, said while the mouse is over it.
constexpr std::string_view kNoSongToExport = "Load a MIDI file first: there is nothing to export yet";
constexpr std::string_view kNoSoundFontYet = "Load a SoundFont first: a song is played with one";

// The controls that have a tip, in the order Frame looks at them.
enum TipControl : int {
    TipGuide,
    TipSoundFont,
    TipMidi,
    TipExport,
    TipVideo,
    TipVolume,
    TipSpeed,
    TipRewind,
    TipPlay,
    TipStop,
    TipNotice,
};

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
    outputs = OutputList{};
    outputs.Build(device, brushes);

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

    legend.SetSong(song.songLoaded ? song.song : nullptr);
    LayOut();
    if (link.Update(left, right, top, mousePoint, mouseDown, pressed)) ask(PanelIntent::OpenGuide);
    if (!exportNotice.text.empty() && exportNotice.Update(left, right, top, mousePoint, mouseDown, pressed))
        ask(PanelIntent::OpenExportFolder);

    midiButton.progress = shown.renderProgress;
    exportButton.progress = shown.audioExportProgress;
    videoButton.progress = shown.videoExportProgress;
    const bool videoExportRunning = shown.videoExportProgress >= 0;
    midiButton.dimmed = !shown.soundFontLoaded;
    // Without a song there is nothing to export: the buttons look it, and say it.
    const std::string_view exportWhy = !shown.exportBlocked.empty()
                                           ? shown.exportBlocked
                                           : (!song.songLoaded ? kNoSongToExport : std::string_view());
    const bool exportBlocked = !exportWhy.empty();
    exportButton.dimmed = exportBlocked;
    videoButton.dimmed = exportBlocked && !videoExportRunning;
    if (soundFontButton.Update(left, right, top, mousePoint, mouseDown, pressed) && shown.canStart)
        ask(PanelIntent::ChooseSoundFont);
    if (midiButton.Update(left, right, top, mousePoint, mouseDown, pressed) && shown.canStart &&
        !midiButton.dimmed)
        ask(PanelIntent::ChooseMidi);
    if (exportButton.Update(left, right, top, mousePoint, mouseDown, pressed) && shown.canStart &&
        !exportButton.dimmed)
        ask(PanelIntent::ExportAudio);
    // While a video export runs, its button stops it; that needs no free moment for an action.
    if (videoButton.Update(left, right, top, mousePoint, mouseDown, pressed)) {
        if (videoExportRunning) {
            ask(PanelIntent::CancelVideoExport);
        } else if (shown.canStart && !videoButton.dimmed) {
            ask(PanelIntent::ExportVideo);
        }
    }
    if ((exportButton.dimmed && exportButton.state != WidgetNormal) ||
        (videoButton.dimmed && videoButton.state != WidgetNormal)) {
        DrawExportHint(exportWhy, Lifted(kExportHintOffset));
    }

    // Once the song's tempo is known, the speed's caption is the beats a minute heard, the figure
    // a teacher or a metronome gives, beside the percent of the song's own.
    char caption[24] = "Speed";
    if (shown.beatsPerMinute > 0)
        std::snprintf(caption, sizeof caption, "%.0f BPM", static_cast<double>(shown.beatsPerMinute));
    if (speed.caption != caption) speed.caption = caption;
    // The two sliders share one caption column, as wide as the wider caption needs, so that their
    // tracks line up and a tempo of three figures with its percent ("120 BPM 100%") shows whole.
    const float column = std::max({kSliderCaptionColumn, volume.CaptionNeed(), speed.CaptionNeed()});
    volume.captionWidth = speed.captionWidth = column;

    // The volume is never held back: it changes only what is heard, whatever else goes on.
    const float volumeTop = bottom - kVolumeBottomGap;
    switch (volume.Update(left, right, volumeTop, mousePoint, mouseDown, shown.volumePercent, pressed)) {
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
    if (speed.Update(left, right, bottom - kSpeedBottomGap, mousePoint, mouseDown, shownSpeed, pressed) ==
        SliderChange::Released)
        ask(PanelIntent::SetSpeed);
    ask(DrawTransport(song));
    DrawLogo();
    soundFontLabel.text = shown.soundFontLabel;
    midiLabel.text = shown.midiLabel;
    soundFontLabel.Draw(left, right, top);
    midiLabel.Draw(left, right, top);
    DrawTime(song);
    // The keyboards take the legend's lower part while playing along; the legend keeps the rest.
    float legendBottom = bottom - kLegendBottomGap;
    // What the song sounds on stands lowest, one line until it is opened.
    OutputListAnswer outputAnswer;
    if (shown.outputs != nullptr) {
        const float listTop = std::max(top + LegendTop(), legendBottom - outputs.Height(*shown.outputs));
        outputAnswer = outputs.Draw(device, {left, listTop, right, legendBottom}, *shown.outputs,
                                    brushes[PalText], brushes[kDimText], mousePoint, mouseDown, pressed);
        legendBottom = listTop;
        if (outputAnswer.chosen >= 0) ask(PanelIntent::ChooseOutput);
        if (outputAnswer.delay == SliderChange::Moved) ask(PanelIntent::SetOutputDelay);
        if (outputAnswer.delay == SliderChange::Released) ask(PanelIntent::KeepOutputDelay);
    }
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
    const LegendAnswer part = legend.Draw(
        device, {left, top + LegendTop(), right, legendBottom}, brushes[PalText], brushes[kDimText],
        mousePoint, brushes[background], pressed, song.practice, mouseDown, shown.played);
    if (part.action != LegendAction::None && song.songReady) ask(PanelIntent::CyclePart);
    PanelRequest request;
    request.intent = intent;
    if (intent == PanelIntent::SetVolume || intent == PanelIntent::KeepVolume) request.volume = volume.value;
    DrawTip(shown);
    // The notice goes after a while, or when the user goes on to something else; after this frame's
    // presses have been taken, so that no control moves under a press.
    if (!exportNotice.text.empty() &&
        (++noticeFrames > kNoticeFrames || (pressed && exportNotice.state == WidgetNormal)))
        exportNotice.text.clear();
    if (intent == PanelIntent::SetSpeed) request.speed = speed.value;
    if (intent == PanelIntent::CyclePart) {
        request.part = part.part;
        const PartAction actions[] = {PartAction::Cycle, PartAction::Cycle, PartAction::Mute,
                                      PartAction::Solo, PartAction::Play};
        request.partAction = actions[static_cast<size_t>(part.action)];
    }
    if (intent == PanelIntent::ChooseInput) request.input = inputAnswer.chosen;
    if (intent == PanelIntent::ChooseOutput) request.output = outputAnswer.chosen;
    if (intent == PanelIntent::SetOutputDelay || intent == PanelIntent::KeepOutputDelay)
        request.delayMs = outputs.delay.value;
    if (intent == PanelIntent::SetKeysVolume || intent == PanelIntent::KeepKeysVolume)
        request.volume = inputs.volume.value;
    return request;
}

float ControlPanel::LegendTop() const {
    // The legend moves down below the export notice while one shows.
    const float below = Lifted(kLegendTop);
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
    const float wanted = VoiceLegend::HeightFor(std::max(kLegendRowsWanted, legend.RowCount()));
    const float room = (bottom - kLegendBottomGap) - (top + LegendTop());
    lift = std::clamp(wanted - room, 0.0f, kMostLift);
    soundFontButton.offsetY = Lifted(kSoundFontOffset);
    soundFontLabel.offsetY = Lifted(kSoundFontOffset) + 40;
    midiButton.offsetY = Lifted(kMidiOffset);
    midiLabel.offsetY = Lifted(kMidiOffset) + 40;
    exportButton.offsetY = Lifted(kExportOffset);
    videoButton.offsetY = Lifted(kVideoOffset);
    exportNotice.offsetY = Lifted(kNoticeOffset);
}

float ControlPanel::Lifted(float offset) const {
    // Between the full-height place and the compact one, in proportion: the top control moves least,
    // the legend most, so the gaps between the controls shrink evenly and none ever overlaps the next.
    const float share = std::clamp((offset - kSoundFontOffset) / (kLegendTop - kSoundFontOffset), 0.0f, 1.0f);
    const float most = (kSoundFontOffset - kCompactSoundFontOffset) +
                       share * (kMostLift - (kSoundFontOffset - kCompactSoundFontOffset));
    return offset - lift / kMostLift * most;
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
    // A tap that went down and up since the last frame counts as much as a held press.
    const bool armed = (mouseDown || pressed) && usable;
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

void ControlPanel::DrawTip(const PanelSnapshot& shown) {
    const SongView& song = shown.song;
    const bool playing = song.play == PlayView::Playing;
    int over = -1;
    if (link.state != WidgetNormal) over = TipGuide;
    if (!exportNotice.text.empty() && exportNotice.state != WidgetNormal) over = TipNotice;
    const Button* const buttons[4] = {&soundFontButton, &midiButton, &exportButton, &videoButton};
    for (int i = 0; i < 4; ++i)
        if (buttons[i]->state != WidgetNormal) over = TipSoundFont + i;
    if (volume.state != WidgetNormal) over = TipVolume;
    if (speed.state != WidgetNormal) over = TipSpeed;
    for (int i = 0; i < 3 && mousePoint != nullptr; ++i) {
        if (transportButtons[i].ContainsClosed(static_cast<float>(mousePoint->x),
                                               static_cast<float>(mousePoint->y)))
            over = TipRewind + i;
    }
    if (over != tipControl) {
        tipControl = over;
        tipFrames = 0;
    }
    ++tipFrames;
    tip.clear();
    if (over < 0) return;
    // A control that cannot act says why at once; the others wait for the mouse to rest on them.
    const bool exportDimmed =
        (over == TipExport && exportButton.dimmed) || (over == TipVideo && videoButton.dimmed);
    if (exportDimmed) return;  // said under the buttons already
    std::string why;
    if (over == TipMidi && midiButton.dimmed) why = kNoSoundFontYet;
    const bool usable = song.songLoaded && song.songReady;
    if (over >= TipRewind && over <= TipStop && !usable) why = "Load a MIDI file to play it";
    if (why.empty() && tipFrames < kTipFrames) return;
    switch (over) {
        case TipGuide:
            tip = "Opens the user guide (F1 lists every key)";
            break;
        case TipSoundFont:
            tip = "Choose the SoundFont the song is played with";
            break;
        case TipMidi:
            tip =
                "Open a MIDI or karaoke file (Ctrl+O)\nPage Up, Page Down: the song before or after "
                "it in its folder";
            break;
        case TipExport:
            tip = "Save the song as you hear it: WAV, Ogg, FLAC, ALAC, AAC or MP3";
            break;
        case TipVideo:
            tip = shown.videoExportProgress >= 0 ? "Stop the video export"
                                                 : "Save the falling notes and the sound as a video";
            break;
        case TipVolume:
            tip = "The playback volume (+ and -)";
            break;
        case TipSpeed:
            tip = "The practice speed, the pitch kept ([ and ])";
            break;
        case TipRewind:
            tip = "Back to the start (Home)";
            break;
        case TipPlay:
            tip = playing ? "Pause (Space)" : "Play (Space)";
            break;
        case TipStop:
            tip = "Stop";
            break;
        case TipNotice:
            tip = "Open the folder the file was saved in";
            break;
        default:
            break;
    }
    if (!why.empty()) tip = why;
    platform::RenderTarget* target = Target();
    if (target == nullptr || tip.empty() || mousePoint == nullptr) return;
    HelpColours colours;
    colours.fill = brushes[background];
    colours.text = brushes[PalText];
    (void)DrawTooltip(*target, tip, *mousePoint, {0, top, right, bottom}, colours);
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
    noticeFrames = 0;
    exportNotice.url = "file://" + folder;
    exportNotice.unopenedText = "Nothing on this desktop opens folders. The file is " + full.string();
}
