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
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/player_controller.h"
#include "audio/streaming_player.h"
#include "core/sample_rate.h"
#include "midi/play_follow.h"
#include "midi/play_wait.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/midi_input.h"
#include "platform/sound.h"
#include "platform/window.h"
#include "settings/settings.h"
#include "settings/song_scores.h"
#include "synth/live_synth.h"
#include "synth/stream_playback.h"

namespace {

// The song stands this far before a note it waits for, so that the note's own attack (and what the
// other parts strike with it) is heard when the player's keys are down, and only then.
constexpr double kHoldBefore = 0.03;
constexpr double kRenderRate = kSampleRate;
// How often the MIDI inputs are looked at, for a keyboard unplugged.
constexpr double kInputCheckSeconds = 0.5;

double Now() {
    return platform::SteadySeconds();
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
    // The input goes first: until it has, its thread may be handing a key to the synthesiser.
    midiInput.reset();
    liveThru.reset();
    if (soundOutput != nullptr) soundOutput->AttachLiveMixer(nullptr);
    if (liveSynth) (void)liveSynth->AllOff();
    liveSynth.reset();
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
    const int parts = song.PartsInUse();
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
        liveSynth->SetVolume(static_cast<float>(shared.playAlong.volumePercent));
        if (soundOutput != nullptr) {
            soundOutput->SetDevicePeriod(platform::kLiveDeviceFrames);
            soundOutput->AttachLiveMixer(liveSynth.get());
        }
        liveThru = std::make_unique<LiveSynthThru>(*liveSynth);
    }
    shared.playAlong.Begin(following ? PlayAlongMode::Following : PlayAlongMode::Waiting, std::string(),
                           PlayedPartsLabel(mutes.parts));
    // The keyboard chosen, or else the first one there is; without one the computer keyboard plays
    // until one is plugged in. The inputs are looked at from now on, for the panel's list.
    std::string why;
    midiInput = platform::OpenMidiInput("dorvik-midi-player", why);
    midiInput->SetThru(liveThru.get());
    inputWatch = std::make_unique<platform::MidiInputWatch>();
    WatchMidiInputs();
}

bool PlayerController::ListeningToMidi() const {
    return midiInput && !midiInput->OpenName().empty();
}

void PlayerController::WatchMidiInputs() {
    if (!midiInput || !inputWatch) return;
    PlayAlongSession& along = shared.playAlong;
    const platform::MidiInputChanges changes = inputWatch->Poll(*midiInput);
    along.inputs.clear();
    for (const platform::MidiInputPort& port : changes.ports) along.inputs.push_back(port.name);
    if (changes.openLost) {
        // A keyboard unplugged mid-song pauses the song and says so; the computer keyboard plays on.
        const std::string gone = along.inputName;
        midiInput->Close();
        ReleasePlayerKeys();
        along.Listen(std::string());
        if (shared.playState == PlayState::Playing) shared.Post(Command::Pause);
        Report(shared, "The MIDI keyboard \"" + gone +
                           "\" is gone. The song is paused; the computer keyboard plays until a keyboard is "
                           "plugged in again.");
    } else if (!ListeningToMidi() && !along.ComputerKeyboardChosen() && !changes.added.empty()) {
        // Only an input that has just come is taken up: one that was there all along and is not
        // listened to was not wanted, or could not be opened.
        int pick = platform::PickMidiInput(changes.ports, along.chosenInput);
        if (pick < 0) pick = platform::PickMidiInput(changes.ports, std::string());
        if (pick >= 0) {
            const std::string& name = changes.ports[static_cast<size_t>(pick)].name;
            const bool added =
                std::find(changes.added.begin(), changes.added.end(), name) != changes.added.end();
            if (added && midiInput->Open(name).empty()) along.Listen(name);
        }
    }
    ListInputs();
}

