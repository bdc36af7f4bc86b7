// Playing along: the player's own keys, from a MIDI keyboard or the computer
// keyboard, light on the keyboard and sound through a synthesiser of their own mixed into the sound
// device's output; and the song waits at each note of the player's parts until its keys are down.
//
// The player's parts are the ones silenced: silence the hand to play, press P, and the song plays
// the other hand and waits for yours. The song is held just before the note it waits for (the
// sound handed to the device goes, and the song is primed again from there when it goes on), so
// what the other parts strike with that note is heard once, together with the player's key.
#include "app/play_along.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <span>

#include "app/at_hand.h"
#include "app/session_state.h"
#include "app/transport.h"
#include "core/sample_rate.h"
#include "core/song_folder.h"
#include "midi/named_chord.h"
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
#include "view/note_labels.h"

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

void PlayAlong::OfferTakeSave() {
    double origin = -1.0;
    const Take kept = session_.playAlong.GiveUpTake(origin);
    if (kept.NoteCount() == 0 || session_.dialogs == nullptr) return;
    platform::SaveRequest request;
    request.title = "Save what you played";
    request.types.push_back({"MIDI file (*.mid)", "*.mid"});
    // Beside the song the first time, then where takes were last saved.
    const std::filesystem::path proposed = TakePathFor(session_.midiPath);
    request.fileName = proposed.filename().string();
    request.folder = DialogFolder(FolderKind::Take);
    if (request.folder.empty()) request.folder = proposed.parent_path().string();
    request.defaultExtension = "mid";
    platform::SaveAnswer answer;
    if (!session_.dialogs->SaveFile(request, answer) || answer.path.empty()) return;
    KeepDialogFolder(FolderKind::Take, answer.path);
    const double end = std::max(kept.LastSeconds(), Now() - origin);
    if (const Failure failed = SaveMidiFile(answer.path, kept.FileBytes(end)); !failed.Ok()) {
        Report(session_, "Your take could not be saved as " + answer.path + ": " + failed.text);
    }
}

void PlayAlong::End() {
    OfferTakeSave();
    // The input goes first: until it has, its thread may be handing a key to the synthesiser.
    midiInput_.reset();
    liveThru_.reset();
    if (output_ != nullptr) output_->AttachLiveMixer(nullptr);
    if (liveSynth_) (void)liveSynth_->AllOff();
    liveSynth_.reset();
    waitMode_.reset();
    follow_.reset();
    history_.clear();
    marks_.Clear();
    session_.playAlong.End();
    transport_.ReleaseForPlayer();
}

void PlayAlong::Toggle(bool following) {
    if (session_.playAlong.On()) {
        End();
        return;
    }
    // Without a song the player plays alone: free play.
    const bool free = !session_.session.HasSong() || !session_.song;
    int program = 0;
    std::string played;
    if (!free) {
        const SongData& song = *session_.song;
        const int parts = song.PartsInUse();
        PartMutes mutes = session_.practice.choice.Mutes(parts);
        // Nothing silenced: the player takes the first hand (or voice).
        if (!mutes.parts.any() && parts > 0) {
            session_.practice.choice.parts[0] = PartSound::Muted;
            transport_.ApplyPractice();
            mutes = session_.practice.choice.Mutes(parts);
        }
        const double place = std::max(0.0, static_cast<double>(transport_.Frame()) / kRenderRate);
        if (following) {
            follow_ = std::make_unique<FollowScorer>();
            marks_.Clear();
            follow_->Load(song, mutes.parts);
            follow_->SetSpeed(session_.practice.choice.Speed());
            follow_->Seek(place);
            // The passes played before, for the chart: how it went over the days, from the first pass.
            historyParts_ = PlayedPartsLabel(mutes.parts);
            history_ = session_.practice.Key().empty() ? std::vector<PassRecord>{}
                                                       : ReadScoreMemory(session_.practice.Key()).passes;
        } else {
            waitMode_ = std::make_unique<WaitMode>();
            waitMode_->Load(song, mutes.parts);
            waitMode_->SetSpeed(session_.practice.choice.Speed());
            waitMode_->Seek(place);
        }
        // The player's keys sound with the instrument of the first part they play.
        for (int p = 0; p < parts; ++p) {
            if (mutes.parts.test(static_cast<size_t>(p))) {
                program = song.reading == ReadingHands ? 0 : std::max(0, song.parts[p].program);
                break;
            }
        }
        played = PlayedPartsLabel(mutes.parts);
    }
    MakeLiveSynth(program);
    const PlayAlongMode mode = free        ? PlayAlongMode::Free
                               : following ? PlayAlongMode::Following
                                           : PlayAlongMode::Waiting;
    // The keyboard chosen, or else the first one there is; without one the computer keyboard plays
    // until one is plugged in. The inputs are looked at from now on, for the panel's list. A
    // keyboard already listened to for a key to begin free play with plays on.
    idleInput_ = false;
    if (!midiInput_) {
        Failure why;
        midiInput_ = platform::OpenMidiInput("dorvik-midi-player", why);
    }
    session_.playAlong.Begin(mode, midiInput_->OpenName(), played);
    midiInput_->SetThru(liveThru_.get());
    inputWatch_ = std::make_unique<platform::MidiInputWatch>();
    WatchMidiInputs();
}

