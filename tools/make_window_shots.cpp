// make_window_shots: draws the window's panels off-screen at 800x500 pixels over a song, the way
// the window lays them out, and saves the frames the user guide's screenshots are made of: the
// legend scrolled, a control's tip, the key overlay, the song's words, the choice of what the song
// sounds on, and free play with the chord held named.
//
//   make_window_shots SONG.mid OUT_FOLDER
//
// It draws from the panels' own code with the real artwork and the system's font, so a frame is
// what the window shows for the same song and mouse.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/panel_layout.h"
#include "midi/lyrics.h"
#include "midi/midi_reader.h"
#include "platform/graphics_sdl.h"
#include "ui/control_panel.h"
#include "ui/window_help.h"
#include "view/notes_view.h"
#include "view/time_bar.h"

namespace {

constexpr int kWidth = 800, kHeight = 500;

struct Window {
    std::unique_ptr<platform::OffscreenRenderTarget> target;
    GraphicsDevice device;
    PointI mouse{0, 0};
    NotesView notes;
    TimeBar timeBar;
    ControlPanel panel;
    WindowHelp help;
    PanelLayout layout;
    float scale = 1;

    bool Open(const SongData& song) {
        std::string error;
        target = platform::OffscreenRenderTarget::Create(kWidth, kHeight, &error);
        if (target == nullptr) {
            std::fprintf(stderr, "make_window_shots: %s\n", error.c_str());
            return false;
        }
        scale = UiScaleFor(kWidth, kHeight);
        target->SetScale(scale);
        device.target = target.get();
        device.clientWidth = target->Width();
        device.clientHeight = target->Height();
        layout = LayOutPanels(static_cast<float>(device.clientWidth), static_cast<float>(device.clientHeight),
                              kDefaultControlPanelWidth, kDefaultTimeBarHeight, kSplitterHalfWidth, false);
        Panel* const panels[3] = {&notes, &timeBar, &panel};
        const uint16_t backgrounds[3] = {PalClear, PalTimeBar, PalControlPanel};
        for (int i = 0; i < 3; ++i) {
            panels[i]->palette = &kDefaultPalette;
            panels[i]->background = backgrounds[i];
            panels[i]->Init(&device, &mouse);
            panels[i]->CreateBrushes();
        }
        notes.Build();
        panel.Build(UserGuideUrl());
        notes.SetSong(&song);
        return true;
    }

    // What the panel lists of the song's outputs (null: none), and a frame without a song.
    const OutputListView* outputs = nullptr;
    bool noSong = false;

    // One frame at `songTime` with the mouse at `at` (design units).
    void Frame(const SongData& song, float songTime, PointI at, const std::string& name) {
        mouse = at;
        SongView shown;
        shown.song = noSong ? nullptr : &song;
        shown.songLoaded = shown.songReady = !noSong;
        shown.play = PlayView::Playing;
        shown.songTime = songTime;
        target->BeginDraw();
        target->Clear(PaletteColour(kDefaultPalette.colour[PalClear]));
        const RectF& n = layout.notesView;
        notes.SetRect(n.left, n.top, n.right, n.bottom);
        notes.Update(songTime);
        notes.DrawBackground();
        notes.Draw(shown);
        const RectF& t = layout.timeBar;
        timeBar.SetRect(t.left, t.top, t.right, t.bottom);
        timeBar.DrawBackground();
        timeBar.Draw(shown);
        const RectF& p = layout.controlPanel;
        panel.SetRect(p.left, p.top, p.right, p.bottom);
        panel.DrawBackground();
        PanelSnapshot panelShows;
        panelShows.song = shown;
        panelShows.soundFontLabel = "TimGM6mb";
        panelShows.midiLabel = noSong ? std::string_view("no MIDI file loaded") : std::string_view(name);
        panelShows.outputs = outputs;
        (void)panel.Frame(panelShows);
        help.Draw(*target,
                  {0, 0, static_cast<float>(device.clientWidth), static_cast<float>(device.clientHeight)}, n,
                  n.top + notes.notesHeight, songTime, 0.0);
        target->EndDraw();
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_window_shots SONG.mid OUT_FOLDER\n");
        return 2;
    }
    const std::string folder = argv[2];
    std::vector<uint8_t> bytes;
    auto song = std::make_unique<SongData>();
    if (!ReadMidiFile(*song, argv[1], &bytes)) {
        std::fprintf(stderr, "make_window_shots: cannot read %s\n", argv[1]);
        return 1;
    }
    Window w;
    if (!w.Open(*song)) return 1;
    const std::string name = "band";
    auto save = [&](const char* file) {
        const std::string path = folder + "/" + file;
        if (!w.target->SavePng(path))
            std::fprintf(stderr, "make_window_shots: cannot write %s\n", path.c_str());
    };
    const float t = 12.0f;
    // The legend scrolled by the wheel down to its last rows, the mouse resting on one of them.
    w.Frame(*song, t, {0, 0}, name);
    const RectF rows = w.panel.legend.rowsArea;
    const PointI overRows{static_cast<int>((rows.left + rows.right) / 2), static_cast<int>(rows.top + 10)};
    (void)w.panel.legend.Wheel(overRows, -20);
    w.Frame(*song, t, {static_cast<int>(rows.right - 30), static_cast<int>(rows.top + 2 * 18 + 9)}, name);
    save("legend-scrolled-800x500.png");
    // The tip of "Load MIDI" once the mouse has rested on it.
    const Button& midi = w.panel.midiButton;
    const PointI onMidi{static_cast<int>((midi.left + midi.right) / 2),
                        static_cast<int>((midi.top + midi.bottom) / 2)};
    for (int i = 0; i <= ControlPanel::kTipFrames; ++i) w.Frame(*song, t, onMidi, name);
    save("tooltip-load-midi.png");
    // The key overlay (F1).
    w.help.keysShown = true;
    w.Frame(*song, t, {0, 0}, name);
    save("key-overlay.png");
    w.help.keysShown = false;
    // The words above the keyboard, in the middle of a line.
    w.help.lyrics = ReadLyrics(bytes.data(), bytes.size());
    w.Frame(*song, 10.8f, {0, 0}, name);
    save("lyrics.png");
    w.help.lyrics = {};
    // What the song sounds on, opened, an instrument chosen.
    OutputListView outputs;
    outputs.names = {"SoundFont", "Digital piano MIDI 1", "Synth module"};
    outputs.chosen = 1;
    outputs.delayMs = 20;
    w.outputs = &outputs;
    w.panel.outputs.open = true;
    w.Frame(*song, t, {0, 0}, name);
    save("sound-output-choice.png");
    // Free play: no song, the player holding A C E G, named over the keyboard.
    w.noSong = true;
    w.panel.outputs.open = false;
    outputs.chosen = 0;
    w.notes.SetSong(nullptr);
    NotesViewOptions free;
    for (const int key : {57, 60, 64, 67}) free.playerKeys.set(static_cast<size_t>(key));
    free.chordName = "Am7";
    free.scoreText =
        "Free play on the computer keyboard (A to ' and W to P, Z and X for octaves): what you "
        "play is kept; Tab to stop and save it";
    free.letterBase = 53;
    w.notes.SetOptions(free);
    w.Frame(*song, 0.0f, {0, 0}, name);
    save("free-play-chord.png");
    return 0;
}
