// The room keeps two clocks together: the transport's (the sound device's cursor, which the
// falling notes are drawn from) and the sender's (the steady clock, which times the messages far
// more finely than frames do). The sender is placed where the transport is whenever the place
// jumps or the song starts, and between those it is drawn toward the transport's place a tenth
// of the gap each frame, so that the cursor's coarse steps (a device period at a time) never
// reach the instrument as jitter, while a steady gap (the device's own latency at the start) is
// closed within a fraction of a second.
#include "app/midi_playback.h"

#include <algorithm>
#include <cmath>

#include "app/session_state.h"
#include "app/transport.h"
#include "core/sample_rate.h"
#include "midi/song_beats.h"
#include "midi/song_events.h"
#include "platform/clock.h"
#include "platform/midi_output.h"
#include "resources/strings.h"
#include "settings/settings.h"
#include "synth/click_notes.h"
#include "synth/metronome.h"
#include "synth/midi_sender.h"
#include "synth/stream_playback.h"

namespace {

// How often the outputs are looked at, for an instrument plugged in or pulled out: a list costs
// the backend a walk over its clients, too much for every frame.
constexpr double kLookSeconds = 0.5;
// A gap between the two clocks beyond this is a jump the room missed (a loop's wrap heard on one
// side only, a practice render that came late): the song is sent afresh from the place.
constexpr double kMostDrift = 0.25;
// Gaps under this are left alone: they are the cursor's own steps.
constexpr double kLeastDrift = 0.004;
constexpr double kDriftShare = 0.1;
constexpr double kRenderRate = kSampleRate;
constexpr const char* kClientName = "dorvik-midi-player";
constexpr const char* kSoundFontRow = "SoundFont";

}  // namespace

MidiPlayback::MidiPlayback(SessionState& session, Transport& transport)
    : session_(session), transport_(transport), events_(std::make_unique<SongEvents>()) {
    rows_.names = {kSoundFontRow};
}

MidiPlayback::~MidiPlayback() {
    Release();
}

void MidiPlayback::UseOutput(std::unique_ptr<platform::MidiOutput> output) {
    CloseOutput();
    output_ = std::move(output);
    watch_ = std::make_unique<platform::MidiOutputWatch>();
    lastLook_ = -1.0;
}

void MidiPlayback::UseClock(std::function<double()> clock) {
    clock_ = std::move(clock);
}

double MidiPlayback::Now() const {
    return clock_ ? clock_() : platform::SteadySeconds();
}

void MidiPlayback::Start(const std::string& chosen, int delayMs) {
    chosen_ = chosen;
    delayMs_ = std::clamp(delayMs, 0, kMaxOutputDelayMs);
    rows_.delayMs = static_cast<float>(delayMs_);
    if (!output_) {
        // Without a MIDI system the list holds the SoundFont alone; nothing needs saying.
        Failure why;
        output_ = platform::OpenMidiOutput(kClientName, why);
        watch_ = std::make_unique<platform::MidiOutputWatch>();
    }
    FollowSong();
    lastLook_ = Now();
    LookAtOutputs();
}

void MidiPlayback::Step() {
    if (output_ && watch_ && Now() - lastLook_ >= kLookSeconds) {
        lastLook_ = Now();
        LookAtOutputs();
    }
    FollowSong();
    FollowTransport();
    if (sender_ && clock_) sender_->Pump();
}

// ---- Outputs

