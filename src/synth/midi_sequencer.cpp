// The clock is kept as an anchor (the song's time at a moment of the caller's clock) and a speed,
// unwrapped: past a loop's end it runs on as if there were no loop, and the pass of the loop and
// the time within it are worked out from that, so a speed change or a wait never has to know
// where in the loop it came. Events go out from a cursor that runs ahead of the clock by the
// latency; whenever the flow breaks, the cursor is put back to the clock, so that nothing sent
// ahead and then let go is lost when the song goes on.
//
// A count-in places the anchor in the future, at the moment the song is to start: until then the
// clock stands at the song's place and nothing of the song falls due, and whatever changes in the
// meantime (a speed, a mute, the loop) is placed at that moment too, so that the start keeps.
#include "synth/midi_sequencer.h"

#include <algorithm>
#include <cmath>

#include "synth/click_notes.h"
#include "synth/metronome.h"

namespace {

constexpr double kNever = 1e300;

// Controllers whose order matters: a registered or non-registered parameter is chosen by 99/98 or
// 101/100 and then set by data entry (6, 38) or stepped (96, 97). Restoring only their last values
// would set the wrong parameter, so every one of them is sent again in the song's order.
bool ParameterController(int controller) {
    return controller == 6 || controller == 38 || (controller >= 96 && controller <= 101);
}

}  // namespace

MidiSequencer::MidiSequencer(const SongEvents& events) : song_(events) {}

double MidiSequencer::Unwrapped(double now) const {
    if (!playing_ || waiting_) return anchorSong_;
    return anchorSong_ + std::max(0.0, now - anchorWall_) * speed_;
}

int64_t MidiSequencer::PassOf(double unwrapped) const {
    if (!Looping() || unwrapped < loopEnd_) return 0;
    return 1 + static_cast<int64_t>(std::floor((unwrapped - loopEnd_) / (loopEnd_ - loopStart_)));
}

double MidiSequencer::SongTimeOf(double unwrapped) const {
    if (!Looping() || unwrapped < loopEnd_) return unwrapped;
    return loopStart_ + std::fmod(unwrapped - loopEnd_, loopEnd_ - loopStart_);
}

double MidiSequencer::DueOf(double songSeconds, int64_t pass) const {
    if (!playing_ || waiting_) return kNever;
    const double length = loopEnd_ - loopStart_;
    const double unwrapped =
        pass == 0 ? songSeconds
                  : loopEnd_ + static_cast<double>(pass - 1) * length + (songSeconds - loopStart_);
    return anchorWall_ + (unwrapped - anchorSong_) / speed_ - latency_;
}

double MidiSequencer::Position(double now) const {
    return SongTimeOf(Unwrapped(now));
}

void MidiSequencer::Anchor(double songSeconds, double now) {
    anchorSong_ = std::max(0.0, songSeconds);
    anchorWall_ = now;
    emittedPass_ = 0;
}

void MidiSequencer::MoveTo(double seconds) {
    const auto& events = song_.events;
    next_ = static_cast<size_t>(std::lower_bound(events.begin(), events.end(), seconds,
                                                 [](const SongEvent& e, double t) { return e.seconds < t; }) -
                                events.begin());
    chase_ = true;
}

void MidiSequencer::Emit(double due, uint8_t status, uint8_t data1, uint8_t data2, Out& out) {
    const uint8_t size = (status & 0xE0) == 0xC0 ? 2 : 3;
    out.push_back({due, size, {status, data1, size == 3 ? data2 : uint8_t{0}}});
    quiet_ = false;
    sentOn_ = static_cast<uint16_t>(sentOn_ | (1u << (status & 0x0F)));
}

void MidiSequencer::Release(double due, Out& out) {
    if (quiet_) return;
    for (int channel = 0; channel < 16; ++channel) {
        for (int key = 0; key < 128; ++key) {
            if (!sounding_[channel][key]) continue;
            out.push_back({due, 3, {static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(key), 0}});
            sounding_[channel][key] = false;
        }
    }
    const unsigned channels = song_.channels | sentOn_;
    for (int channel = 0; channel < 16; ++channel) {
        if (!(channels & (1u << channel))) continue;
        const auto status = static_cast<uint8_t>(0xB0 | channel);
        out.push_back({due, 3, {status, 123, 0}});
        out.push_back({due, 3, {status, 121, 0}});
    }
    quiet_ = true;
    sentOn_ = 0;
    chase_ = true;
}

void MidiSequencer::ReleaseAll(double now, Out& out) {
    const double position = Position(now);
    Release(now, out);
    Anchor(position, Since(now));
    MoveTo(position);
}

void MidiSequencer::DropCountIn() {
    countIn_.events.clear();
    countInNext_ = 0;
}