void PlayAlong::MakeLiveSynth(int program) {
    liveSynth_ = std::make_unique<LiveSynth>();
    if (const Failure loaded = liveSynth_->LoadSoundFont(session_.soundFontPath); !loaded.Ok()) {
        Report(session_, loaded);
        liveSynth_.reset();
        return;
    }
    liveSynth_->SetInstrument(0, program);
    liveSynth_->SetVolume(static_cast<float>(session_.playAlong.volumePercent));
    if (output_ != nullptr) {
        output_->SetDevicePeriod(platform::kLiveDeviceFrames);
        output_->AttachLiveMixer(liveSynth_.get());
    }
    liveThru_ = std::make_unique<LiveSynthThru>(*liveSynth_);
}

bool PlayAlong::ListeningToMidi() const {
    return midiInput_ && !midiInput_->OpenName().empty();
}

void PlayAlong::WatchMidiInputs() {
    if (!midiInput_ || !inputWatch_) return;
    PlayAlongSession& along = session_.playAlong;
    const platform::MidiInputChanges changes = inputWatch_->Poll(*midiInput_);
    along.inputs.clear();
    for (const platform::MidiInputPort& port : changes.ports) along.inputs.push_back(port.name);
    if (changes.openLost) {
        // A keyboard unplugged mid-song pauses the song and says so; the computer keyboard plays on.
        const std::string gone = along.inputName;
        midiInput_->Close();
        ReleaseKeys();
        along.Listen(std::string());
        // Unplugged while nothing was played along, it is no news.
        if (!along.On()) {
            ListInputs();
            return;
        }
        if (transport_.Sounding() || transport_.State() == TransportState::WaitingForRender ||
            transport_.State() == TransportState::HeldForPlayer)
            (void)session_.Post(Command::Pause);
        Report(session_,
               "The MIDI keyboard \"" + gone +
                   "\" is gone. The song is paused; the computer keyboard plays until a keyboard is "
                   "plugged in again.",
               "MIDI keyboard");  // a keyboard pulled out is news, not an error of the program's
    } else if (!ListeningToMidi() && !along.ComputerKeyboardChosen() && !changes.added.empty()) {
        // Only an input that has just come is taken up: one that was there all along and is not
        // listened to was not wanted, or could not be opened.
        int pick = platform::PickMidiInput(changes.ports, along.chosenInput);
        if (pick < 0) pick = platform::PickMidiInput(changes.ports, std::string());
        if (pick >= 0) {
            const std::string& name = changes.ports[static_cast<size_t>(pick)].name;
            const bool added =
                std::find(changes.added.begin(), changes.added.end(), name) != changes.added.end();
            if (added && midiInput_->Open(name).Ok()) along.Listen(name);
        }
    }
    ListInputs();
}

void PlayAlong::ListInputs() {
    const PlayAlongSession& along = session_.playAlong;
    inputRows_.names.clear();
    inputRows_.listening = -1;
    const platform::MidiBackend backend = midiInput_ ? midiInput_->Backend() : platform::MidiBackend::None;
    for (const std::string& name : along.inputs) {
        if (name == along.inputName) inputRows_.listening = static_cast<int>(inputRows_.names.size());
        inputRows_.names.push_back(platform::DescribeMidiPort(name, backend).device);
    }
    if (inputRows_.listening < 0) inputRows_.listening = static_cast<int>(inputRows_.names.size());
    inputRows_.names.emplace_back("Computer keyboard");
    inputRows_.volumePercent = static_cast<float>(along.volumePercent);
}

