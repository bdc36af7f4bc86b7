// Whole frames of the notes view and time bar, drawn by the software renderer with the real
// artwork and compared with committed PNGs. The frames leave out text, which depends on the
// machine's fonts (the texts themselves are checked on the recording target). A pixel may differ
// by a few levels per channel and a handful of pixels by more; anything larger fails and leaves
// the frame drawn in the temporary folder for a look.
//
// The same frames are drawn by the window's target where there is a display, and read back from
// what the window shows.
//
// DORVIK_UPDATE_GOLDEN=1 rewrites the committed frames instead of comparing; the artwork changing
// is the usual reason.
#include <SDL_image.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/window.h"
#include "tests/view/scene.h"

namespace {

constexpr int kWidth = 640, kHeight = 360;
constexpr int kChannelTolerance = 8;
constexpr double kDifferingShare = 0.0002;  // of all pixels: a short 1-pixel line is too many

std::string GoldenPath(const std::string& name) {
    const char* root = std::getenv("DORVIK_SOURCE_DIR");
    return std::string(root != nullptr ? root : ".") + "/tests/view/golden/" + name + ".png";
}

// A short two-hand passage: a melody on white and black keys, chords below, bar lines every 2 s.
std::unique_ptr<SongData> Passage() {
    auto song = std::make_unique<SongData>();
    song->noteTracks = 2;
    song->duration = 12.0;
    if (!song->AllocateNotes(32)) std::abort();
    song->partCount = 2;
    song->parts[0].notes = song->noteStore.get();
    song->parts[1].notes = song->noteStore.get() + 16;
    const int melody[] = {72, 74, 75, 77, 79, 78, 76, 73};
    for (int i = 0; i < 8; ++i) {
        const float t = 0.5f + 0.75f * static_cast<float>(i);
        song->parts[0].notes[song->parts[0].noteCount++] = {t, t + 0.6f, static_cast<uint8_t>(melody[i]),
                                                            static_cast<uint8_t>(60 + 8 * i)};
    }
    const int chords[3][3] = {{48, 52, 55}, {50, 54, 57}, {43, 47, 50}};
    for (int c = 0; c < 3; ++c) {
        for (int k : chords[c]) {
            const float t = 1.0f + 2.0f * static_cast<float>(c);
            song->parts[1].notes[song->parts[1].noteCount++] = {t, t + 1.8f, static_cast<uint8_t>(k), 90};
        }
    }
    for (int b = 0; b <= 6; ++b) song->barLines[song->barLineCount++] = 2.0f * static_cast<float>(b);
    return song;
}

void FillOverview(SessionState& s) {
    for (int c = 0; c < kOverviewColumns; ++c) {
        const double envelope = 0.5 + 0.5 * std::sin(c * 0.013);
        s.overview.overviewMinLeft[c] = static_cast<int16_t>(-24000 * envelope);
        s.overview.overviewMaxLeft[c] = static_cast<int16_t>(22000 * envelope);
        s.overview.overviewMinRight[c] = static_cast<int16_t>(-16000 * envelope);
        s.overview.overviewMaxRight[c] = static_cast<int16_t>(18000 * envelope);
    }
}

// Plays the scene from `from` up to `to` at 60 frames a second, so lit keys fade as in playback.
void PlayTo(viewtest::Scene& scene, float from, float to) {
    for (float t = from; t < to; t += 1.0f / 60.0f) scene.Frame(t);
    scene.Frame(to);
}

// The frame as it is shown: the window's client area for a window's target.
std::vector<uint32_t> Shown(viewtest::Scene& scene) {
    if (auto* window = dynamic_cast<platform::WindowRenderTarget*>(scene.target.get())) {
        int width = 0, height = 0;
        std::vector<uint32_t> pixels = window->ReadWindowPixels(&width, &height);
        EXPECT_EQ(width, kWidth);
        EXPECT_EQ(height, kHeight);
        return pixels;
    }
    return scene.target->ReadPixels();
}

void ExpectMatchesGolden(viewtest::Scene& scene, const std::string& name) {
    const std::string path = GoldenPath(name);
    const bool onWindow = dynamic_cast<platform::WindowRenderTarget*>(scene.target.get()) != nullptr;
    if (std::getenv("DORVIK_UPDATE_GOLDEN") != nullptr && !onWindow) {
        ASSERT_TRUE(scene.target->SavePng(path));
        return;
    }
    SDL_Surface* loaded = IMG_Load(path.c_str());
    ASSERT_NE(loaded, nullptr) << "no golden frame " << path << ": " << SDL_GetError();
    SDL_Surface* golden = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(loaded);
    ASSERT_NE(golden, nullptr);
    const std::vector<uint32_t> got = Shown(scene);
    ASSERT_EQ(golden->w, kWidth);
    ASSERT_EQ(golden->h, kHeight);
    ASSERT_EQ(got.size(), static_cast<size_t>(kWidth * kHeight));

    int differing = 0, firstX = -1, firstY = -1;
    for (int y = 0; y < kHeight; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(golden->pixels) +
                                                            static_cast<ptrdiff_t>(y) * golden->pitch);
        for (int x = 0; x < kWidth; ++x) {
            const uint32_t a = row[x], b = got[static_cast<size_t>(y) * kWidth + x];
            for (int shift = 0; shift < 32; shift += 8) {
                const int d =
                    std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
                if (d > kChannelTolerance) {
                    if (differing++ == 0) firstX = x, firstY = y;
                    break;
                }
            }
        }
    }
    SDL_FreeSurface(golden);
    const int allowed = static_cast<int>(kDifferingShare * kWidth * kHeight);
    if (differing > allowed) {
        const char* tmp = std::getenv("TMPDIR");
        const std::string actual = std::string(tmp != nullptr ? tmp : "/tmp") + "/" + name + ".actual.png";
        scene.target->SavePng(actual);
        ADD_FAILURE() << name << ": " << differing << " pixels differ (at most " << allowed
                      << " may), the first at (" << firstX << ", " << firstY << "); this frame is in "
                      << actual;
    }
}

