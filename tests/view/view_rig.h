// A notes view and a time bar wired to a controller the way the controller's initialisation wires
// them, drawing into a recording target with fake images.
#pragma once

#include <cstdlib>
#include <memory>

#include "app/player_controller.h"
#include "tests/session_steps.h"
#include "tests/view/recording_target.h"
#include "view/notes_view.h"
#include "view/time_bar.h"

namespace viewtest {

struct ViewRig {
    RecordingTarget target;
    GraphicsDevice device;
    PlayerController controller;
    std::unique_ptr<NotesView> view = std::make_unique<NotesView>();
    std::unique_ptr<TimeBar> timeBar = std::make_unique<TimeBar>();

    ViewRig(float width, float height) {
        device.target = &target;
        controller.device = &device;
        controller.designWidth = width;
        controller.designHeight = height;
        Panel* panels[2] = {view.get(), timeBar.get()};
        for (Panel* p : panels) {
            p->palette = &controller.palette;
            p->Init(&device, &controller.mousePoint);
            p->CreateBrushes();
        }
        view->background = PalClear;
        timeBar->background = PalTimeBar;
        view->Build(&FakeImages);
        view->SetRect(0, 0, width, height);
    }

    // A fresh, empty song that is ready to play; fill its parts and bar lines, then draw.
    SongData& NewSong(double duration) {
        controller.shared.song = std::make_unique<SongData>();
        SongData& song = *controller.shared.song;
        song.noteTracks = 1;
        song.duration = duration;
        GiveHandsRoom(song);
        BringTo(controller.shared.session, SongStage::Ready);
        songChanged = true;
        return song;
    }

    // Two empty hands with room for the notes a test adds one by one.
    static void GiveHandsRoom(SongData& song, int32_t notesEach = 40000) {
        if (!song.AllocateNotes(2 * int64_t{notesEach})) std::abort();
        song.partCount = 2;
        song.parts[0].notes = song.noteStore.get();
        song.parts[1].notes = song.noteStore.get() + notesEach;
    }

    // `count` empty parts with room for `notesEach` notes each, for a song read by voices.
    static void GiveParts(SongData& song, int count, int32_t notesEach) {
        if (!song.AllocateNotes(int64_t{count} * notesEach)) std::abort();
        song.partCount = count;
        for (int p = 0; p < count; ++p) song.parts[p].notes = song.noteStore.get() + int64_t{p} * notesEach;
    }

    static void AddNote(SongData& song, int part, int key, float start, float end, int velocity = 100) {
        song.parts[part].notes[song.parts[part].noteCount++] = {start, end, static_cast<uint8_t>(key),
                                                                static_cast<uint8_t>(velocity)};
    }

    // What the panels are shown at `songTime`, as the controller makes it.
    SongView Shown(float songTime) {
        controller.shownTime = songTime;
        return controller.ViewOfSong();
    }

    // One frame of the notes view at the given song time; the calls of that frame only. A song
    // made by NewSong since the last frame is handed to the view first, its notes added by then.
    void Frame(float songTime) {
        if (songChanged) {
            songChanged = false;
            view->SetSong(controller.shared.song.get());
        }
        target.calls.clear();
        view->SetOptions(controller.viewOptions);
        view->Update(songTime);
        view->Draw(Shown(songTime));
    }
    bool songChanged = false;
};

}  // namespace viewtest