void MidiPlayback::LookAtOutputs() {
    const platform::MidiOutputChanges changes = watch_->Poll(*output_);
    names_.clear();
    for (const platform::MidiOutputPort& port : changes.ports) {
        // The program's own ports (play-along's input) would play the song back into itself.
        const std::string client = port.name.substr(0, port.name.find(':'));
        if (!platform::ContainsIgnoringCase(client.substr(0, 6), "dorvik")) names_.push_back(port.name);
    }
    if (changes.openLost) {
        // The instrument went: the song stops where it is, and the SoundFont sounds until the
        // instrument is back.
        const std::string gone = SoundingOn();
        sender_.reset();
        std::fill(std::begin(playerKeys_), std::end(playerKeys_), false);
        output_->Close();
        transport_.SetSilent(false);
        const TransportState state = transport_.State();
        if (state == TransportState::Playing || state == TransportState::WaitingForRender ||
            state == TransportState::HeldForPlayer || state == TransportState::CountingIn)
            (void)session_.Post(Command::Pause);
        Report(session_, "The MIDI instrument \"" + gone +
                             "\" is gone. The song is paused; it sounds through the SoundFont until the "
                             "instrument is plugged in again.");
    } else if (!chosen_.empty() && !Sending() && !changes.added.empty()) {
        // Only an output that has just come is taken up by itself: one that was there all along
        // and is not open could not be opened, and was said so.
        const int pick = platform::PickMidiOutput(changes.ports, chosen_);
        if (pick >= 0) {
            const std::string& name = changes.ports[static_cast<size_t>(pick)].name;
            if (std::find(changes.added.begin(), changes.added.end(), name) != changes.added.end())
                (void)OpenOutput(name);
        }
    }
    ListOutputs();
}

void MidiPlayback::ListOutputs() {
    rows_.names.assign(1, kSoundFontRow);
    rows_.chosen = 0;
    const platform::MidiBackend backend = output_ ? output_->Backend() : platform::MidiBackend::None;
    const std::string open = output_ ? output_->OpenName() : std::string();
    for (const std::string& name : names_) {
        if (!open.empty() && name == open) rows_.chosen = static_cast<int>(rows_.names.size());
        rows_.names.push_back(platform::DescribeMidiOutputPort(name, backend).device);
    }
    rows_.delayMs = static_cast<float>(delayMs_);
}

std::string MidiPlayback::SoundingOn() const {
    if (!output_ || output_->OpenName().empty()) return {};
    return platform::DescribeMidiOutputPort(output_->OpenName(), output_->Backend()).device;
}

bool MidiPlayback::OpenOutput(const std::string& name) {
    CloseOutput();
    if (!output_) return false;
    if (const Failure why = output_->Open(name); !why.Ok()) {
        Report(session_, "The MIDI instrument \"" + name + "\" could not be opened: " + why.text +
                             ". The song sounds through the SoundFont.");
        return false;
    }
    MakeSender();
    transport_.SetSilent(true);
    return true;
}

void MidiPlayback::CloseOutput() {
    if (sender_) {
        ReleasePlayerKeys();
        // The sender lets every note go on the output as it ends, before the output closes.
        sender_.reset();
    }
    if (output_) output_->Close();
    transport_.SetSilent(false);
}

void MidiPlayback::Choose(int row) {
    if (row < 0 || static_cast<size_t>(row) > names_.size()) return;
    if (row == 0) {
        CloseOutput();
        chosen_.clear();
    } else {
        const std::string& name = names_[static_cast<size_t>(row - 1)];
        if (output_ && name == output_->OpenName()) return;
        if (!OpenOutput(name)) {
            ListOutputs();
            return;
        }
        chosen_ = platform::DescribeMidiOutputPort(name, output_->Backend()).device;
    }
    ListOutputs();
    SaveChoices();
}

void MidiPlayback::SetDelay(float milliseconds) {
    if (std::isnan(milliseconds)) return;
    delayMs_ = static_cast<int>(std::lround(std::clamp(milliseconds, 0.0f, float{kMaxOutputDelayMs})));
    rows_.delayMs = static_cast<float>(delayMs_);
    if (sender_) sender_->SetLatency(delayMs_ / 1000.0);
}

void MidiPlayback::SaveChoices() const {
    const std::string output = chosen_;
    const int delay = delayMs_;
    // A settings file that cannot be written loses nothing but the memory of the choice.
    (void)UpdateSettings([&](Settings& settings) {
        settings.soundOutput = output;
        settings.outputDelayMs = delay;
    });
}

void MidiPlayback::Release() {
    CloseOutput();
}

void MidiPlayback::SayASongNeedsASoundFont() const {
    const std::string instrument = SoundingOn();
    if (instrument.empty()) {
        ShowErrorBox(session_, res::IdsNoSoundfontLoaded, res::IdsError);
        return;
    }
    Report(session_, "No SoundFont is loaded. A song plays on \"" + instrument +
                         "\" in step with its sound through a SoundFont, which stays silent while the "
                         "instrument plays: choose \"" +
                         res::LoadString(res::IdsLoadSoundfont) +
                         "\" first (any SoundFont will do), then the song.");
}

