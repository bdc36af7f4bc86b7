#include "export/video_scene.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/file_access.h"
#include "export/picture_size.h"
#include "platform/graphics_sdl.h"
#include "resources/strings.h"
#include "ui/control_panel.h"
#include "view/lyrics_view.h"
#include "view/notes_view.h"
#include "view/score_strip.h"
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

namespace {

// A picture larger than this is no background but a mistake: decoded it would take gigabytes.
constexpr size_t kLargestPictureBytes = 64u << 20;
constexpr int64_t kLargestPicturePixels = 64LL << 20;

// A progressive JPEG is drawn in about ten scans; thousands only keep the decoder busy for
// minutes, each a pass over every pixel.
constexpr int kMostJpegScans = 64;

// Why the picture in `bytes` is refused before it is decoded; "" when it is not.
std::string PictureProblem(const std::string& path, const std::vector<uint8_t>& bytes) {
    // The size is read before decoding: a small file may declare a picture of gigabytes.
    PictureSize size;
    JpegLayout layout;
    const bool jpeg = ReadJpegLayout(bytes.data(), bytes.size(), layout);
    if (!ReadPictureSize(bytes.data(), bytes.size(), size)) {
        return path + (jpeg ? " is a JPEG that is cut short or damaged"
                            : " is not a PNG or JPEG picture that a video can show");
    }
    if (int64_t{size.width} * size.height > kLargestPicturePixels) {
        return path + " is " + std::to_string(size.width) + "x" + std::to_string(size.height) +
               " pixels, larger than a video's background may be";
    }
    // The JPEG decoder draws grey where a picture is cut off and does not fail, so a damaged
    // file is found here.
    if (jpeg) {
        if (layout.scans > kMostJpegScans) {
            return path + " is a JPEG drawn in " + std::to_string(layout.scans) +
                   " scans, more than a video's background may take (" + std::to_string(kMostJpegScans) + ")";
        }
        if (layout.scans == 0) return path + " is a JPEG with no picture data in it";
        if (!layout.ended) return path + " is a JPEG that is cut short or damaged";
    }
    return {};
}

std::unique_ptr<platform::Image> LoadPicture(platform::SdlRenderTarget& target, const std::string& path,
                                             std::string& error) {
    std::vector<uint8_t> bytes;
    if (Failure read = ReadRegularFile(path, kLargestPictureBytes, bytes); !read.Ok()) {
        error = read.text;
        return nullptr;
    }
    error = PictureProblem(path, bytes);
    if (!error.empty()) return nullptr;
    std::unique_ptr<platform::Image> image = target.DecodePicture(bytes.data(), bytes.size());
    if (image == nullptr) error = path + " is not a PNG or JPEG picture that a video can show";
    return image;
}

}  // namespace

Failure CheckVideoBackground(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (Failure read = ReadRegularFile(path, kLargestPictureBytes, bytes); !read.Ok()) return read;
    if (std::string problem = PictureProblem(path, bytes); !problem.empty())
        return Failure::Because(FailureKind::SourceFormat, std::move(problem));
    // A JPEG whose layout reads whole is left for the video to decode once; a PNG's decoder
    // refuses a damaged file itself, and is tried here so that it does before the song renders.
    JpegLayout layout;
    if (ReadJpegLayout(bytes.data(), bytes.size(), layout)) return Failure::None();
    Made<platform::OffscreenRenderTarget> target = platform::OffscreenRenderTarget::Create(2, 2);
    if (target.value == nullptr) return target.failure;
    if (target.value->DecodePicture(bytes.data(), bytes.size()) != nullptr) return Failure::None();
    return Failure::Because(FailureKind::SourceFormat,
                            path + " is not a PNG or JPEG picture that a video can show");
}

