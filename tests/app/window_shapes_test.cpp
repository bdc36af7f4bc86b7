// The player on a virtual display, with the demo song loaded, resized to a portrait, the smallest
// and a large window: in the frame read back from the window, a button of the control panel, its
// and its caption grow with the scale the shape gets, and a white key of the keyboard keeps its
// proportions.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/player_client.h"
#include "core/panel_layout.h"
#include "platform/graphics_sdl.h"
#include "ui/control_panel.h"
#include "view/notes_view.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kSmallSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr int kMiddleC = 39;  // key index from the lowest A

struct Shape {
    int width, height;
};
// The reference first, then a portrait, the smallest and a large window.
constexpr Shape kShapes[] = {{static_cast<int>(kReferenceWidth), static_cast<int>(kReferenceHeight)},
                             {800, 1200},
                             {kSmallestWindowWidth, kSmallestWindowHeight},
                             {2400, 1350}};

// Sizes in pixels, measured in a frame read back from the window.
struct Measured {
    float scale = 0;
    int buttonWidth = 0, buttonHeight = 0;  // "Load MIDI", frame to frame
    int inkWidth = 0, inkHeight = 0;        // its caption's ink
    int keyWidth = 0, keyHeight = 0;        // middle C's ivory
};

struct Frame {
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    [[nodiscard]] uint32_t At(int x, int y) const {
        x = std::clamp(x, 0, width - 1);
        y = std::clamp(y, 0, height - 1);
        return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    }
    // How far from (x, y) the pixels keep `keep` true, stepping by (dx, dy), the start excluded.
    template <class Keep>
    [[nodiscard]] int Run(int x, int y, int dx, int dy, Keep keep) const {
        int n = 0;
        for (x += dx, y += dy; x >= 0 && y >= 0 && x < width && y < height && keep(At(x, y));
             x += dx, y += dy)
            ++n;
        return n;
    }
};

int Brightness(uint32_t argb) {
    return std::min({static_cast<int>((argb >> 16) & 0xFF), static_cast<int>((argb >> 8) & 0xFF),
                     static_cast<int>(argb & 0xFF)});
}

int Distance(uint32_t a, uint32_t b) {
    int d = 0;
    for (int shift = 0; shift < 24; shift += 8)
        d = std::max(d,
                     std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)));
    return d;
}

Measured Measure(const Frame& f, const PlayerController& c, float s) {
    Measured m;
    m.scale = s;
    // The button: everything that is not the panel's background around its middle.
    const Button& b = c.controlPanel->midiButton;
    const uint32_t panel = f.At(static_cast<int>((b.left + 2) * s), static_cast<int>((b.top - 8) * s));
    auto notPanel = [&](uint32_t p) { return p != panel; };
    const int cx = static_cast<int>((b.left + b.right) / 2 * s),
              cy = static_cast<int>((b.top + b.bottom) / 2 * s);
    m.buttonWidth = 1 + f.Run(cx, cy, -1, 0, notPanel) + f.Run(cx, cy, 1, 0, notPanel);
    m.buttonHeight = 1 + f.Run(cx, cy, 0, -1, notPanel) + f.Run(cx, cy, 0, 1, notPanel);
    // The caption: the box of the pixels inside the frame that differ from the button's fill.
    const int x0 = static_cast<int>(std::ceil((b.left + 3) * s)), x1 = static_cast<int>((b.right - 3) * s);
    const int y0 = static_cast<int>(std::ceil((b.top + 3) * s)), y1 = static_cast<int>((b.bottom - 3) * s);
    const uint32_t fill = f.At(x0, y0);
    int left = x1, right = x0 - 1, top = y1, bottom = y0 - 1;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            if (Distance(f.At(x, y), fill) < 64) continue;
            left = std::min(left, x), right = std::max(right, x);
            top = std::min(top, y), bottom = std::max(bottom, y);
        }
    }
    m.inkWidth = right - left + 1;
    m.inkHeight = bottom - top + 1;
    // Middle C: the bright run through its middle column, and across it near its bottom, below
    // the black keys.
    const RectF& k = c.notesView->keys[kMiddleC].rect;
    auto ivory = [](uint32_t p) { return Brightness(p) >= 150; };
    const int kx = static_cast<int>((k.left + k.right) / 2 * s);
    const int low = static_cast<int>((k.top + (k.bottom - k.top) * 0.85f) * s);
    m.keyHeight = 1 + f.Run(kx, low, 0, -1, ivory) + f.Run(kx, low, 0, 1, ivory);
    m.keyWidth = 1 + f.Run(kx, low, -1, 0, ivory) + f.Run(kx, low, 1, 0, ivory);
    return m;
}