void PlayAlong::ChooseInput(int row) {
    PlayAlongSession& along = session_.playAlong;
    if (!along.On() || row < 0 || static_cast<size_t>(row) > along.inputs.size()) return;
    // Keys held on the keyboard left behind would never come up.
    ReleaseKeys();
    if (static_cast<size_t>(row) == along.inputs.size()) {
        if (midiInput_) midiInput_->Close();
        along.Listen(std::string());
        along.chosenInput = kComputerKeyboardInput;
    } else if (midiInput_) {
        const std::string& name = along.inputs[static_cast<size_t>(row)];
        if (const Failure why = midiInput_->Open(name); !why.Ok()) {
            along.Listen(std::string());
            Report(session_, "The MIDI keyboard \"" + name + "\" could not be opened: " + why.text);
            ListInputs();
            return;
        }
        along.Listen(name);
        along.chosenInput = platform::DescribeMidiPort(name, midiInput_->Backend()).device;
    }
    ListInputs();
    SaveChoices();
}

void PlayAlong::SetKeysVolume(float percent) {
    if (std::isnan(percent)) return;
    session_.playAlong.volumePercent = static_cast<int>(std::lround(std::clamp(percent, 0.0f, 100.0f)));
    if (liveSynth_) liveSynth_->SetVolume(static_cast<float>(session_.playAlong.volumePercent));
    inputRows_.volumePercent = static_cast<float>(session_.playAlong.volumePercent);
}

void PlayAlong::SaveChoices() const {
    const std::string input = session_.playAlong.chosenInput;
    const int volume = session_.playAlong.volumePercent;
    // A settings file that cannot be written loses nothing but the memory of the choice.
    (void)UpdateSettings([&](Settings& settings) {
        settings.midiInput = input;
        settings.keysVolumePercent = volume;
    });
}

void PlayAlong::ReleaseKeys() {
    const KeySet held = session_.playAlong.keysDown;
    for (size_t key = 0; key < held.size(); ++key)
        if (held.test(key)) PlayerNote(static_cast<int>(key), false, Now());
    (void)session_.playAlong.typedKeys.ReleaseAll();
}

void PlayAlong::PlayerNote(int key, bool down, double seconds, bool sounded, int velocity) {
    if (!session_.playAlong.Note(key, down, seconds)) return;
    // While an instrument sounds the song, it sounds the player's keys as well.
    if (keysOut_ != nullptr && keysOut_->Sending()) {
        keysOut_->PlayerKey(key, down, velocity);
    } else if (liveSynth_ && !sounded) {
        (void)(down ? liveSynth_->NoteOn(key, velocity) : liveSynth_->NoteOff(key));
    }
    // The song is heard moved by its transposition: a key is judged as the song's key it sounds.
    const int songKey = key - session_.practice.transpose;
    if (follow_) {
        if (down) {
            const JudgedKey judged = follow_->KeyDown(songKey, seconds);
            // A struck key is marked at its note's time, or, striking none, at the song's now.
            const double at = judged.note >= 0 ? follow_->Notes()[static_cast<size_t>(judged.note)].start
                                               : transport_.HeardSongTime();
            marks_.Add(static_cast<float>(at), songKey, judged.judgement);
        } else {
            follow_->KeyUp(songKey);
        }
    }
    if (!waitMode_) return;
    if (down) {
        (void)waitMode_->KeyDown(songKey, seconds);
    } else {
        (void)waitMode_->KeyUp(songKey);
    }
}

bool PlayAlong::OnKey(const platform::InputMessage& message, bool down) {
    if (!session_.playAlong.On() || ListeningToMidi() || !QwertyKeyboard::Takes(message.keyCode))
        return false;
    const TypedNote typed = down ? session_.playAlong.typedKeys.KeyDown(message.keyCode, message.repeat)
                                 : session_.playAlong.typedKeys.KeyUp(message.keyCode);
    if (typed.kind == TypedNote::NoteOn || typed.kind == TypedNote::NoteOff) {
        PlayerNote(typed.key, typed.kind == TypedNote::NoteOn, Now());
    }
    return true;
}

