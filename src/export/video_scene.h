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
#include "core/palette.h"
#include "core/panel_layout.h"
#include "core/song_data.h"
#include "view/graphics_device.h"

struct NotesView;
class TimeBar;
class ControlPanel;
namespace platform {
class OffscreenRenderTarget;
}

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

// The song a video shows: what the panels draw, read only. Everything pointed at must outlive
// the scene.
struct SceneSong {
    const SongData* song = nullptr;           // null: the keyboard alone
    const AudioOverview* overview = nullptr;  // the rendered sound's overview; null: not read
    std::string midiName;                     // what the control panel shows for the song
    std::string soundFontName;                // and for the SoundFont; empty: none loaded
};

class VideoScene {
  public:
    VideoScene();
    ~VideoScene();
    VideoScene(const VideoScene&) = delete;
    VideoScene& operator=(const VideoScene&) = delete;

    // Builds the panels for `song` and an off-screen target of the output size. False, with the
    // reason in `error`, when the target cannot be made.
    [[nodiscard]] bool Create(const SceneSong& song, int width, int height, VideoView view,
                              std::string& error);

    // Draws the frame at `songTime` seconds; the pixels are then ready to be read.
    void DrawAt(double songTime);

    // The last drawn frame as 0xAARRGGBB, row by row, where the target keeps it: valid until the
    // next DrawAt. Null when it cannot be read.
    [[nodiscard]] const uint32_t* Pixels();

    [[nodiscard]] int Width() const { return width_; }
    [[nodiscard]] int Height() const { return height_; }
    // The notes view, for finding where a key is drawn.
    [[nodiscard]] const NotesView& Notes() const { return *notes_; }

  private:
    int width_ = 0;
    int height_ = 0;
    VideoView view_ = VideoView::Full;
    Palette palette_ = kDefaultPalette;
    SceneSong song_;
    std::unique_ptr<platform::OffscreenRenderTarget> target_;
    GraphicsDevice device_;
    std::unique_ptr<NotesView> notes_;
    std::unique_ptr<TimeBar> timeBar_;
    std::unique_ptr<ControlPanel> panel_;
};
