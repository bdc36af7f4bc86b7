// make_score_shots: draws the window's panels off-screen over a piano song with the score strip
// shown above the falling notes, the way the window lays them out, and saves one frame at each of
// the user guide's two sizes: score-strip-1600x900.png and score-strip-800x500.png.
//
//   make_score_shots SONG.mid OUT_FOLDER [SECONDS]
//
// It draws from the panels' own code with the real artwork, the system's font and the music font,
// so a frame is what the window shows for the same song at the same time.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/panel_layout.h"
#include "midi/midi_reader.h"
#include "midi/note_timeline.h"
#include "platform/graphics_sdl.h"
#include "ui/control_panel.h"
#include "view/notes_view.h"
#include "view/score_strip.h"
#include "view/time_bar.h"

namespace {

// One frame of the window at `width` x `height` pixels at `songTime`, saved as `path`.
bool Shot(const SongData& song, const TempoMap& tempo, const std::vector<uint8_t>& bytes, int width,
          int height, float songTime, const std::string& path) {
    Made<platform::OffscreenRenderTarget> made = platform::OffscreenRenderTarget::Create(width, height);
    if (made.value == nullptr) {
        std::fprintf(stderr, "make_score_shots: %s\n", made.failure.text.c_str());
        return false;
    }
    const std::unique_ptr<platform::OffscreenRenderTarget> target = std::move(made.value);
    target->SetScale(UiScaleFor(width, height));
    GraphicsDevice device;
    device.target = target.get();
    device.clientWidth = target->Width();
    device.clientHeight = target->Height();
    PointI mouse{0, 0};
    NotesView notes;
    TimeBar timeBar;
    ControlPanel panel;
    ScoreStrip strip;
    Panel* const panels[4] = {&notes, &timeBar, &panel, &strip};
    const uint16_t backgrounds[4] = {PalClear, PalTimeBar, PalControlPanel, PalClear};
    for (int i = 0; i < 4; ++i) {
        panels[i]->palette = &kDefaultPalette;
        panels[i]->background = backgrounds[i];
        panels[i]->Init(&device, &mouse);
        panels[i]->CreateBrushes();
    }
    notes.Build();
    panel.Build(UserGuideUrl());
    notes.SetSong(&song);
    strip.shown = true;
    strip.SetSong(&song, &tempo, bytes.data(), bytes.size());
    const PanelLayout layout =
        LayOutPanels(static_cast<float>(device.clientWidth), static_cast<float>(device.clientHeight),
                     kDefaultControlPanelWidth, kDefaultTimeBarHeight, kSplitterHalfWidth, false);

    SongView shown;
    shown.song = &song;
    shown.songLoaded = shown.songReady = true;
    shown.play = PlayView::Playing;
    shown.songTime = songTime;
    // A few frames, so that the keys light up as they do in a running window.
    for (int frame = 0; frame < 3; ++frame) {
        target->BeginDraw();
        target->Clear(PaletteColour(kDefaultPalette.colour[PalClear]));
        const RectF& n = layout.notesView;
        strip.SetRect(n.left, n.top, n.right, n.top + ScoreStripHeight(n.bottom - n.top));
        notes.SetRect(n.left, n.top, n.right, n.bottom);
        notes.Update(songTime);
        notes.DrawBackground();
        notes.Draw(shown);
        strip.Draw(shown);
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
        panelShows.midiLabel = "demo song";
        (void)panel.Frame(panelShows);
        target->EndDraw();
    }
    if (!target->SavePng(path)) {
        std::fprintf(stderr, "make_score_shots: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: make_score_shots SONG.mid OUT_FOLDER [SECONDS]\n");
        return 2;
    }
    std::vector<uint8_t> bytes;
    auto song = std::make_unique<SongData>();
    TempoMap tempo;
    if (!ReadMidiFile(*song, argv[1], &bytes, &tempo)) {
        std::fprintf(stderr, "make_score_shots: cannot read %s\n", argv[1]);
        return 1;
    }
    const float at = argc == 4 ? std::strtof(argv[3], nullptr) : 6.0f;
    const std::string folder = argv[2];
    const bool ok = Shot(*song, tempo, bytes, 1600, 900, at, folder + "/score-strip-1600x900.png") &&
                    Shot(*song, tempo, bytes, 800, 500, at, folder + "/score-strip-800x500.png");
    return ok ? 0 : 1;
}