void PlayAlong::ListenForFreePlay() {
    const bool noSong = !session_.session.HasSong() || !session_.song;
    if (!noSong) {
        // With a song, playing along begins only with Tab: a key struck on its own is the player
        // trying a note, not asking the song to wait. The keyboard is let go until then.
        if (idleInput_) {
            midiInput_.reset();
            inputWatch_.reset();
            idleInput_ = false;
        }
        return;
    }
    if (!midiInput_) {
        Failure why;
        midiInput_ = platform::OpenMidiInput("dorvik-midi-player", why);
        midiInput_->SetThru(nullptr);
        inputWatch_ = std::make_unique<platform::MidiInputWatch>();
        idleInput_ = true;
        session_.playAlong.lastInputCheck = -kInputCheckSeconds;
    }
    if (inputWatch_ && Now() - session_.playAlong.lastInputCheck > kInputCheckSeconds) {
        session_.playAlong.lastInputCheck = Now();
        WatchMidiInputs();
    }
    std::vector<platform::MidiMessage> messages;
    midiInput_->Read(messages);
    const auto first = std::find_if(messages.begin(), messages.end(), [](const platform::MidiMessage& m) {
        const platform::KeyChange change = platform::KeyChangeOf(m);
        return change.isKey && change.down;
    });
    if (first == messages.end()) return;
    // The first key struck begins free play, and is its first note: lit, sounded and kept.
    Toggle();
    for (auto m = first; m != messages.end(); ++m) {
        const platform::KeyChange change = platform::KeyChangeOf(*m);
        if (change.isKey) PlayerNote(change.key, change.down, m->seconds, false, m->bytes[2]);
    }
}

void PlayAlong::Step() {
    if (!session_.playAlong.On()) {
        ListenForFreePlay();
        return;
    }
    // A song loaded during free play ends it: the take is offered, and Tab plays along with the song.
    if (session_.playAlong.mode == PlayAlongMode::Free && session_.session.HasSong()) {
        End();
        return;
    }
    if (liveSynth_) liveSynth_->CollectRetired();
    // The inputs are looked at now and then, for keyboards plugged in and pulled out.
    if (midiInput_ && inputWatch_ && Now() - session_.playAlong.lastInputCheck > kInputCheckSeconds) {
        session_.playAlong.lastInputCheck = Now();
        WatchMidiInputs();
    }
    if (midiInput_) {
        // While an instrument sounds, the keys go to it from here rather than to the synthesiser.
        const bool thru = liveThru_ != nullptr && !(keysOut_ != nullptr && keysOut_->Sending());
        midiInput_->SetThru(thru ? liveThru_.get() : nullptr);
        std::vector<platform::MidiMessage> messages;
        midiInput_->Read(messages);
        for (const platform::MidiMessage& m : messages) {
            const platform::KeyChange change = platform::KeyChangeOf(m);
            if (change.isKey) PlayerNote(change.key, change.down, m.seconds, thru, m.bytes[2]);
        }
    }
    const bool held = transport_.State() == TransportState::HeldForPlayer;
    // Following goes on through a loop's count-in: the song time going back to before the loop
    // ends the pass at once, and a first note struck a little early is judged early.
    const bool countingIn = transport_.CountingIn() && follow_;
    if (transport_.Playback() == nullptr || (!transport_.Sounding() && !held && !countingIn)) return;
    if (follow_) {
        follow_->SetSpeed(session_.practice.choice.Speed());
        const int32_t missed = follow_->Advance(transport_.HeardSongTime(), Now());
        if (missed > 0 || transport_.HeardSongTime() + 0.05 < lastMarkedTime_)
            MarkMissedNotes(transport_.HeardSongTime());
        else
            lastMarkedTime_ = transport_.HeardSongTime();
        if (follow_->PassesEnded() != session_.playAlong.passesShown) TakePassScore();
        return;
    }
    if (!waitMode_) return;
    waitMode_->SetSpeed(session_.practice.choice.Speed());
    const double now = Now();
    const double song = held ? waitMode_->State().songSeconds : transport_.HeardSongTime();
    const WaitState& state = waitMode_->Advance(song, now);
    if (!held && state.holding) {
        transport_.HoldForPlayer(
            static_cast<uint32_t>(std::max(0.0, state.stepOnset - kHoldBefore) * kRenderRate));
    } else if (held && !state.holding) {
        transport_.ReleaseForPlayer();
    }
}