enum class On { Offscreen, Window };

class GoldenFrame : public ::testing::TestWithParam<On> {
  protected:
    void SetUp() override {
        std::unique_ptr<platform::SdlRenderTarget> target;
        if (GetParam() == On::Window) {
            if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no display for the window";
            Made<platform::Window> madeWindow =
                platform::Window::Create("Golden frames", 0, 0, kWidth, kHeight);
            ASSERT_NE(madeWindow.value, nullptr) << madeWindow.failure.text;
            window = std::move(madeWindow.value);
            window->Show();
            Made<platform::WindowRenderTarget> madeTarget =
                platform::WindowRenderTarget::Create(window->Handle(), kWidth, kHeight);
            ASSERT_NE(madeTarget.value, nullptr) << madeTarget.failure.text;
            target = std::move(madeTarget.value);
        }
        owned = std::make_unique<viewtest::Scene>(kWidth, kHeight, false, std::move(target));
        ASSERT_NE(owned->target, nullptr) << owned->error;
    }
    std::unique_ptr<platform::Window> window;  // outlives the scene drawn in it
    std::unique_ptr<viewtest::Scene> owned;
};

INSTANTIATE_TEST_SUITE_P(Targets, GoldenFrame, ::testing::Values(On::Offscreen, On::Window),
                         [](const ::testing::TestParamInfo<On>& info) {
                             return info.param == On::Window ? "Window" : "Offscreen";
                         });

TEST_P(GoldenFrame, BeforeAnySongTheKeyboardAndGuideLines) {
    viewtest::Scene& scene = *owned;
    scene.Frame(-1);
    ExpectMatchesGolden(scene, "no-song");
}

TEST_P(GoldenFrame, NotesFallOntoLitKeysAboveTheWaveform) {
    viewtest::Scene& scene = *owned;
    scene.SetSong(Passage());
    FillOverview(scene.controller.shared);
    scene.Frame(-1);
    PlayTo(scene, 1.5f, 2.2f);
    ExpectMatchesGolden(scene, "playing");
}

TEST_P(GoldenFrame, FullViewWithTheRestoreButton) {
    viewtest::Scene& scene = *owned;
    scene.SetSong(Passage());
    scene.controller.controls.fullView = true;
    scene.Frame(-1);
    PlayTo(scene, 4.7f, 5.3f);
    ExpectMatchesGolden(scene, "full-view");
}

}  // namespace