void MidiSequencer::CountIn(double seconds, const std::vector<Beat>& clicks, double start, double now,
                            Out& out) {
    Release(now, out);
    DropCountIn();
    std::vector<Beat> kept;
    for (const Beat& click : clicks)
        if (click.seconds >= now - kLateClick) kept.push_back(click);
    AddClickNotes(kept, kDefaultClickVolume, countIn_);
    // The count-in is struck whatever the metronome: it belongs to no part.
    for (SongEvent& e : countIn_.events) e.part = kNoPart;
    playing_ = true;
    waiting_ = false;
    Anchor(seconds, std::max(now, start));
    MoveTo(anchorSong_);
    Advance(now, out);
}

void MidiSequencer::StrikeCountIn(double now, Out& out) {
    const auto& clicks = countIn_.events;
    while (countInNext_ < clicks.size() && clicks[countInNext_].seconds - latency_ <= now) {
        const SongEvent& e = clicks[countInNext_++];
        SendEvent(e, e.seconds - latency_, out);
    }
}

void MidiSequencer::Chase(double due, Out& out) {
    chase_ = false;
    if (next_ == 0) return;
    int program[16];
    int bend[16][2];
    int controller[16][120];
    std::fill(&program[0], &program[0] + 16, -1);
    std::fill(&bend[0][0], &bend[0][0] + 32, -1);
    std::fill(&controller[0][0], &controller[0][0] + 16 * 120, -1);
    std::vector<size_t> parameters;
    for (size_t i = 0; i < next_; ++i) {
        const SongEvent& e = song_.events[i];
        const int channel = e.status & 0x0F;
        switch (e.status & 0xF0) {
            case 0xC0:
                program[channel] = e.data1;
                break;
            case 0xE0:
                bend[channel][0] = e.data1;
                bend[channel][1] = e.data2;
                break;
            case 0xB0:
                if (ParameterController(e.data1)) {
                    parameters.push_back(i);
                } else if (e.data1 < 120) {
                    controller[channel][e.data1] = e.data2;
                }
                break;
            default:
                break;
        }
    }
    for (int channel = 0; channel < 16; ++channel) {
        const auto c = static_cast<uint8_t>(channel);
        if (program[channel] >= 0) Emit(due, 0xC0 | c, static_cast<uint8_t>(program[channel]), 0, out);
        for (int number = 0; number < 120; ++number) {
            const int value = controller[channel][number];
            if (value >= 0)
                Emit(due, 0xB0 | c, static_cast<uint8_t>(number), static_cast<uint8_t>(value), out);
        }
        if (bend[channel][0] >= 0) {
            Emit(due, 0xE0 | c, static_cast<uint8_t>(bend[channel][0]),
                 static_cast<uint8_t>(bend[channel][1]), out);
        }
    }
    for (const size_t i : parameters) {
        const SongEvent& e = song_.events[i];
        Emit(due, e.status, e.data1, e.data2, out);
    }
}

void MidiSequencer::SendEvent(const SongEvent& e, double due, Out& out) {
    const int kind = e.status & 0xF0;
    const int channel = e.status & 0x0F;
    const bool keyed = kind == 0x80 || kind == 0x90 || kind == 0xA0;
    int key = e.data1;
    if (keyed && channel != kPercussionChannel) key += transposition_;
    if (key < 0 || key > 127) return;  // moved off the keyboard: the note is not played
    const auto k = static_cast<uint8_t>(key);
    bool& sounding = sounding_[channel][key];
    switch (kind) {
        case 0x90: {
            const bool muted =
                (e.part >= 0 && e.part < kMaxParts && mutes_.parts[static_cast<size_t>(e.part)]) ||
                (e.part == kDrumsPart && mutes_.drums);
            if (muted || (e.part == kClickPart && !metronome_)) return;
            // The synthesiser lets a sounding key go when it is struck again; an instrument given
            // two note-ons and then one note-off might hold the second for good.
            if (sounding) Emit(due, static_cast<uint8_t>(0x80 | channel), k, 0, out);
            Emit(due, e.status, k, e.data2, out);
            sounding = true;
            return;
        }
        case 0x80:
            if (!sounding) return;
            Emit(due, e.status, k, e.data2, out);
            sounding = false;
            return;
        case 0xB0:
            // A song's own all-notes-off (and the modes that imply one) ends every note it sounds.
            if (e.data1 >= 120 && e.data1 != 121 && e.data1 != 122) {
                std::fill(std::begin(sounding_[channel]), std::end(sounding_[channel]), false);
            }
            break;
        default:
            break;
    }
    Emit(due, e.status, k, e.data2, out);
}