void PlayAlong::TakePassScore() {
    session_.playAlong.passesShown = follow_->PassesEnded();
    const PlayScore& pass = follow_->LastPass();
    session_.playAlong.scoreText = PassSummaryText(pass);
    // The trainer takes the next pass a step faster; the change is heard within a moment, like a
    // speed key's.
    if (session_.practice.trainer && session_.practice.choice.TrainAfter(pass)) {
        char line[48];
        std::snprintf(line, sizeof line, "; next pass at %d%%", session_.practice.choice.speedPercent);
        session_.playAlong.scoreText += line;
        transport_.ApplyPractice();
    }
    if (session_.practice.Key().empty() || !session_.song) return;
    const SongData& song = *session_.song;
    const int parts = song.PartsInUse();
    const std::string label = PlayedPartsLabel(session_.practice.choice.Mutes(parts).parts);
    ScoreMemory memory = ReadScoreMemory(session_.practice.Key());
    const PlayScore* before = memory.Find(label);
    const bool hadBest = before != nullptr;
    // Every pass goes into the song's history, so that the player can see how it went over days,
    // not only the best.
    bool changed = memory.AddPass(label, static_cast<int64_t>(std::time(nullptr)), pass);
    history_ = memory.passes;
    historyParts_ = label;
    const bool best = memory.Offer(label, pass);
    changed = changed || best;
    if (changed) (void)WriteScoreMemory(session_.practice.Key(), memory);
    if (best) session_.playAlong.scoreText += hadBest ? " (your best yet)" : " (kept as your best)";
}

void PlayAlong::MarkMissedNotes(double songSeconds) {
    // The song went back (a loop's wrap, a seek): the marks were of notes to be played again.
    if (songSeconds + 0.05 < lastMarkedTime_) marks_.Clear();
    lastMarkedTime_ = songSeconds;
    if (!follow_) return;
    // A missed note is judged once the song has passed it by the judging window (longer in song
    // time at a slow speed); its mark matters only while it still shows.
    const std::vector<PlayNote>& notes = follow_->Notes();
    const double from = songSeconds - NoteMarks::kShowSeconds;
    auto it = std::lower_bound(notes.begin(), notes.end(), from,
                               [](const PlayNote& n, double t) { return n.start < t; });
    for (; it != notes.end() && it->start <= songSeconds; ++it) {
        const size_t index = static_cast<size_t>(it - notes.begin());
        if (follow_->JudgementOf(index) == Judgement::Missed && !marks_.Missed(it->key, it->start))
            marks_.Add(it->start, it->key, Judgement::Missed);
    }
}

void PlayAlong::ShowIn(NotesViewOptions& options) const {
    options.playedParts.reset();
    options.awaitedKeys.reset();
    options.awaitedOnset = -1.0f;
    options.letterBase = -1;
    options.marks = nullptr;
    options.history = nullptr;
    options.chordName.clear();
    if (session_.playAlong.mode == PlayAlongMode::Free) {
        int held[128];
        size_t count = 0;
        for (size_t key = 0; key < session_.playAlong.keysDown.size(); ++key)
            if (session_.playAlong.keysDown.test(key)) held[count++] = static_cast<int>(key);
        options.chordName = ChordName(std::span<const int>(held, count));
        if (!ListeningToMidi()) options.letterBase = session_.playAlong.typedKeys.Base();
        return;
    }
    if (!session_.playAlong.On() || !session_.song) return;
    options.playedParts = session_.practice.choice.Mutes(session_.song->PartsInUse()).parts;
    if (!ListeningToMidi()) options.letterBase = session_.playAlong.typedKeys.Base();
    if (follow_) options.marks = &marks_;
    if (follow_ && !history_.empty()) {
        options.history = &history_;
        options.historyParts = historyParts_;
    }
    if (waitMode_ && waitMode_->State().holding) {
        options.awaitedKeys = waitMode_->State().wanted;
        options.awaitedOnset = static_cast<float>(waitMode_->State().stepOnset);
    }
}

PlayAlong::PlayAlong(SessionState& session, Transport& transport)
    : session_(session), transport_(transport) {}

PlayAlong::~PlayAlong() {
    if (liveSynth_ && output_ != nullptr) output_->AttachLiveMixer(nullptr);
}

void PlayAlong::UseInput(std::unique_ptr<platform::MidiInput> input) {
    input->SetThru(liveThru_.get());
    midiInput_ = std::move(input);
}

void PlayAlong::RestartInputWatch() {
    inputWatch_ = std::make_unique<platform::MidiInputWatch>();
}

KeySet PlayAlong::WrongKeys() const {
    return waitMode_ ? waitMode_->State().wrong : KeySet{};
}