Failure VideoScene::Create(const SceneSong& song, int width, int height, VideoView view,
                           const VideoLook& look) {
    Made<platform::OffscreenRenderTarget> made = platform::OffscreenRenderTarget::Create(width, height);
    if (made.value == nullptr) return made.failure;
    target_ = std::move(made.value);
    width_ = width;
    height_ = height;
    view_ = view;
    song_ = song;
    look_ = look;
    palette_ = ThemePalette(look.theme);
    scale_ = ChooseVideoLayout(width, height, view).scale;
    target_->SetScale(scale_);
    // A little over the least, so that the digits' own height, not only the text size, reads.
    labelSize_ = std::ceil(1.25f * kLeastLabelShare * static_cast<float>(height) / scale_);
    if (!look.background.empty()) {
        std::string error;
        backdrop_ = LoadPicture(*target_, look.background, error);
        if (backdrop_ == nullptr) return Failure::Because(FailureKind::SourceFormat, error);
    }
    cardTitle_ = !look.title.empty()    ? look.title
                 : song.song != nullptr ? SongTitle(*song.song, song.midiName)
                                        : song.midiName;
    cardInstruments_ = song.song != nullptr ? SongInstruments(*song.song) : std::string();
    device_.target = target_.get();
    device_.clientWidth = target_->Width();
    device_.clientHeight = target_->Height();

    // Wired as the controller wires the window's panels, without a mouse: nothing in a video is
    // hovered or pressed. The theme colours the notes view; the time bar and control panel of the
    // window view keep the window's colours, which their widgets' own are chosen to go with.
    auto wire = [&](Panel& p, uint16_t background) {
        p.palette = &p == notes_.get() ? &palette_ : &kDefaultPalette;
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
    // Fitted, the keyboard takes the height its wider keys ask for; the window's own keyboard
    // stays an eighth of its width whatever it shows.
    options.fitSong = FitsSong(look.fit, width, height);
    options.keysInProportion = options.fitSong;
    options.barNumberSize = labelSize_;
    options.flatNoteColours = ThemeNoteColours(look.theme);
    options.seeThroughGrid = backdrop_ != nullptr;
    notes_->SetOptions(options);
    notes_->SetSong(song_.song);
    if (song_.song != nullptr && song_.scoreTempo != nullptr) {
        strip_ = std::make_unique<ScoreStrip>();
        wire(*strip_, PalClear);
        strip_->shown = true;
        const std::vector<uint8_t>* midi = song_.scoreMidi;
        strip_->SetSong(song_.song, song_.scoreTempo, midi != nullptr ? midi->data() : nullptr,
                        midi != nullptr ? midi->size() : 0);
        strip_->SetParts(song_.scoreParts);
    }
    if (view == VideoView::Window) {
        timeBar_ = std::make_unique<TimeBar>();
        wire(*timeBar_, PalTimeBar);
        panel_ = std::make_unique<ControlPanel>();
        wire(*panel_, PalControlPanel);
        panel_->Build(UserGuideUrl());
    }
    // Lays the keyboard out, so that where each key lies is known before the first frame.
    DrawAt(-1.0);
    if (backdrop_ != nullptr) ComposeBackdrop();
    return Failure::None();
}

void VideoScene::DrawAt(double songTime) {
    Render(songTime, -1.0);
}

void VideoScene::Render(double songTime, double cardSeconds) {
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
    if (backdrop_ != nullptr) DrawBackdrop({n.left, n.top, n.right, n.top + notes_->notesHeight});
    notes_->Draw(shown);
    if (song_.lyrics != nullptr && !song_.lyrics->Empty()) {
        // In a band just above the keyboard, as the window shows them.
        const float bottom = n.top + notes_->notesHeight - 6,
                    height = std::min(34.0f, notes_->notesHeight * 0.12f);
        DrawLyrics(out, *song_.lyrics, songTime, {n.left, bottom - height, n.right, bottom});
    }
    if (strip_ != nullptr) {
        // Over the top of the falling notes, as the window shows it.
        strip_->SetRect(n.left, n.top, n.right,
                        n.top + ScoreStripHeight(n.bottom - n.top, strip_->StavesAsked()));
        strip_->Draw(shown);
    }
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
    if (cardSeconds >= 0) DrawTitleCard(cardSeconds);
    out.EndDraw();
}

void VideoScene::ComposeBackdrop() {
    // The scaled and veiled picture is the same in every frame: it is drawn once here, alone, and
    // kept at the notes area's pixel size; each frame then copies it instead of scaling and
    // veiling it again.
    const RectF& n = ChooseVideoLayout(width_, height_, view_).panels.notesView;
    const RectF area{n.left, n.top, n.right, n.top + notes_->notesHeight};
    target_->BeginDraw();
    target_->Clear(PaletteColour(palette_.colour[PalClear]));
    DrawBackdrop(area);
    target_->EndDraw();
    const int x0 = std::max(0, static_cast<int>(std::lround(area.left * scale_)));
    const int y0 = std::max(0, static_cast<int>(std::lround(area.top * scale_)));
    const int x1 = std::min(target_->PixelWidth(), static_cast<int>(std::lround(area.right * scale_)));
    const int y1 = std::min(target_->PixelHeight(), static_cast<int>(std::lround(area.bottom * scale_)));
    const uint32_t* pixels = Pixels();
    if (pixels == nullptr || x1 <= x0 || y1 <= y0) return;
    std::vector<uint32_t> copy;
    copy.reserve(static_cast<size_t>(x1 - x0) * static_cast<size_t>(y1 - y0));
    for (int y = y0; y < y1; ++y) {
        const uint32_t* row = pixels + static_cast<ptrdiff_t>(y) * target_->PixelWidth();
        copy.insert(copy.end(), row + x0, row + x1);
    }
    std::unique_ptr<platform::Image> composed = target_->ImageFromPixels(std::move(copy), x1 - x0, y1 - y0);
    if (composed == nullptr) return;  // a target that draws through the renderer scales each frame
    backdrop_ = std::move(composed);
    composedAt_ = {static_cast<float>(x0) / scale_, static_cast<float>(y0) / scale_,
                   static_cast<float>(x1) / scale_, static_cast<float>(y1) / scale_};
    composed_ = true;
}

void VideoScene::DrawBackdrop(const RectF& area) {
    if (composed_) {
        const float w = static_cast<float>(backdrop_->Width()), h = static_cast<float>(backdrop_->Height());
        target_->DrawImage(*backdrop_, composedAt_, {0, 0, w, h}, 1.0f);
        return;
    }
    // Scaled to cover the notes area, cut evenly at the sides or top and bottom, and veiled in the
    // theme's own background colour so that the notes and bar lines stay readable over any picture.
    const float aw = area.right - area.left, ah = area.bottom - area.top;
    if (!(aw > 0 && ah > 0)) return;
    const float iw = static_cast<float>(backdrop_->Width()), ih = static_cast<float>(backdrop_->Height());
    RectF source{0, 0, iw, ih};
    if (iw * ah > ih * aw) {
        const float used = ih * aw / ah;
        source.left = (iw - used) * 0.5f;
        source.right = source.left + used;
    } else {
        const float used = iw * ah / aw;
        source.top = (ih - used) * 0.5f;
        source.bottom = source.top + used;
    }
    target_->DrawImage(*backdrop_, area, source, 1.0f);
    ColourF veil = PaletteColour(palette_.colour[PalClear]);
    veil.a = look_.theme == VideoTheme::Contrast ? 0.75f : 0.6f;
    target_->FillRect(area, veil);
}

void VideoScene::DrawVideoFrame(int64_t index, int fps, const VideoIntro& intro, double startSeconds) {
    const double songTime = startSeconds + static_cast<double>(index - intro.Frames()) / fps;
    if (index >= intro.titleFrames) {
        DrawAt(songTime);
        return;
    }
    // Under the card, the song's first moment, ready to show as the card fades.
    Render(startSeconds - static_cast<double>(intro.leadFrames) / fps, static_cast<double>(index) / fps);
}

// The heading has the room of two lines at its full size between the frame's top part and the
// instruments' line. A longer title is set smaller, down to the instruments' own size, and one
// that still does not fit is cut to a line ending in an ellipsis: it never runs over the line
// under it.
void VideoScene::FitTitle(float big, float small, float width) {
    constexpr float kLineSkip = 1.2f;  // a line's height for its text size, with the gap between lines
    const float room = 2.0f * kLineSkip * big;
    titleOneLine_ = false;
    for (float size = big; size >= small; size = std::floor(size * 0.9f)) {
        const platform::TextFormat format{size, 700, platform::TextAlign::Centre, true, true, false};
        const int lines = target_->WrappedLineCount(cardTitle_, format, width);
        if (static_cast<float>(lines) * kLineSkip * size <= room) {
            titleSize_ = size;
            return;
        }
        if (size <= 1.0f) break;
    }
    titleSize_ = big;
    titleOneLine_ = true;
}

void VideoScene::DrawTitleCard(double seconds) {
    const double cardEnd = kTitleCardSeconds;
    float opacity = 1.0f;
    if (seconds > cardEnd - kTitleFadeSeconds)
        opacity = static_cast<float>(std::clamp((cardEnd - seconds) / kTitleFadeSeconds, 0.0, 1.0));
    const float w = static_cast<float>(target_->Width()), h = static_cast<float>(target_->Height());
    ColourF plate = PaletteColour(palette_.colour[PalClear]);
    plate.a = opacity;
    target_->FillRect({0, 0, w, h}, plate);
    // The text comes up over the first fifth of a second, so the video does not open on a cut.
    const float textOpacity = opacity * static_cast<float>(std::clamp(seconds / 0.2, 0.0, 1.0));
    ColourF ink = PaletteColour(palette_.colour[PalText]);
    ink.a = textOpacity;
    const float big = std::ceil(3.0f * labelSize_), small = std::ceil(1.5f * labelSize_);
    const float margin = w * 0.08f;
    if (titleSize_ == 0) FitTitle(big, small, w - 2.0f * margin);
    platform::TextFormat heading{titleSize_,     700,          platform::TextAlign::Centre, true,
                                 !titleOneLine_, titleOneLine_};
    platform::TextFormat lines{small, 400, platform::TextAlign::Centre, true, true, false};
    // The title just above the middle, the instruments just under it.
    const float middle = h * 0.5f;
    target_->DrawText(cardTitle_, heading, {margin, middle - big * 2.0f, w - margin, middle - big * 0.2f},
                      ink);
    if (!cardInstruments_.empty()) {
        ColourF soft = ink;
        soft.a *= 0.8f;
        target_->DrawText(cardInstruments_, lines,
                          {margin, middle + small * 0.5f, w - margin, middle + small * 2.5f}, soft);
    }
}

VideoIntro VideoScene::Intro(int fps) const {
    return PlanIntro(look_, song_.song, LookAheadAt(notes_->options.fallSpeed), fps);
}

float VideoScene::LabelPixels() const {
    return labelSize_ * scale_;
}

const uint32_t* VideoScene::Pixels() {
    return target_->FramePixels();
}
