// The song's life in the window: one explicit state machine that app/ owns, and the typed values
// that pass between the rooms on the way (the song as read, the audio as rendered).
//
//   Empty --BeginReading--> Reading --Read--> Rendering --RenderFinished--> Ready
//                             |  ReadFailed: back to the stage before (the old song stays)
//   Rendering --RenderFailed--> Empty          Ready --ReRender (a new SoundFont)--> Rendering
//
// The stage is the one answer to "where does the song stand": whether its notes are shown,
// whether it plays and exports. It opens no file and starts no render; the controller does the
// work and moves the stage by what came of it, and a step the stage does not allow is refused,
// so no two rooms can disagree on where the song stands.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/audio_overview.h"
#include "core/song_data.h"

enum class SongStage : uint8_t {
    Empty,      // no song: nothing to draw, play or export
    Reading,    // a file is being read; the song before stays shown until it has read
    Rendering,  // the song is read and its notes are shown; its sound is being rendered
    Ready,      // the sound is rendered and its overview read: it plays and exports
};

enum class PlayState : uint8_t {
    Idle,     // nothing has been played yet
    Playing,  // audio running, or the one-second count-in before it
    Paused,   // audio stopped in place
    Stopped,  // audio stopped and rewound; song time -1
};

// A song as the reader left it, with where it came from.
struct LoadedSong {
    std::string path;
    std::string name;  // shown in the panel: the file's title
    std::unique_ptr<SongData> song;
};

// A song's sound as the render left it.
struct RenderedAudio {
    std::string wavPath;
    AudioOverview overview;
};

class SongSession {
  public:
    [[nodiscard]] SongStage Stage() const { return stage_; }
    [[nodiscard]] bool Ready() const { return stage_ == SongStage::Ready; }
    // A song's notes are shown: it has been read (and, while the next one reads, is still there).
    [[nodiscard]] bool HasSong() const {
        const SongStage shown = stage_ == SongStage::Reading ? before_ : stage_;
        return shown == SongStage::Rendering || shown == SongStage::Ready;
    }

    // A file is about to be read. Refused while another is read.
    bool BeginReading() {
        if (stage_ == SongStage::Reading) return false;
        before_ = stage_;
        stage_ = SongStage::Reading;
        return true;
    }
    // The file did not read (or cannot be rendered): everything is as it was before.
    void ReadFailed() {
        if (stage_ == SongStage::Reading) stage_ = before_;
    }
    // The file read: the new song replaces the old one and its render begins.
    bool Read() { return Step(SongStage::Reading, SongStage::Rendering); }
    // The same song renders again (another SoundFont).
    bool ReRender() { return Step(SongStage::Ready, SongStage::Rendering); }
    bool RenderFinished() { return Step(SongStage::Rendering, SongStage::Ready); }
    // Nothing playable came of the render: the song is no longer shown as one.
    bool RenderFailed() { return Step(SongStage::Rendering, SongStage::Empty); }

  private:
    bool Step(SongStage from, SongStage to) {
        if (stage_ != from) return false;
        stage_ = to;
        return true;
    }

    SongStage stage_ = SongStage::Empty;
    SongStage before_ = SongStage::Empty;  // where a failed read returns to
};