// ---- The song

void MidiPlayback::MakeSender() {
    sender_.reset();
    if (events_->events.empty() || SongMoved()) ReadEvents();
    sender_ = std::make_unique<MidiSender>(*events_, output_.get(), clock_);
    sender_->SetLatency(delayMs_ / 1000.0);
    // A new sender starts stopped at the start, as written: the next frame tells it the rest.
    running_ = held_ = countingIn_ = false;
    speed_ = 1.0;
    loopStart_ = loopEnd_ = 0.0;
    mutes_ = PartMutes{};
    transpose_ = 0;
    metronome_ = false;
    passesCountedIn_ = false;
    jumps_ = transport_.Jumps();
    stillAt_ = static_cast<double>(transport_.Frame()) / kRenderRate;
    std::fill(std::begin(playerKeys_), std::end(playerKeys_), false);
}

bool MidiPlayback::SongMoved() const {
    const SongData* song = session_.session.HasSong() ? session_.song.get() : nullptr;
    return song != song_ || session_.midiBytes.get() != bytes_ || transport_.Tempo() != tempo_;
}

void MidiPlayback::FollowSong() {
    if (!SongMoved()) return;
    song_ = session_.session.HasSong() ? session_.song.get() : nullptr;
    bytes_ = session_.midiBytes.get();
    tempo_ = transport_.Tempo();
    // The sender reads the events until it goes. They are read again only when something is
    // sent: most songs sound through the SoundFont alone, and a song of tens of millions of
    // notes would hold the window up for many seconds and take gigabytes for events never sent.
    const bool sending = sender_ != nullptr;
    if (sending) ReleasePlayerKeys();
    sender_.reset();
    *events_ = SongEvents{};
    if (sending) MakeSender();
}

void MidiPlayback::ReadEvents() {
    *events_ = SongEvents{};
    // The song as it is now, not as the last frame saw it: an output may be chosen after another
    // song came and before a frame has followed it.
    song_ = session_.session.HasSong() ? session_.song.get() : nullptr;
    bytes_ = session_.midiBytes.get();
    tempo_ = transport_.Tempo();
    if (song_ == nullptr || bytes_ == nullptr || tempo_ == nullptr) return;
    if (!ReadSongEvents(bytes_->data(), bytes_->size(), *song_, *tempo_, *events_)) {
        *events_ = SongEvents{};
        return;
    }
    // The metronome's clicks are always among the events, struck only while it is on: turning it
    // on then breaks nothing on the instrument, and the clicks keep to the song however it plays.
    if (!events_->events.empty())
        AddClickNotes(SongBeats(*tempo_, events_->events.back().seconds), kDefaultClickVolume, *events_);
}

