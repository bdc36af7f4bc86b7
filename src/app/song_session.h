// The song's life in the window: one explicit state machine that app/ owns, and the typed values
// that pass between the rooms on the way (the song as read, the audio as rendered).
//
//   Empty --BeginReading--> Reading --Read--> Rendering --RenderFinished--> Ready
//     ^                       |  ReadFailed: back to the stage before (the old song stays)
//     |                       v
//     +---- RenderFailed ---- Rendering <--ReRender (a new SoundFont)-- Ready
//
// Beside the stage runs the play state: Idle until the first play, then Playing (the count-in
// included), Paused and Stopped. Only a Ready song plays; leaving Ready (a new song, a new SoundFont) stops
// it.
//
// The session is plain data with its rules: it opens no file and starts no render. The
// controller does the work and tells the session what came of it; every panel is drawn from
// what the session says, so no two rooms can disagree on where the song stands.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

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
    [[nodiscard]] PlayState Play() const { return play_; }
    [[nodiscard]] bool Ready() const { return stage_ == SongStage::Ready; }
    // The song whose notes are shown: from Rendering on, and while the next one is read.
    [[nodiscard]] const SongData* Song() const { return loaded_.song.get(); }
    [[nodiscard]] const LoadedSong& Loaded() const { return loaded_; }
    [[nodiscard]] const RenderedAudio& Audio() const { return audio_; }

    // A file is about to be read. Refused while another is read.
    bool BeginReading() {
        if (stage_ == SongStage::Reading) return false;
        before_ = stage_;
        stage_ = SongStage::Reading;
        return true;
    }
    // The file did not read: everything is as it was before.
    void ReadFailed() {
        if (stage_ == SongStage::Reading) stage_ = before_;
    }
    // The file read: the new song replaces the old one and its render begins.
    bool Read(LoadedSong song) {
        if (stage_ != SongStage::Reading || !song.song) return false;
        loaded_ = std::move(song);
        audio_ = RenderedAudio{};
        stage_ = SongStage::Rendering;
        play_ = PlayState::Idle;
        return true;
    }
    // The same song renders again (another SoundFont); it stops playing meanwhile.
    bool ReRender() {
        if (stage_ != SongStage::Ready) return false;
        stage_ = SongStage::Rendering;
        play_ = PlayState::Idle;
        return true;
    }
    bool RenderFinished(RenderedAudio audio) {
        if (stage_ != SongStage::Rendering) return false;
        audio_ = std::move(audio);
        stage_ = SongStage::Ready;
        play_ = PlayState::Idle;
        return true;
    }
    // Nothing playable came of the render: the song is no longer shown as one.
    void RenderFailed() {
        if (stage_ != SongStage::Rendering) return;
        loaded_ = LoadedSong{};
        audio_ = RenderedAudio{};
        stage_ = SongStage::Empty;
        play_ = PlayState::Idle;
    }

    // The play state moves only while the song is ready; each returns whether it moved.
    bool SetPlay(PlayState next) {
        if (stage_ != SongStage::Ready) return false;
        play_ = next;
        return true;
    }

  private:
    SongStage stage_ = SongStage::Empty;
    SongStage before_ = SongStage::Empty;  // where a failed read returns to
    PlayState play_ = PlayState::Idle;
    LoadedSong loaded_;
    RenderedAudio audio_;
};
