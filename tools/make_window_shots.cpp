// make_window_shots: runs the window's controller off-screen at 800x500 pixels over a song, fed
// the mouse and keys a person would use, and saves the frames the user guide's screenshots are
// made of: free play with a chord held and named, the legend scrolled with a part muted, a
// control's tip, the key overlay, the song's words and the choice of what the song sounds on.
//
//   make_window_shots SONG.mid OUT_FOLDER [SOUNDFONT.sf2]
//   make_window_shots --at SECONDS SONG.mid OUT.png [SOUNDFONT.sf2]
//
// The second form saves one frame at 1280x720 of the song playing at SECONDS, drawn as soon as
// the song can be shown (its render still going on): for songs too dense to wait for.
//
// It is the real controller with the real artwork and the system's font, on a silent sound device
// and a settings folder of its own, so a frame is what the window shows for the same song and input.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/player_controller.h"
#include "core/panel_layout.h"
#include "platform/dialogs.h"
#include "platform/graphics_sdl.h"
#include "platform/midi_output.h"
#include "platform/sound.h"
#include "platform/window.h"
#include "synth/background_render.h"
#include "ui/control_panel.h"
#include "view/notes_view.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 800, kHeight = 500;
constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// Nothing is heard: the rings are kept in memory and never played.
class SilentOutput final : public platform::SoundOutput {
  public:
    std::unique_ptr<platform::SoundRing> CreateRing(const platform::SoundFormat&, uint32_t bytes) override {
        return std::make_unique<platform::MemorySoundRing>(bytes);
    }
};

// The mouse is given in design units: the client is as large as the scene.
class DesignSurface final : public InputSurface {
  public:
    explicit DesignSurface(PointI size) : size_(size) {}
    [[nodiscard]] PointI ClientSize() const override { return size_; }
    void SetCursor(int) override {}

  private:
    PointI size_;
};

struct Shots {
    std::unique_ptr<platform::OffscreenRenderTarget> target;
    GraphicsDevice device;
    std::unique_ptr<DesignSurface> surface;
    platform::ScriptedDialogs dialogs;
    SilentOutput output;
    PlayerController c;
    PointI mouse{0, 0};

    bool Open(int width = kWidth, int height = kHeight) {
        Made<platform::OffscreenRenderTarget> made = platform::OffscreenRenderTarget::Create(width, height);
        if (made.value == nullptr) {
            std::fprintf(stderr, "make_window_shots: %s\n", made.failure.text.c_str());
            return false;
        }
        target = std::move(made.value);
        target->SetScale(UiScaleFor(width, height));
        device.target = target.get();
        device.clientWidth = target->Width();
        device.clientHeight = target->Height();
        surface = std::make_unique<DesignSurface>(PointI{device.clientWidth, device.clientHeight});
        c.device = &device;
        c.surface = surface.get();
        c.shared.dialogs = &dialogs;
        c.Initialise(output, UserGuideUrl(), std::chrono::milliseconds(0));
        return true;
    }
    void Frames(int n = 1) {
        for (int i = 0; i < n; ++i) {
            target->BeginDraw();
            c.Frame();
            target->EndDraw();
        }
    }
    void Send(platform::InputKind kind, uint32_t key = 0, int wheel = 0) {
        platform::InputMessage m;
        m.kind = kind;
        m.point = mouse;
        m.keyCode = key;
        m.wheel = wheel;
        c.OnInput(m);
    }
    void MoveTo(PointI at) {
        mouse = at;
        Send(platform::InputKind::MouseMove);
    }
    void Click(PointI at) {
        MoveTo(at);
        Send(platform::InputKind::LeftButtonDown);
        Frames();
        Send(platform::InputKind::LeftButtonUp);
        Frames();
    }
    void Key(uint32_t key) {
        Send(platform::InputKind::KeyDown, key);
        Send(platform::InputKind::KeyUp, key);
    }
    void Keys(const char* keys, platform::InputKind kind) {
        for (const char* k = keys; *k != '\0'; ++k) Send(kind, static_cast<uint32_t>(*k));
    }
    void Save(const std::string& folder, const char* file) {
        const std::string path = folder + "/" + file;
        if (!target->SavePng(path))
            std::fprintf(stderr, "make_window_shots: cannot write %s\n", path.c_str());
    }
};

// A settings folder of the tool's own, naming the SoundFont, so that no user's choices show.
std::string PrivateSettings(const std::string& soundFont) {
    char base[] = "/tmp/make-window-shots-XXXXXX";
    if (mkdtemp(base) == nullptr) return "";
    const fs::path folder = base;
    fs::create_directories(folder / "Dorvik Midi Player");
    std::ofstream(folder / "Dorvik Midi Player" / "settings.ini") << "[Soundfont] = " << soundFont << "\n";
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    setenv("XDG_CACHE_HOME", (folder / "cache").c_str(), 1);
    setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
    return folder.string();
}

