// The left column of the window drawn off-screen the way the controller's frame draws it, split at
// the shares of the width and height the committed frames were drawn with: the notes view above,
// the time bar below, the control panel's background on the right and the view-toggle button.
// Shared by the golden-frame tests and the frame tool.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "app/player_controller.h"
#include "platform/graphics_sdl.h"
#include "tests/session_steps.h"
#include "view/notes_view.h"
#include "view/time_bar.h"

namespace viewtest {

// Forwards everything but text to another target. Frames drawn through it depend only on shapes
// and artwork, not on which font the machine has or how a text engine places it.
class TextlessTarget : public platform::RenderTarget {
  public:
    explicit TextlessTarget(platform::RenderTarget& inner) : inner_(inner) {}
    [[nodiscard]] int Width() const override { return inner_.Width(); }
    [[nodiscard]] int Height() const override { return inner_.Height(); }
    void BeginDraw() override { inner_.BeginDraw(); }
    void EndDraw() override { inner_.EndDraw(); }
    void Clear(ColourF c) override { inner_.Clear(c); }
    void FillRect(const RectF& r, ColourF c) override { inner_.FillRect(r, c); }
    void DrawLine(float x0, float y0, float x1, float y1, ColourF c, float w) override {
        inner_.DrawLine(x0, y0, x1, y1, c, w);
    }
    void DrawRect(const RectF& r, ColourF c, float w) override { inner_.DrawRect(r, c, w); }
    void DrawImage(const platform::Image& image, const RectF& dest, const RectF& source,
                   float opacity) override {
        inner_.DrawImage(image, dest, source, opacity);
    }
    void DrawText(const std::string&, const platform::TextFormat&, const RectF&, ColourF) override {}
    std::unique_ptr<platform::Image> DecodePng(const uint8_t* data, size_t size) override {
        return inner_.DecodePng(data, size);
    }

  private:
    platform::RenderTarget& inner_;
};

struct Scene {
    std::unique_ptr<platform::SdlRenderTarget> target;
    std::unique_ptr<TextlessTarget> textless;  // when the scene is drawn without text
    GraphicsDevice device;
    PlayerController controller;
    std::unique_ptr<NotesView> view = std::make_unique<NotesView>();
    std::unique_ptr<TimeBar> timeBar = std::make_unique<TimeBar>();
    std::string error;  // why the target could not be made

    // Drawn on `on` when given (a window's target), else off-screen.
    Scene(int width, int height, bool withText = true,
          std::unique_ptr<platform::SdlRenderTarget> on = nullptr) {
        if (on != nullptr) {
            target = std::move(on);
        } else {
            Made<platform::OffscreenRenderTarget> made =
                platform::OffscreenRenderTarget::Create(width, height);
            error = made.failure.text;
            target = std::move(made.value);
        }
        if (target == nullptr) return;
        if (!withText) textless = std::make_unique<TextlessTarget>(*target);
        device.target = withText ? static_cast<platform::RenderTarget*>(target.get()) : textless.get();
        device.clientWidth = width;
        device.clientHeight = height;
        controller.device = &device;
        controller.designWidth = static_cast<float>(width);
        controller.designHeight = static_cast<float>(height);
        Panel* panels[2] = {view.get(), timeBar.get()};
        for (Panel* p : panels) {
            p->palette = &controller.palette;
            p->Init(&device, &controller.mousePoint);
            p->CreateBrushes();
        }
        view->background = PalClear;
        timeBar->background = PalTimeBar;
        view->Build();
    }

    // Takes the song and marks it rendered and ready, as a completed render does.
    void SetSong(std::unique_ptr<SongData> song) {
        controller.shared.song = std::move(song);
        BringTo(controller.shared.session, SongStage::Ready);
        view->SetSong(controller.shared.song.get());
    }

    // Clears the frame, lays out and draws the panels and the toggle. Returns after EndDraw.
    void Frame(float songTime) {
        PlayerController& c = controller;
        const float W = c.designWidth, H = c.designHeight;
        const float g = c.controls.fullView ? 0.0f : c.splitterHalfWidth;
        const float a = c.controls.fullView ? W : W * kDefaultSplitX;
        const float b = c.controls.fullView ? H : H * kDefaultSplitY;
        platform::RenderTarget& out = *device.target;
        out.BeginDraw();
        out.Clear(PaletteColour(c.palette.colour[PalClear]));
        c.shownTime = songTime;
        SongView shown = c.ViewOfSong();
        if (loopEnd > loopStart) shown.loopStart = loopStart, shown.loopEnd = loopEnd;
        view->SetRect(0, 0, a - g, b - g);
        view->SetOptions(c.viewOptions);
        view->Update(songTime);
        view->DrawBackground();
        view->Draw(shown);
        if (!c.controls.fullView) {
            timeBar->SetRect(0, b + g, a - g, H - 1);
            timeBar->DrawBackground();
            timeBar->Draw(shown);
            out.FillRect({a + g, 0, W - 1, H - 1}, PaletteColour(c.palette.colour[PalControlPanel]));
        }
        view->DrawViewToggle(c.controls);
        if (overlay) overlay(out);
        out.EndDraw();
    }
    // Drawn last in each frame, over the panels: a piece shown beside the view in a screenshot.
    std::function<void(platform::RenderTarget&)> overlay;
    // A loop shown as if it were set, in song seconds (none while the end is not after the start).
    double loopStart = -1.0, loopEnd = -1.0;

    // A frame with nothing on it but the clear: what every frame costs at least. The clear's
    // colour changes from frame to frame when `alternate` is set, so that a window shows every one.
    void EmptyFrame(bool alternate = false) {
        ColourF colour = PaletteColour(controller.palette.colour[PalClear]);
        if (alternate && (++emptyFrames & 1) != 0) colour.r = colour.r > 0.5f ? 0.0f : 1.0f;
        target->BeginDraw();
        target->Clear(colour);
        target->EndDraw();
    }
    uint64_t emptyFrames = 0;
};

}  // namespace viewtest