void PlayerController::ListInputs() {
    const PlayAlongSession& along = shared.playAlong;
    inputRows.names.clear();
    inputRows.listening = -1;
    const platform::MidiBackend backend = midiInput ? midiInput->Backend() : platform::MidiBackend::None;
    for (const std::string& name : along.inputs) {
        if (name == along.inputName) inputRows.listening = static_cast<int>(inputRows.names.size());
        inputRows.names.push_back(platform::DescribeMidiPort(name, backend).device);
    }
    if (inputRows.listening < 0) inputRows.listening = static_cast<int>(inputRows.names.size());
    inputRows.names.emplace_back("Computer keyboard");
    inputRows.volumePercent = static_cast<float>(along.volumePercent);
}

void PlayerController::ChooseInput(int row) {
    PlayAlongSession& along = shared.playAlong;
    if (!along.On() || row < 0 || static_cast<size_t>(row) > along.inputs.size()) return;
    // Keys held on the keyboard left behind would never come up.
    ReleasePlayerKeys();
    if (static_cast<size_t>(row) == along.inputs.size()) {
        if (midiInput) midiInput->Close();
        along.Listen(std::string());
        along.chosenInput = kComputerKeyboardInput;
    } else if (midiInput) {
        const std::string& name = along.inputs[static_cast<size_t>(row)];
        if (const std::string why = midiInput->Open(name); !why.empty()) {
            along.Listen(std::string());
            Report(shared, "The MIDI keyboard \"" + name + "\" could not be opened: " + why);
            ListInputs();
            return;
        }
        along.Listen(name);
        along.chosenInput = platform::DescribeMidiPort(name, midiInput->Backend()).device;
    }
    ListInputs();
    SavePlayAlongChoices();
}

void PlayerController::SetKeysVolume(float percent) {
    if (std::isnan(percent)) return;
    shared.playAlong.volumePercent = static_cast<int>(std::lround(std::clamp(percent, 0.0f, 100.0f)));
    if (liveSynth) liveSynth->SetVolume(static_cast<float>(shared.playAlong.volumePercent));
    inputRows.volumePercent = static_cast<float>(shared.playAlong.volumePercent);
}

void PlayerController::SavePlayAlongChoices() const {
    const std::string input = shared.playAlong.chosenInput;
    const int volume = shared.playAlong.volumePercent;
    // A settings file that cannot be written loses nothing but the memory of the choice.
    (void)UpdateSettings([&](Settings& settings) {
        settings.midiInput = input;
        settings.keysVolumePercent = volume;
    });
}

void PlayerController::ReleasePlayerKeys() {
    const KeySet held = shared.playAlong.keysDown;
    for (size_t key = 0; key < held.size(); ++key)
        if (held.test(key)) PlayerNote(static_cast<int>(key), false, Now());
    (void)shared.playAlong.typedKeys.ReleaseAll();
}

void PlayerController::PlayerNote(int key, bool down, double seconds, bool sounded) {
    if (!shared.playAlong.Note(key, down, seconds)) return;
    if (liveSynth && !sounded)
        (void)(down ? liveSynth->NoteOn(key, QwertyKeyboard::kVelocity) : liveSynth->NoteOff(key));
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
    if (!shared.playAlong.On() || ListeningToMidi() || !QwertyKeyboard::Takes(message.keyCode)) return false;
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
    // The inputs are looked at now and then, for keyboards plugged in and pulled out.
    if (midiInput && inputWatch && Now() - shared.playAlong.lastInputCheck > kInputCheckSeconds) {
        shared.playAlong.lastInputCheck = Now();
        WatchMidiInputs();
    }
    if (midiInput) {
        std::vector<platform::MidiMessage> messages;
        midiInput->Read(messages);
        for (const platform::MidiMessage& m : messages) {
            const platform::KeyChange change = platform::KeyChangeOf(m);
            if (change.isKey) PlayerNote(change.key, change.down, m.seconds, liveThru != nullptr);
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
    const int parts = song.PartsInUse();
    const std::string label = PlayedPartsLabel(shared.practice.choice.Mutes(parts).parts);
    ScoreMemory memory = ReadScoreMemory(shared.practice.songKey);
    const PlayScore* before = memory.Find(label);
    const bool hadBest = before != nullptr;
    if (memory.Offer(label, pass)) {
        (void)WriteScoreMemory(shared.practice.songKey, memory);
        shared.playAlong.scoreText += hadBest ? " (your best yet)" : " (kept as your best)";
    }
}