// The song at `seconds` as the window shows it while it plays, before its render is done: the
// frame is drawn once the notes view has the song and its key index.
int ShotAt(double seconds, const char* song, const std::string& out) {
    Shots w;
    int status = 1;
    if (w.Open(1280, 720) && w.c.DropFile(fs::absolute(song).string())) {
        w.MoveTo({0, static_cast<int>(w.device.clientHeight) - 1});
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        auto shown = [&w] { return w.c.notesView->song != nullptr && w.c.notesView->indexBuilt; };
        while (!shown() && std::chrono::steady_clock::now() < give_up) {
            w.c.StepLoading();
            w.Frames();
        }
        w.c.SeekToSeconds(seconds);
        w.c.transport.Start();  // nothing is heard: the song stands at `seconds`, playing
        w.Frames(2);
        if (w.c.notesView->indexBuilt && w.target->SavePng(out))
            status = 0;
        else
            std::fprintf(stderr, "make_window_shots: no frame of %s saved to %s\n", song, out.c_str());
    } else {
        std::fprintf(stderr, "make_window_shots: cannot load %s\n", song);
    }
    w.c.ReleaseObjects();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && argc <= 6 && std::string(argv[1]) == "--at") {
        const std::string settings = PrivateSettings(argc == 6 ? argv[5] : kSoundFont);
        if (settings.empty()) return 1;
        const int status = ShotAt(std::atof(argv[2]), argv[3], argv[4]);
        std::error_code ignored;
        fs::remove_all(settings, ignored);
        return status;
    }
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: make_window_shots SONG.mid OUT_FOLDER [SOUNDFONT.sf2]\n");
        return 2;
    }
    const std::string folder = argv[2];
    const std::string settings = PrivateSettings(argc == 4 ? argv[3] : kSoundFont);
    if (settings.empty()) {
        std::fprintf(stderr, "make_window_shots: cannot make a settings folder\n");
        return 1;
    }
    int status = 1;
    {
        Shots w;
        // Free play before any song: Tab, then A minor seventh held on the computer keyboard's
        // letters (E, G, A and C from middle C up), named over the keys. Let go and ended before
        // the song comes; the take is offered and, with no answer scripted, not kept.
        const bool opened = w.Open();
        if (opened) {
            w.MoveTo({0, static_cast<int>(w.device.clientHeight) - 1});
            w.Key('\t');
            w.Keys("dghk", platform::InputKind::KeyDown);
            w.Frames(2);
            w.Save(folder, "free-play-chord.png");
            w.Keys("dghk", platform::InputKind::KeyUp);
            w.Key('\t');
            w.Frames();
        }
        if (opened && w.c.DropFile(fs::absolute(argv[1]).string())) {
            (void)w.c.backgroundRender->Wait();
            w.c.StepLoading();
            w.Frames();
            w.c.SeekToSeconds(12.0);
            w.Frames();

            // The legend scrolled by the wheel down to its last rows, one part muted from its row, and
            // the mouse gone on so that no tip hides the rows.
            const RectF rows = w.c.controlPanel->legend.rowsArea;
            w.MoveTo({static_cast<int>((rows.left + rows.right) / 2), static_cast<int>(rows.top + 10)});
            w.Send(platform::InputKind::Wheel, 0, -20);
            w.Frames();
            constexpr float kRowHeight = 18.0f, kButtonStep = 17.0f;  // as the legend lays out its rows
            const PointI mute{static_cast<int>(rows.right - 9 - 3 * kButtonStep + kButtonStep / 2),
                              static_cast<int>(rows.top + 2 * kRowHeight + kRowHeight / 2)};
            w.Click(mute);
            w.MoveTo({static_cast<int>(rows.left) - 40, static_cast<int>(rows.top)});
            w.Frames();
            w.Save(folder, "legend-scrolled-800x500.png");
            w.MoveTo(mute);
            w.Click(mute);  // heard again
            w.c.atHand.help.note.Clear();

            // The tip of "Load MIDI" once the mouse has rested on it.
            const Button& midi = w.c.controlPanel->midiButton;
            w.MoveTo({static_cast<int>((midi.left + midi.right) / 2),
                      static_cast<int>((midi.top + midi.bottom) / 2)});
            w.Frames(ControlPanel::kTipFrames + 1);
            w.Save(folder, "tooltip-load-midi.png");

            // The key overlay (F1), with the mouse out of the way.
            w.MoveTo({0, static_cast<int>(w.device.clientHeight) - 1});
            w.Key(platform::kKeyF1);
            w.Frames();
            w.Save(folder, "key-overlay.png");
            w.Key(platform::kKeyF1);

            // The words above the keyboard, in the middle of a line: its second syllable being sung.
            const SongLyrics& words = w.c.atHand.help.lyrics;
            for (const LyricLine& line : words.lines) {
                if (line.count < 3 || words.syllables[line.first + 1].seconds < 5.0) continue;
                w.c.SeekToSeconds(words.syllables[line.first + 1].seconds + 0.05);
                break;
            }
            w.Frames(2);
            w.Save(folder, "lyrics.png");

            // What the song sounds on, opened under the legend: two instruments plugged in, the
            // first chosen with its own delay.
            auto instruments = std::make_unique<platform::ScriptedMidiOutput>();
            instruments->Plug("Digital piano MIDI 1");
            instruments->Plug("Synth module");
            w.c.midiPlayback.UseOutput(std::move(instruments));
            w.c.SeekToSeconds(12.0);
            w.Frames();
            w.c.midiPlayback.Choose(1);
            w.c.midiPlayback.SetDelay(20.0f);
            w.c.controlPanel->outputs.open = true;
            w.Frames(2);
            w.Save(folder, "sound-output-choice.png");
            w.c.midiPlayback.Choose(0);
            status = 0;
        } else {
            std::fprintf(stderr, "make_window_shots: cannot load %s\n", argv[1]);
        }
        w.c.ReleaseObjects();
    }
    std::error_code ignored;
    fs::remove_all(settings, ignored);
    return status;
}
