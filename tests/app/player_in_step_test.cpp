// The player itself on a virtual display: it loads the demo song named on its command line,
// renders it, plays it through the silent sound device, and at two moments of the song the keys
// that its notes hold down are lit while the others are not.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "app/player_client.h"
#include "platform/graphics_sdl.h"
#include "view/notes_view.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kSmallSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr double kMoments[] = {4.0, 9.0};

struct Shot {
    double songTime = 0;
    std::vector<uint32_t> pixels;
    std::vector<KeyRecord> keys;
};

bool IsWhite(int key) {
    static constexpr bool kBlack[12] = {false, true,  false, true,  false, false,
                                        true,  false, true,  false, true,  false};
    return !kBlack[key % 12];
}

// Whether a note holds a white key well inside the moment.
bool Holds(const SongData& song, int key, double t) {
    for (const SongPart& part : song.parts) {
        for (int i = 0; i < part.noteCount; ++i) {
            const NoteRecord& n = part.notes[i];
            if (n.key == key && n.start < t - 0.1 && n.end > t + 0.1) return true;
        }
    }
    return false;
}

bool HoldsAWhiteKey(const SongData& song, double t) {
    for (int key = 21; key <= 108; ++key) {
        if (IsWhite(key) && Holds(song, key, t)) return true;
    }
    return false;
}

class WatchingApp final : public PlayerApp {
  public:
    void RenderFrame() override {
        PlayerApp::RenderFrame();
        auto* player = dynamic_cast<PlayerClient*>(client.get());
        if (player == nullptr) return;
        PlayerController& c = player->controller;
        ++frames;
        if (c.shared.session.Ready() && c.transport.Coarse() == PlayState::Idle &&
            c.shared.command == Command::None) {
            c.Post(Command::Play);
        }
        if (shots.size() < std::size(kMoments) && c.transport.Coarse() == PlayState::Playing &&
            c.transport.SongTime() >= kMoments[shots.size()] && c.shared.song &&
            HoldsAWhiteKey(*c.shared.song, c.transport.SongTime())) {
            Shot shot;
            shot.songTime = c.transport.SongTime();
            shot.pixels = target->ReadPixels();
            shot.keys.assign(std::begin(c.notesView->keys), std::end(c.notesView->keys));
            shots.push_back(std::move(shot));
            if (const char* folder = std::getenv("DORVIK_SHOT_FOLDER")) {
                target->SavePng(std::string(folder) + "/in-step-" + std::to_string(shots.size()) + ".png");
            }
        }
        // Done, or given up after two minutes of frames.
        if (shots.size() == std::size(kMoments) || frames > 60 * 120) window->RequestQuit();
        if (c.shared.song) song = *c.shared.song;
        pixelWidth = target->PixelWidth();
        scale = target->Scale();
    }

    std::vector<Shot> shots;
    SongData song{};
    int frames = 0;
    int pixelWidth = 0;  // of the scene, drawn at `scale` pixels per design unit
    float scale = 1;
};

// A lit white key shows the part's colour (greens, yellows, oranges: little blue); a dark one is
// ivory, high in all three channels.
bool LooksLit(uint32_t argb) {
    const int blue = static_cast<int>(argb & 0xFF);
    return blue < 150;
}

TEST(PlayerInStep, KeysLightWhereTheSongsNotesSound) {
    if (!fs::exists(kSmallSoundFont)) GTEST_SKIP() << kSmallSoundFont << " is not installed";
    const fs::path home = fs::temp_directory_path() / ("dorvik-in-step-" + std::to_string(getpid()));
    fs::create_directories(home / "Dorvik Midi Player");
    std::ofstream(home / "Dorvik Midi Player" / "settings.ini")
        << "[Soundfont] = " << kSmallSoundFont << "\n";
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);

    auto app = std::make_unique<WatchingApp>();
    app->startupMidi = std::string(std::getenv("DORVIK_SOURCE_DIR")) + "/examples/demo_song.mid";
    ASSERT_TRUE(app->Initialise());
    EXPECT_EQ(app->Run(), 0);
    ASSERT_EQ(app->shots.size(), std::size(kMoments)) << "the song did not play to the chosen moments";

    for (const Shot& shot : app->shots) {
        const double t = shot.songTime;
        int litChecked = 0, darkChecked = 0;
        for (int k = 0; k < kKeyCount; ++k) {
            const KeyRecord& key = shot.keys[k];
            if (key.isBlack != 0) continue;
            EXPECT_TRUE(IsWhite(k + 21)) << "key " << k + 21;
            // Sounding well inside the moment, or silent for a while around it; keys whose notes
            // start or end within a frame or two of the moment are left out.
            const bool held = Holds(app->song, k + 21, t);
            bool near = false;
            for (const SongPart& part : app->song.parts) {
                for (int i = 0; i < part.noteCount; ++i) {
                    const NoteRecord& n = part.notes[i];
                    if (n.key == k + 21 && n.start < t + 0.1 && n.end > t - 0.3) near = true;
                }
            }
            if (!held && near) continue;
            const int x = static_cast<int>((key.rect.left + key.rect.right) / 2 * app->scale);
            const int y = static_cast<int>((key.rect.bottom - 8) * app->scale);
            const uint32_t pixel = shot.pixels[static_cast<size_t>(y) * app->pixelWidth + x];
            EXPECT_EQ(LooksLit(pixel), held)
                << "key " << k + 21 << " at song time " << t << ": pixel " << std::hex << pixel;
            (held ? litChecked : darkChecked)++;
        }
        EXPECT_GT(litChecked, 0) << "no held white key at " << t << " s";
        EXPECT_GT(darkChecked, 20);
    }
    app.reset();
    std::error_code ignored;
    fs::remove_all(home, ignored);
}

}  // namespace
