#include "synth/midi_sender.h"

#include <algorithm>
#include <chrono>

#include "platform/clock.h"
#include "platform/thread_priority.h"

namespace {

// The longest the thread sleeps with nothing due: a bound on how long a change to the clock that
// came without a wake (none should) could go unseen.
constexpr double kLongestSleep = 0.25;
// The shortest: well under the 2 ms a note may stray, and long enough that the thread yields.
constexpr double kShortestSleep = 0.0002;

// Room for what one wake-up sends (a chord, a release of every channel, the channels' state after
// a seek), kept so that the thread seldom allocates while it plays.
constexpr size_t kReservedMessages = 4096;

}  // namespace

MidiSender::MidiSender(const SongEvents& events, platform::MidiOutput* output, Clock clock)
    : clock_(std::move(clock)), sequencer_(events), output_(output) {
    out_.reserve(kReservedMessages);
    if (!clock_) thread_ = std::thread([this] { Run(); });
}

MidiSender::~MidiSender() {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        sequencer_.ReleaseAll(Now(), out_);
        SendOut();
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void MidiSender::SendOut() {
    for (const SequencedMessage& m : out_) {
        if (output_ == nullptr || !output_->Send(m.bytes, m.size)) ++refused_;
    }
    out_.clear();
}

void MidiSender::Change(const std::function<void(MidiSequencer&, double, MidiSequencer::Out&)>& change) {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        change(sequencer_, Now(), out_);
        SendOut();
    }
    wake_.notify_all();
}

void MidiSender::Run() {
    (void)platform::AskForPromptWakeUps();
    std::unique_lock<std::mutex> hold(lock_);
    while (!quit_) {
        const double now = platform::SteadySeconds();
        sequencer_.Advance(now, out_);
        SendOut();
        // A message the rounding of its due time leaves a hair in the future is sent on the next
        // wake; the thread never spins, whatever its priority.
        const double wake =
            std::max(std::min(sequencer_.NextDue(now), now + kLongestSleep), now + kShortestSleep);
        // The steady clock the seconds come from is the one the wait is measured on.
        const auto until = std::chrono::steady_clock::time_point(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(wake)));
        wake_.wait_until(hold, until);
    }
}

void MidiSender::Pump() {
    const std::lock_guard<std::mutex> hold(lock_);
    sequencer_.Advance(Now(), out_);
    SendOut();
}

bool MidiSender::SendNow(const uint8_t* bytes, size_t size) {
    const std::lock_guard<std::mutex> hold(lock_);
    return output_ != nullptr && output_->Send(bytes, size);
}

void MidiSender::Play() {
    Change([](MidiSequencer& s, double now, MidiSequencer::Out& out) { s.Play(now, out); });
}
void MidiSender::Pause() {
    Change([](MidiSequencer& s, double now, MidiSequencer::Out& out) { s.Pause(now, out); });
}
void MidiSender::Stop() {
    Change([](MidiSequencer& s, double now, MidiSequencer::Out& out) { s.Stop(now, out); });
}
void MidiSender::Seek(double seconds) {
    Change([seconds](MidiSequencer& s, double now, MidiSequencer::Out& out) { s.Seek(seconds, now, out); });
}
void MidiSender::Wait(bool waiting) {
    Change([waiting](MidiSequencer& s, double now, MidiSequencer::Out&) { s.Wait(waiting, now); });
}
void MidiSender::Shift(double seconds) {
    Change([seconds](MidiSequencer& s, double now, MidiSequencer::Out&) { s.Shift(seconds, now); });
}
void MidiSender::SetSpeed(double speed) {
    Change([speed](MidiSequencer& s, double now, MidiSequencer::Out&) { s.SetSpeed(speed, now); });
}
void MidiSender::SetLatency(double seconds) {
    Change([seconds](MidiSequencer& s, double now, MidiSequencer::Out&) { s.SetLatency(seconds, now); });
}
void MidiSender::SetLoop(double start, double end) {
    Change([=](MidiSequencer& s, double now, MidiSequencer::Out& out) { s.SetLoop(start, end, now, out); });
}
void MidiSender::SetMutes(const PartMutes& mutes) {
    Change([&mutes](MidiSequencer& s, double now, MidiSequencer::Out& out) { s.SetMutes(mutes, now, out); });
}
void MidiSender::SetTransposition(int semitones) {
    Change([semitones](MidiSequencer& s, double now, MidiSequencer::Out& out) {
        s.SetTransposition(semitones, now, out);
    });
}
void MidiSender::SetMetronome(bool on) {
    Change([on](MidiSequencer& s, double, MidiSequencer::Out&) { s.SetMetronome(on); });
}
void MidiSender::SetPassesCountedIn(bool on) {
    Change([on](MidiSequencer& s, double, MidiSequencer::Out&) { s.SetPassesCountedIn(on); });
}
void MidiSender::CountIn(double seconds, const std::vector<Beat>& clicks, double start) {
    Change([&](MidiSequencer& s, double now, MidiSequencer::Out& out) {
        s.CountIn(seconds, clicks, start, now, out);
    });
}
void MidiSender::ReleaseAll() {
    Change([](MidiSequencer& s, double now, MidiSequencer::Out& out) { s.ReleaseAll(now, out); });
}

void MidiSender::SetOutput(platform::MidiOutput* output) {
    Change([this, output](MidiSequencer& s, double now, MidiSequencer::Out& out) {
        s.ReleaseAll(now, out);
        SendOut();
        output_ = output;
    });
}

double MidiSender::Position() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return sequencer_.Position(Now());
}

bool MidiSender::Playing() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return sequencer_.Playing();
}

bool MidiSender::Finished() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return sequencer_.Finished(Now());
}

uint64_t MidiSender::Refused() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return refused_;
}