void MidiPlayback::FollowTransport() {
    if (!sender_) return;
    const TransportState state = transport_.State();
    const bool countingIn = state == TransportState::CountingIn;
    // The sender plays through a count-in: it strikes the bar's clicks and starts the song itself
    // as the bar ends, on the steady clock, rather than a frame after it.
    const bool running = countingIn || state == TransportState::Playing ||
                         state == TransportState::WaitingForRender || state == TransportState::HeldForPlayer;
    const bool held = running && !countingIn && state != TransportState::Playing;
    // Where the sound stands: what the SoundFont would be sounding now. (The falling notes are
    // drawn a frame ahead of it, for the frame's own delay on the screen.)
    const double heard = static_cast<double>(transport_.Frame()) / kRenderRate;
    const double speed = session_.practice.choice.Speed();
    if (speed != speed_) {
        speed_ = speed;
        sender_->SetSpeed(speed);
    }
    const PartMutes mutes =
        song_ != nullptr ? session_.practice.choice.Mutes(song_->PartsInUse()) : PartMutes{};
    if (mutes.parts != mutes_.parts || mutes.drums != mutes_.drums) {
        mutes_ = mutes;
        sender_->SetMutes(mutes);
    }
    if (session_.practice.transpose != transpose_) {
        transpose_ = session_.practice.transpose;
        sender_->SetTransposition(transpose_);
    }
    if (session_.practice.metronome != metronome_) {
        metronome_ = session_.practice.metronome;
        sender_->SetMetronome(metronome_);
    }
    // Playing along, the transport counts each pass of the loop in itself.
    if (session_.playAlong.On() != passesCountedIn_) {
        passesCountedIn_ = session_.playAlong.On();
        sender_->SetPassesCountedIn(passesCountedIn_);
    }
    const StreamPlayback* playback = transport_.Playback();
    const PlaybackLoop loop = playback != nullptr ? playback->Loop() : PlaybackLoop{};
    const double loopStart = loop.Active() ? static_cast<double>(loop.start) / kRenderRate : 0.0;
    const double loopEnd = loop.Active() ? static_cast<double>(loop.end) / kRenderRate : 0.0;
    if (loopStart != loopStart_ || loopEnd != loopEnd_) {
        loopStart_ = loopStart;
        loopEnd_ = loopEnd;
        sender_->SetLoop(loopStart, loopEnd);
    }

    // The song is sent from where the sound set off, not from where it is by this frame: by then
    // it may have passed a chord struck right at that place, which would be lost. The gap closes
    // over the next frames.
    double from = stillAt_;
    const bool jumped = transport_.Jumps() != jumps_;
    if (jumped) {
        jumps_ = transport_.Jumps();
        from = static_cast<double>(transport_.JumpedTo()) / kRenderRate;
    }
    // A song that stops is paused before it is moved: moved first, it would strike the chord at
    // its new place on the way.
    if (!running && running_) sender_->Pause();
    if (countingIn && (jumped || !countingIn_)) {
        CountIn(from);
    } else {
        if (jumped || (running && !running_)) sender_->Seek(from);
        if (running && !running_) sender_->Play();
    }
    // Nothing is drawn together while counting in: the sound stands at the place, and so does the
    // sender's song until the bar is over.
    const bool set = jumped || running != running_ || countingIn;
    running_ = running;
    countingIn_ = countingIn;
    if (!running) stillAt_ = heard;
    if (held != held_) {
        held_ = held;
        sender_->Wait(held);
    }
    if (running && !held && !set) {
        const double gap = heard - sender_->Position();
        if (std::fabs(gap) > kMostDrift) {
            sender_->Seek(heard);
        } else if (std::fabs(gap) > kLeastDrift) {
            sender_->Shift(gap * kDriftShare);
        }
    }
}

void MidiPlayback::CountIn(double from) {
    // The transport's count-in clock started with the bar, and the song sounds once it has run
    // the bar's length: the clicks are placed on the steady clock from there.
    const double now = Now();
    const double start = now - static_cast<double>(transport_.Clock().Peek()) + transport_.CountInSeconds();
    std::vector<Beat> clicks;
    if (tempo_ != nullptr) {
        const std::vector<double> beats = CountInBeats(*tempo_, from, speed_);
        for (size_t i = 0; i < beats.size(); ++i) clicks.push_back({start + beats[i], i == 0});
    }
    sender_->CountIn(from, clicks, start);
}

// ---- The player's keys

bool MidiPlayback::Sending() const {
    return sender_ != nullptr && output_ && !output_->OpenName().empty();
}

void MidiPlayback::PlayerKey(int key, bool down, int velocity) {
    if (!Sending() || key < 0 || key > 127) return;
    // The instrument played on sounds its own keys already.
    if (platform::SameMidiInstrument(session_.playAlong.inputName, output_->OpenName(), output_->Backend()))
        return;
    if (!down && !playerKeys_[key]) return;
    const uint8_t message[3] = {static_cast<uint8_t>(down ? 0x90 : 0x80), static_cast<uint8_t>(key),
                                static_cast<uint8_t>(down ? std::clamp(velocity, 1, 127) : 0)};
    if (sender_->SendNow(message, 3)) playerKeys_[key] = down;
}

void MidiPlayback::ReleasePlayerKeys() {
    if (!sender_) return;
    for (int key = 0; key < 128; ++key) {
        if (!playerKeys_[key]) continue;
        const uint8_t off[3] = {0x80, static_cast<uint8_t>(key), 0};
        (void)sender_->SendNow(off, 3);
        playerKeys_[key] = false;
    }
}
