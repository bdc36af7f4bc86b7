// The controller's play-along: the player's own keys, from a MIDI keyboard or the computer
// keyboard, light on the keyboard and sound through a synthesiser of their own mixed into the sound
// device's output; and the song waits at each note of the player's parts until its keys are down.
//
// The player's parts are the ones silenced: silence the hand to play, press P, and the song plays
// the other hand and waits for yours. The song is held just before the note it waits for (the
// sound handed to the device goes, and the song is primed again from there when it goes on), so
// what the other parts strike with that note is heard once, together with the player's key.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "app/player_controller.h"
#include "audio/streaming_player.h"
#include "midi/play_follow.h"
#include "midi/play_wait.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/midi_input.h"
#include "platform/sound.h"
#include "platform/window.h"
#include "settings/song_scores.h"
#include "synth/live_synth.h"
#include "synth/stream_playback.h"

namespace {

// The song stands this far before a note it waits for, so that the note's own attack (and what the
// other parts strike with it) is heard when the player's keys are down, and only then.
constexpr double kHoldBefore = 0.03;
constexpr double kRenderRate = 44100.0;
// How often the MIDI inputs are looked at, for a keyboard unplugged.
constexpr double kInputCheckSeconds = 0.5;

double Now() {
    return static_cast<double>(platform::SteadyCounterNow()) /
           static_cast<double>(platform::SteadyCounterFrequency());
}

}  // namespace

void PlayerController::OfferTakeSave() {
    double origin = -1.0;
    const Take kept = shared.playAlong.GiveUpTake(origin);
    if (kept.NoteCount() == 0 || shared.dialogs == nullptr) return;
    platform::SaveRequest request;
    request.title = "Save what you played";
    request.types.push_back({"MIDI file (*.mid)", "*.mid"});
    request.fileName =
        (shared.midiName.empty() ? std::string("take") : shared.midiName + " (my take)") + ".mid";
    request.defaultExtension = "mid";
    platform::SaveAnswer answer;
    if (!shared.dialogs->SaveFile(request, answer) || answer.path.empty()) return;
    const double end = std::max(kept.LastSeconds(), Now() - origin);
    if (const int error = SaveMidiFile(answer.path, kept.FileBytes(end)); error != 0) {
        Report(shared, "Your take could not be saved as " + answer.path + ": " + std::strerror(error));
    }
}

void PlayerController::EndPlayAlong() {
    OfferTakeSave();
    if (soundOutput != nullptr) soundOutput->AttachLiveMixer(nullptr);
    if (liveSynth) (void)liveSynth->AllOff();
    liveSynth.reset();
    midiInput.reset();
    waitMode.reset();
    follow.reset();
    if (shared.playAlong.End() && shared.playState == PlayState::Playing) StartPlayback();
}

void PlayerController::TogglePlayAlong(bool following) {
    if (shared.playAlong.On()) {
        EndPlayAlong();
        return;
    }
    if (!shared.session.HasSong() || !shared.song) return;
    const SongData& song = *shared.song;
    const int parts = song.reading == ReadingHands ? 2 : std::clamp(song.partCount, 0, kMaxParts);
    PartMutes mutes = shared.practice.choice.Mutes(parts);
    // Nothing silenced: the player takes the first hand (or voice).
    if (!mutes.parts.any() && parts > 0) {
        shared.practice.choice.parts[0] = PartSound::Muted;
        ApplyPractice();
        mutes = shared.practice.choice.Mutes(parts);
    }
    const double place = std::max(0.0, static_cast<double>(PlaybackFrame()) / kRenderRate);
    if (following) {
        follow = std::make_unique<FollowScorer>();
        follow->Load(song, mutes.parts);
        follow->SetSpeed(shared.practice.choice.Speed());
        follow->Seek(place);
    } else {
        waitMode = std::make_unique<WaitMode>();
        waitMode->Load(song, mutes.parts);
        waitMode->SetSpeed(shared.practice.choice.Speed());
        waitMode->Seek(place);
    }

    // The player's keys sound with the instrument of the first part they play.
    liveSynth = std::make_unique<LiveSynth>();
    if (const Failure loaded = liveSynth->LoadSoundFont(shared.soundFontPath); !loaded.Ok()) {
        Report(shared, loaded);
        liveSynth.reset();
    } else {
        int program = 0;
        for (int p = 0; p < parts; ++p) {
            if (mutes.parts.test(static_cast<size_t>(p))) {
                program = song.reading == ReadingHands ? 0 : std::max(0, song.parts[p].program);
                break;
            }
        }
        liveSynth->SetInstrument(0, program);
        liveSynth->SetVolume(static_cast<float>(shared.volumePercent));
        if (soundOutput != nullptr) {
            soundOutput->SetDevicePeriod(platform::kLiveDeviceFrames);
            soundOutput->AttachLiveMixer(liveSynth.get());
        }
    }
    // The first keyboard there is; without one the computer keyboard plays.
    std::string why, opened;
    midiInput = platform::OpenMidiInput("dorvik-midi-player", why);
    if (midiInput) {
        const std::vector<platform::MidiInputPort> ports = midiInput->Ports();
        const int pick = platform::PickMidiInput(ports, "");
        if (pick < 0 || !midiInput->Open(ports[static_cast<size_t>(pick)].name).empty()) {
            midiInput.reset();
        } else {
            opened = ports[static_cast<size_t>(pick)].name;
            inputWatch = std::make_unique<platform::MidiInputWatch>();
            (void)inputWatch->Poll(*midiInput);
        }
    }
    shared.playAlong.Begin(following ? PlayAlongMode::Following : PlayAlongMode::Waiting, opened,
                           PlayedPartsLabel(mutes.parts));
}