// Loads the demo song, then goes through the shapes: asks for each size, waits until the scene
// has it, and measures the frame the window shows.
class ShapingApp final : public PlayerApp {
  public:
    void RenderFrame() override {
        PlayerApp::RenderFrame();
        auto* player = dynamic_cast<PlayerClient*>(client.get());
        // Given up after a minute of frames.
        if (player == nullptr || ++frames > 60 * 60) {
            window->RequestQuit();
            return;
        }
        const PlayerController& c = player->controller;
        if (!c.shared.session.Ready() || c.shared.command != Command::None) return;
        // The frame in which the render completes was drawn with its progress still on the button.
        if (++readyFrames < 2) return;
        const Shape& want = kShapes[measured.size()];
        if (target->PixelWidth() != want.width || target->PixelHeight() != want.height) {
            if (!asked) window->SetClientSize(want.width, want.height);
            asked = true;
            return;
        }
        asked = false;
        Frame f;
        f.pixels = target->ReadWindowPixels(&f.width, &f.height);
        if (f.width != want.width || f.height != want.height) return;
        if (const char* folder = std::getenv("DORVIK_SHOT_FOLDER")) {
            target->SavePng(std::string(folder) + "/shape-" + std::to_string(want.width) + "x" +
                            std::to_string(want.height) + ".png");
        }
        measured.push_back(Measure(f, c, target->Scale()));
        if (measured.size() == std::size(kShapes)) window->RequestQuit();
    }

    std::vector<Measured> measured;
    int frames = 0;
    int readyFrames = 0;
    bool asked = false;
};

TEST(WindowShapes, PanelTextAndKeysKeepTheirProportions) {
    if (!fs::exists(kSmallSoundFont)) GTEST_SKIP() << kSmallSoundFont << " is not installed";
    const fs::path home = fs::temp_directory_path() / ("dorvik-shapes-" + std::to_string(getpid()));
    fs::create_directories(home / "Dorvik Midi Player");
    std::ofstream(home / "Dorvik Midi Player" / "settings.ini")
        << "[Soundfont] = " << kSmallSoundFont << "\n";
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);

    auto app = std::make_unique<ShapingApp>();
    app->startupMidi = std::string(std::getenv("DORVIK_SOURCE_DIR")) + "/examples/demo_song.mid";
    ASSERT_TRUE(app->Initialise());
    EXPECT_EQ(app->Run(), 0);
    ASSERT_EQ(app->measured.size(), std::size(kShapes)) << "not every shape was drawn";

    // Each size, divided by the scale, is the reference's within the pixels a rounding may add
    // or take on either side; so the proportions hold too.
    const Measured& r = app->measured[0];
    EXPECT_EQ(r.scale, 1.0f);
    for (size_t i = 0; i < std::size(kShapes); ++i) {
        const Measured& m = app->measured[i];
        SCOPED_TRACE(std::to_string(kShapes[i].width) + " x " + std::to_string(kShapes[i].height));
        const struct {
            const char* what;
            int got, reference;
            float slack;  // pixels
        } sizes[] = {
            {"button width", m.buttonWidth, r.buttonWidth, 2},
            {"button height", m.buttonHeight, r.buttonHeight, 2},
            // The text is rendered at whole pixel sizes: the scale is met to half a pixel
            // of the font size, and glyphs are placed on whole pixels.
            {"caption width", m.inkWidth, r.inkWidth, 2 + 0.5f / 14 * static_cast<float>(r.inkWidth)},
            {"caption height", m.inkHeight, r.inkHeight, 2}};
        for (const auto& size : sizes) {
            EXPECT_GT(size.got, 0) << size.what;
            EXPECT_NEAR(static_cast<float>(size.got), static_cast<float>(size.reference) * m.scale,
                        size.slack)
                << size.what << " at scale " << m.scale;
        }
        // The keyboard spans the notes view, whose width varies with the shape: a key keeps its
        // height for its width, within a pixel of rounding on each.
        ASSERT_GT(m.keyWidth, 0);
        const float ratio = static_cast<float>(r.keyHeight) / static_cast<float>(r.keyWidth);
        EXPECT_NEAR(static_cast<float>(m.keyHeight), ratio * static_cast<float>(m.keyWidth), 1 + ratio)
            << "key " << m.keyWidth << " x " << m.keyHeight << ", at the reference " << r.keyWidth << " x "
            << r.keyHeight;
    }
    app.reset();
    std::error_code ignored;
    fs::remove_all(home, ignored);
}

}  // namespace
