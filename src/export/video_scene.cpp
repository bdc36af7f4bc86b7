#include "export/video_scene.h"

#include "core/session_state.h"
#include "platform/graphics_sdl.h"
#include "ui/control_panel.h"
#include "view/notes_view.h"
#include "view/time_bar.h"

VideoFrameLayout ChooseVideoLayout(int width, int height, VideoView view) {
    // Laid out as a window of the frame's size lays itself out: the design scaled uniformly, the
    // control panel and time bar at their usual proportions, the notes view taking the rest. A
    // portrait frame thus shows the keyboard across its width, and text is drawn at the output's
    // own pixel size. The design size is rounded as the render target rounds it.
    VideoFrameLayout layout;
    layout.scale = UiScaleFor(width, height);
    layout.designWidth =
        static_cast<float>(static_cast<int>(static_cast<float>(width) / layout.scale + 0.5f));
    layout.designHeight =
        static_cast<float>(static_cast<int>(static_cast<float>(height) / layout.scale + 0.5f));
    layout.panels = LayOutPanels(layout.designWidth, layout.designHeight, kDefaultControlPanelWidth,
                                 kDefaultTimeBarHeight, kSplitterHalfWidth, view == VideoView::Full);
    return layout;
}

VideoScene::VideoScene() = default;
VideoScene::~VideoScene() = default;

bool VideoScene::Create(SessionState& state, int width, int height, VideoView view, std::string& error) {
    target_ = platform::OffscreenRenderTarget::Create(width, height, &error);
    if (target_ == nullptr) return false;
    width_ = width;
    height_ = height;
    view_ = view;
    target_->SetScale(ChooseVideoLayout(width, height, view).scale);
    device_.target = target_.get();
    device_.clientWidth = target_->Width();
    device_.clientHeight = target_->Height();

    // Wired as the controller wires the window's panels, on a palette and mouse of the scene's own.
    auto wire = [&](Panel& p, uint16_t background) {
        p.palette = &palette_;
        p.background = background;
        p.Init(&device_, &state, &mouse_);
        p.CreateBrushes();
        p.hover = false;
    };
    notes_ = std::make_unique<NotesView>();
    wire(*notes_, PalClear);
    notes_->Build();
    if (view == VideoView::Window) {
        timeBar_ = std::make_unique<TimeBar>();
        wire(*timeBar_, PalTimeBar);
        panel_ = std::make_unique<ControlPanel>();
        wire(*panel_, PalControlPanel);
        panel_->Build(UserGuideUrl());
        panel_->mouseX = mouse_.x;
        panel_->mouseY = mouse_.y;
    }
    // The frame before the first finds the song, as the window's first frame after a load does.
    DrawAt(-1.0);
    return true;
}

void VideoScene::DrawAt(double songTime) {
    const VideoFrameLayout layout = ChooseVideoLayout(width_, height_, view_);
    const auto t = static_cast<float>(songTime);
    platform::RenderTarget& out = *target_;
    out.BeginDraw();
    out.Clear(PaletteColour(palette_.colour[PalClear]));
    const RectF& n = layout.panels.notesView;
    notes_->songTime = t;
    notes_->SetRect(n.left, n.top, n.right, n.bottom);
    notes_->DrawBackground();
    notes_->Draw();
    if (view_ == VideoView::Window) {
        const RectF& b = layout.panels.timeBar;
        timeBar_->songTime = t;
        timeBar_->SetRect(b.left, b.top, b.right, b.bottom);
        timeBar_->DrawBackground();
        timeBar_->Draw();
        const RectF& p = layout.panels.controlPanel;
        panel_->songTime = t;
        panel_->SetRect(p.left, p.top, p.right, p.bottom);
        panel_->DrawBackground();
        panel_->Frame();
    }
    out.EndDraw();
}

const uint32_t* VideoScene::Pixels() {
    return target_->FramePixels();
}
