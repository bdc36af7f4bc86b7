// The picture of a video export: the window's own panels drawn off-screen, one frame per call, at
// the song time of that frame. Each frame first moves the notes view on to its time (lit keys,
// fading sparks, by song seconds, so the video's frame rate does not change them) and then draws.
// Frames must be asked for in order of time, as playback draws them: a key lights when a frame
// falls inside its note.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/audio_overview.h"
#include "core/failure.h"
#include "core/palette.h"
#include "core/panel_layout.h"
#include "core/song_data.h"
#include "export/video_look.h"
#include "midi/lyrics.h"
#include "view/graphics_device.h"

struct NotesView;
class TimeBar;
class ControlPanel;
class ScoreStrip;
class TempoMap;
namespace platform {
class Image;
class OffscreenRenderTarget;
}  // namespace platform

enum class VideoView {
    Full,    // the notes and the keyboard over the whole frame
    Window,  // the whole window: notes view, time bar and control panel
};

// The scale and design size a frame is drawn at, and where its panels lie.
struct VideoFrameLayout {
    float scale = 1;  // pixels per design unit, as the window would choose for a client of this size
    float designWidth = 0;
    float designHeight = 0;
    PanelLayout panels;
};

// The one place that decides how a frame of the given output size is laid out; everything that
// draws a video frame takes its rectangles from here.
[[nodiscard]] VideoFrameLayout ChooseVideoLayout(int width, int height, VideoView view);

// Whether `path` is a picture a video can show behind its notes: the failure, naming the file,
// when it cannot be read or is no PNG or JPEG. For refusing a bad picture before any work starts.
Failure CheckVideoBackground(const std::string& path);

// The song a video shows: what the panels draw, read only. Everything pointed at must outlive
// the scene.
struct SceneSong {
    const SongData* song = nullptr;           // null: the keyboard alone
    const AudioOverview* overview = nullptr;  // the rendered sound's overview; null: not read
    std::string midiName;                     // what the control panel shows for the song
    std::string soundFontName;                // and for the SoundFont; empty: none loaded
    const SongLyrics* lyrics = nullptr;       // the words shown above the keyboard; null: none
    // The sheet music over the falling notes, as the window's strip: the song's tempo map and its
    // file's bytes; a null tempo shows none.
    const TempoMap* scoreTempo = nullptr;
    const std::vector<uint8_t>* scoreMidi = nullptr;
    std::vector<int32_t> scoreParts{};  // the parts a voices song's score shows; none: its first piano part
};

class VideoScene {
  public:
    VideoScene();
    ~VideoScene();
    VideoScene(const VideoScene&) = delete;
    VideoScene& operator=(const VideoScene&) = delete;

    // Builds the panels for `song` and an off-screen target of the output size, in the look asked
    // for. The failure says why when the target cannot be made or the look's picture cannot be read.
    Failure Create(const SceneSong& song, int width, int height, VideoView view, const VideoLook& look = {});

    // Draws the frame at `songTime` seconds; the pixels are then ready to be read.
    void DrawAt(double songTime);
    // Draws frame `index` of a video at `fps` that opens with `intro`: the title card over its
    // frames, fading into the song's first moment, and from then on the song `intro` frames late.
    // A video of part of the song shows the song from `startSeconds` on.
    void DrawVideoFrame(int64_t index, int fps, const VideoIntro& intro, double startSeconds = 0.0);
    // The frames a video of the scene opens with before the song, at `fps`.
    [[nodiscard]] VideoIntro Intro(int fps) const;
    // The text size of the bar numbers and the card's smallest line, in pixels.
    [[nodiscard]] float LabelPixels() const;

    // The last drawn frame as 0xAARRGGBB, row by row, where the target keeps it: valid until the
    // next DrawAt. Null when it cannot be read.
    [[nodiscard]] const uint32_t* Pixels();

    [[nodiscard]] int Width() const { return width_; }
    [[nodiscard]] int Height() const { return height_; }
    // The notes view, for finding where a key is drawn.
    [[nodiscard]] const NotesView& Notes() const { return *notes_; }

  private:
    void Render(double songTime, double cardSeconds);  // no card when cardSeconds < 0
    void ComposeBackdrop();
    void DrawBackdrop(const RectF& notesArea);
    void DrawTitleCard(double seconds);
    void FitTitle(float big, float small, float width);

    int width_ = 0;
    int height_ = 0;
    VideoView view_ = VideoView::Full;
    Palette palette_ = kDefaultPalette;
    SceneSong song_;
    VideoLook look_;
    std::string cardTitle_;        // the card's heading
    std::string cardInstruments_;  // and the line under it
    float titleSize_ = 0;          // the heading's size once fitted to its space; 0 before
    bool titleOneLine_ = false;    // the heading is cut to one line with an ellipsis
    float scale_ = 1;              // pixels per design unit
    float labelSize_ = 0;          // the bar numbers' text size, in design units
    std::unique_ptr<platform::Image> backdrop_;
    bool composed_ = false;  // backdrop_ is the picture scaled and veiled at the frame's pixel size
    RectF composedAt_;       // and is drawn there
    std::unique_ptr<platform::OffscreenRenderTarget> target_;
    GraphicsDevice device_;
    std::unique_ptr<NotesView> notes_;
    std::unique_ptr<TimeBar> timeBar_;
    std::unique_ptr<ControlPanel> panel_;
    std::unique_ptr<ScoreStrip> strip_;  // only when the score is shown
};
