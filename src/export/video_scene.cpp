#include "export/video_scene.h"

#include "platform/graphics_sdl.h"
#include "resources/strings.h"
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

bool VideoScene::Create(const SceneSong& song, int width, int height, VideoView view, std::string& error) {
    target_ = platform::OffscreenRenderTarget::Create(width, height, &error);
    if (target_ == nullptr) return false;
    width_ = width;
    height_ = height;
    view_ = view;
    song_ = song;
    target_->SetScale(ChooseVideoLayout(width, height, view).scale);
    device_.target = target_.get();
    device_.clientWidth = target_->Width();
    device_.clientHeight = target_->Height();

    // Wired as the controller wires the window's panels, on a palette of the scene's own and
    // without a mouse: nothing in a video is hovered or pressed.
    auto wire = [&](Panel& p, uint16_t background) {
        p.palette = &palette_;
        p.background = background;
        p.Init(&device_, nullptr);
        p.CreateBrushes();
        p.hover = false;
    };
    notes_ = std::make_unique<NotesView>();
    wire(*notes_, PalClear);
    notes_->Build();
    // A video keeps the plain keyboard it has always had: the names on lit keys are the window's
    // practice aid.
    NotesViewOptions options;
    options.labels.onKeys = false;
    notes_->SetOptions(options);
    notes_->SetSong(song_.song);
    if (view == VideoView::Window) {
        timeBar_ = std::make_unique<TimeBar>();
        wire(*timeBar_, PalTimeBar);
        panel_ = std::make_unique<ControlPanel>();
        wire(*panel_, PalControlPanel);
        panel_->Build(UserGuideUrl());
    }
    // Lays the keyboard out, so that where each key lies is known before the first frame.
    DrawAt(-1.0);
    return true;
}

void VideoScene::DrawAt(double songTime) {
    const VideoFrameLayout layout = ChooseVideoLayout(width_, height_, view_);
    SongView shown;
    shown.song = song_.song;
    shown.overview = song_.overview;
    shown.songLoaded = song_.song != nullptr;
    shown.songReady = song_.song != nullptr && song_.overview != nullptr;
    shown.play = PlayView::Playing;
    shown.songTime = static_cast<float>(songTime);

    platform::RenderTarget& out = *target_;
    out.BeginDraw();
    out.Clear(PaletteColour(palette_.colour[PalClear]));
    const RectF& n = layout.panels.notesView;
    notes_->SetRect(n.left, n.top, n.right, n.bottom);
    notes_->Update(shown.songTime);
    notes_->DrawBackground();
    notes_->Draw(shown);
    if (view_ == VideoView::Window) {
        const RectF& b = layout.panels.timeBar;
        timeBar_->SetRect(b.left, b.top, b.right, b.bottom);
        timeBar_->DrawBackground();
        timeBar_->Draw(shown);
        const RectF& p = layout.panels.controlPanel;
        panel_->SetRect(p.left, p.top, p.right, p.bottom);
        panel_->DrawBackground();
        PanelSnapshot panelShows;
        panelShows.song = shown;
        panelShows.soundFontLabel = song_.soundFontName.empty()
                                        ? std::string_view(res::LoadString(res::IdsNoSoundfontLoaded))
                                        : std::string_view(song_.soundFontName);
        panelShows.midiLabel = shown.songLoaded ? std::string_view(song_.midiName)
                                                : std::string_view(res::LoadString(res::IdsNoMidiFileLoaded));
        (void)panel_->Frame(panelShows);  // without a mouse nothing is asked for
    }
    out.EndDraw();
}

const uint32_t* VideoScene::Pixels() {
    return target_->FramePixels();
}