void MidiSequencer::Advance(double now, Out& out) {
    if (!playing_) return;
    StrikeCountIn(now, out);
    // While a bar is counted in, the song's clock stands before its place: nothing of it is due
    // until the bar is over, less the latency.
    const double target = now >= anchorWall_ ? Unwrapped(now) + latency_ * speed_
                                             : anchorSong_ + (now + latency_ - anchorWall_) * speed_;
    // Playing along, the song stops at the loop's end, what sounds let go there; nothing is
    // restored for a pass the caller counts in itself.
    const int64_t passes = PassOf(target);
    const bool stopped = passesCountedIn_ && passes > emittedPass_;
    const int64_t targetPass = stopped ? emittedPass_ : passes;
    const double targetTime = stopped ? loopEnd_ : SongTimeOf(target);
    const auto& events = song_.events;
    for (;;) {
        const bool last = emittedPass_ >= targetPass;
        if (chase_) Chase(now, out);
        while (next_ < events.size()) {
            const SongEvent& e = events[next_];
            if (Looping() && e.seconds >= loopEnd_) break;
            if (last && e.seconds > targetTime) break;
            SendEvent(e, DueOf(e.seconds, emittedPass_), out);
            ++next_;
        }
        if (last) break;
        // The loop's end: what sounds is let go where the song turns back, and the next pass
        // starts with the channels as they were at the loop's start.
        Release(DueOf(loopEnd_, emittedPass_), out);
        ++emittedPass_;
        MoveTo(loopStart_);
    }
    if (stopped) {
        Release(DueOf(loopEnd_, emittedPass_), out);
        chase_ = false;
    }
}

double MidiSequencer::NextDue(double now) const {
    const auto& clicks = countIn_.events;
    const double click =
        playing_ && countInNext_ < clicks.size() ? clicks[countInNext_].seconds - latency_ : kNever;
    return std::min(click, NextSongDue(now));
}

double MidiSequencer::NextSongDue(double now) const {
    if (!playing_ || waiting_) return kNever;
    if (chase_) return now;
    const auto& events = song_.events;
    if (next_ < events.size() && !(Looping() && events[next_].seconds >= loopEnd_)) {
        return DueOf(events[next_].seconds, emittedPass_);
    }
    return Looping() && !passesCountedIn_ ? DueOf(loopEnd_, emittedPass_) : kNever;
}

bool MidiSequencer::Finished(double now) const {
    if (!playing_ || Looping() || next_ < song_.events.size() || countInNext_ < countIn_.events.size())
        return false;
    return song_.events.empty() || Position(now) >= song_.events.back().seconds;
}

void MidiSequencer::Play(double now, Out& out) {
    if (playing_) return;
    playing_ = true;
    anchorWall_ = now;
    Advance(now, out);
}

void MidiSequencer::Pause(double now, Out& out) {
    if (!playing_) return;
    DropCountIn();
    ReleaseAll(now, out);
    playing_ = false;
}

void MidiSequencer::Stop(double now, Out& out) {
    DropCountIn();
    ReleaseAll(now, out);
    playing_ = false;
    Anchor(0.0, now);
    MoveTo(0.0);
}

void MidiSequencer::Seek(double seconds, double now, Out& out) {
    DropCountIn();
    ReleaseAll(now, out);
    Anchor(seconds, now);
    MoveTo(anchorSong_);
    Advance(now, out);
}

void MidiSequencer::Wait(bool waiting, double now) {
    if (waiting == waiting_) return;
    const double unwrapped = Unwrapped(now);
    emittedPass_ -= PassOf(unwrapped);
    anchorSong_ = SongTimeOf(unwrapped);
    anchorWall_ = Since(now);
    waiting_ = waiting;
}

void MidiSequencer::Shift(double seconds, double now) {
    const double unwrapped = Unwrapped(now);
    const double target = std::max(0.0, SongTimeOf(unwrapped) + seconds);
    if (Looping() && (target >= loopEnd_ || PassOf(unwrapped) != emittedPass_)) return;
    emittedPass_ -= PassOf(unwrapped);
    anchorSong_ = target;
    anchorWall_ = Since(now);
}

void MidiSequencer::SetSpeed(double speed, double now) {
    const double unwrapped = Unwrapped(now);
    emittedPass_ -= PassOf(unwrapped);
    anchorSong_ = SongTimeOf(unwrapped);
    anchorWall_ = Since(now);
    speed_ = std::clamp(speed, kMinRenderSpeed, kMaxRenderSpeed);
}

void MidiSequencer::SetLatency(double seconds, double now) {
    (void)now;
    latency_ = std::clamp(seconds, 0.0, kMaxLatency);
}

void MidiSequencer::SetLoop(double start, double end, double now, Out& out) {
    if (!(end > start)) start = end = 0.0;
    if (start == loopStart_ && end == loopEnd_) return;
    const double position = Position(now);
    // Whatever was sent ahead under the old loop may not belong to the new one: the flow starts
    // again from where the song is.
    ReleaseAll(now, out);
    loopStart_ = std::max(0.0, start);
    loopEnd_ = end;
    Anchor(position, Since(now));
    MoveTo(position);
    Advance(now, out);
}

void MidiSequencer::SetMutes(const PartMutes& mutes, double now, Out& out) {
    if (mutes.parts == mutes_.parts && mutes.drums == mutes_.drums) return;
    ReleaseAll(now, out);
    mutes_ = mutes;
    Advance(now, out);
}

void MidiSequencer::SetTransposition(int semitones, double now, Out& out) {
    if (semitones == transposition_) return;
    ReleaseAll(now, out);
    transposition_ = semitones;
    Advance(now, out);
}
