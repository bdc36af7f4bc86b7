#include "synth/note_budget.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kControl = 0xB0;
constexpr uint8_t kVolume = 7;
constexpr uint8_t kExpression = 11;
constexpr uint8_t kAllSoundOff = 120;
constexpr uint8_t kResetControllers = 121;
constexpr uint8_t kAllNotesOff = 123;
// The synthesiser's values before a channel sets its own.
constexpr uint8_t kDefaultVolume = 100;
constexpr uint8_t kDefaultExpression = 127;

}  // namespace

NoteBudget::NoteBudget(int voices, uint32_t sampleRate)
    : perFrame_(std::max(voices, 1) / (kLeastVoiceSeconds * std::max<uint32_t>(sampleRate, 1))),
      most_(std::max(voices, 1)),
      credit_(most_) {
    volume_.fill(kDefaultVolume);
    expression_.fill(kDefaultExpression);
}

void NoteBudget::Follow(const SequencedEvent& e) {
    FollowControllers(e);
    ForgetNotes(e);
}

void NoteBudget::FollowControllers(const SequencedEvent& e) {
    if ((e.status & 0xF0) != kControl) return;
    const int channel = e.status & 0x0F;
    if (e.data1 == kVolume) volume_[channel] = e.data2;
    if (e.data1 == kExpression) expression_[channel] = e.data2;
    if (e.data1 == kResetControllers) expression_[channel] = kDefaultExpression;
}

void NoteBudget::ForgetNotes(const SequencedEvent& e) {
    if ((e.status & 0xF0) == kControl && (e.data1 == kAllSoundOff || e.data1 == kAllNotesOff))
        std::fill_n(started_.begin() + (e.status & 0x0F) * kKeys, kKeys, uint16_t{0});
}

uint32_t NoteBudget::Loudness(const SequencedEvent& on) const {
    const int channel = on.status & 0x0F;
    return uint32_t{on.data2} * volume_[channel] * expression_[channel];
}

void NoteBudget::Sift(int64_t frame, const std::vector<SequencedEvent>& events,
                      const std::vector<uint8_t>& silenced) {
    auto silent = [&silenced](size_t i) { return i < silenced.size() && silenced[i] != 0; };
    credit_ =
        std::min(most_, credit_ + static_cast<double>(std::max<int64_t>(frame - lastFrame_, 0)) * perFrame_);
    lastFrame_ = std::max(lastFrame_, frame);

    // Each note-on's loudness under the controllers as they stand when it comes.
    loudness_.clear();
    for (size_t i = 0; i < events.size(); ++i) {
        const SequencedEvent& e = events[i];
        if ((e.status & 0xF0) == kNoteOn && !silent(i)) loudness_.push_back(Loudness(e));
        FollowControllers(e);
    }
    const size_t allowed = static_cast<size_t>(credit_);
    // Past the budget, only notes louder than the quietest one kept start, and of those as loud as
    // it, the earliest.
    uint32_t least = 0;
    size_t atLeast = loudness_.size();
    if (loudness_.size() > allowed) {
        if (allowed == 0) {
            least = UINT32_MAX;
            atLeast = 0;
        } else {
            ranked_.assign(loudness_.begin(), loudness_.end());
            std::nth_element(ranked_.begin(), ranked_.begin() + static_cast<ptrdiff_t>(allowed - 1),
                             ranked_.end(), std::greater<>());
            least = ranked_[allowed - 1];
            const size_t louder = static_cast<size_t>(
                std::count_if(ranked_.begin(), ranked_.end(), [least](uint32_t l) { return l > least; }));
            atLeast = allowed - louder;
        }
    }

    size_t on = 0;
    sends_.clear();
    for (size_t i = 0; i < events.size(); ++i) {
        const SequencedEvent& e = events[i];
        const int kind = e.status & 0xF0;
        uint16_t& started = started_[(e.status & 0x0F) * kKeys + e.data1];
        bool send = true;
        if (kind == kNoteOn && silent(i)) {
            send = false;
        } else if (kind == kNoteOn) {
            const uint32_t loudness = loudness_[on++];
            send = loudness > least || (loudness == least && atLeast > 0);
            if (send && loudness == least && loudness_.size() > allowed) --atLeast;
            if (send && started < UINT16_MAX) ++started;
            credit_ -= send ? 1.0 : 0.0;
        } else if (kind == kNoteOff) {
            send = started > 0;
            if (send) --started;
        } else {
            ForgetNotes(e);
        }
        sends_.push_back(send ? 1 : 0);
    }
}