void PlayerController::PlayerNote(int key, bool down, double seconds) {
    if (!shared.playAlong.Note(key, down, seconds)) return;
    if (liveSynth) (void)(down ? liveSynth->NoteOn(key, QwertyKeyboard::kVelocity) : liveSynth->NoteOff(key));
    if (follow) {
        if (down) {
            (void)follow->KeyDown(key, seconds);
        } else {
            follow->KeyUp(key);
        }
    }
    if (!waitMode) return;
    if (down) {
        (void)waitMode->KeyDown(key, seconds);
    } else {
        (void)waitMode->KeyUp(key);
    }
}

bool PlayerController::OnPlayAlongKey(const platform::InputMessage& message, bool down) {
    if (!shared.playAlong.On() || midiInput || !QwertyKeyboard::Takes(message.keyCode)) return false;
    const TypedNote typed = down ? shared.playAlong.typedKeys.KeyDown(message.keyCode, message.repeat)
                                 : shared.playAlong.typedKeys.KeyUp(message.keyCode);
    if (typed.kind == TypedNote::NoteOn || typed.kind == TypedNote::NoteOff) {
        PlayerNote(typed.key, typed.kind == TypedNote::NoteOn, Now());
    }
    return true;
}

void PlayerController::StepPlayAlong() {
    if (!shared.playAlong.On()) return;
    if (liveSynth) liveSynth->CollectRetired();
    // A keyboard unplugged mid-song pauses the song and says so; the computer keyboard plays on.
    if (midiInput && inputWatch && Now() - shared.playAlong.lastInputCheck > kInputCheckSeconds) {
        shared.playAlong.lastInputCheck = Now();
        if (inputWatch->Poll(*midiInput).openLost) {
            const std::string gone = shared.playAlong.inputName;
            midiInput.reset();
            shared.playAlong.inputName.clear();
            if (shared.playState == PlayState::Playing) shared.Post(Command::Pause);
            Report(shared, "The MIDI keyboard \"" + gone +
                               "\" is gone. The song is paused; the computer keyboard plays until you press "
                               "Tab twice with the keyboard plugged in again.");
        }
    }
    if (midiInput) {
        std::vector<platform::MidiMessage> messages;
        midiInput->Read(messages);
        for (const platform::MidiMessage& m : messages) {
            const int status = m.bytes[0] & 0xF0;
            if (m.size < 3 || (status != 0x80 && status != 0x90)) continue;
            PlayerNote(m.bytes[1], status == 0x90 && m.bytes[2] > 0, m.seconds);
        }
    }
    if (!streamPlayback || shared.playState != PlayState::Playing || shared.command == Command::CountIn ||
        waitingForRender) {
        return;
    }
    if (follow) {
        follow->SetSpeed(shared.practice.choice.Speed());
        (void)follow->Advance(PlaybackSongTime(), Now());
        if (follow->PassesEnded() != shared.playAlong.passesShown) TakePassScore();
        return;
    }
    if (!waitMode) return;
    waitMode->SetSpeed(shared.practice.choice.Speed());
    const double now = Now();
    const double song = shared.playAlong.heldForPlayer ? waitMode->State().songSeconds : PlaybackSongTime();
    const WaitState& state = waitMode->Advance(song, now);
    if (!shared.playAlong.heldForPlayer && state.holding) {
        // Held where the note is about to sound: the device's queued sound goes, and the song is
        // primed from just before the note when it goes on.
        if (soundPlayer) soundPlayer->Stop();
        const auto frame = static_cast<uint32_t>(std::max(0.0, state.stepOnset - kHoldBefore) * kRenderRate);
        seekOffset = frame;
        streamPlayback->Seek(frame);
        shared.refreshBits |= RefreshNotesView;
        shared.playAlong.heldForPlayer = true;
    } else if (shared.playAlong.heldForPlayer && !state.holding) {
        shared.playAlong.heldForPlayer = false;
        StartPlayback();
    }
}

void PlayerController::TakePassScore() {
    shared.playAlong.passesShown = follow->PassesEnded();
    const PlayScore& pass = follow->LastPass();
    char text[160];
    std::snprintf(text, sizeof text,
                  "%d hit, %d early, %d late, %d missed, %d wrong; off by %.0f ms on average", pass.hits,
                  pass.early, pass.late, pass.missed, pass.wrong, pass.meanErrorMs);
    shared.playAlong.scoreText = text;
    if (shared.practice.songKey.empty() || !shared.song) return;
    const SongData& song = *shared.song;
    const int parts = song.reading == ReadingHands ? 2 : std::clamp(song.partCount, 0, kMaxParts);
    const std::string label = PlayedPartsLabel(shared.practice.choice.Mutes(parts).parts);
    ScoreMemory memory = ReadScoreMemory(shared.practice.songKey);
    const PlayScore* before = memory.Find(label);
    const bool hadBest = before != nullptr;
    if (memory.Offer(label, pass)) {
        (void)WriteScoreMemory(shared.practice.songKey, memory);
        shared.playAlong.scoreText += hadBest ? " (your best yet)" : " (kept as your best)";
    }
}
