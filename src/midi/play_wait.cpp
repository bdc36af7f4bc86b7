#include "midi/play_wait.h"

#include <algorithm>

void WaitMode::Load(const SongData& song, const PlayedParts& parts) {
    const std::vector<PlayNote> notes = PlayedNotes(song, parts);
    steps_.clear();
    keys_.clear();
    for (size_t i = 0; i < notes.size();) {
        // A step is measured from its first note, so that a fast run is never chained into one chord.
        const double onset = notes[i].start;
        KeySet keys;
        for (; i < notes.size() && notes[i].start <= onset + kChordSpread; ++i)
            keys.set(static_cast<size_t>(notes[i].key));
        const auto first = static_cast<uint32_t>(keys_.size());
        for (size_t k = 0; k < keys.size(); ++k) {
            if (keys.test(k)) keys_.push_back(static_cast<uint8_t>(k));
        }
        steps_.push_back({onset, first, static_cast<uint32_t>(keys_.size()) - first});
    }
    held_.reset();
    clock_ = SongClockReading{0.0, 0.0, clock_.speed};
    Seek(0.0);
}

void WaitMode::SetSpeed(double speed) {
    clock_.speed = PlayAlongSpeed(speed);
}

KeySet WaitMode::StepKeys(int32_t step) const {
    KeySet keys;
    if (step < 0 || step >= StepCount()) return keys;
    const Step& s = steps_[static_cast<size_t>(step)];
    for (uint32_t k = 0; k < s.count; ++k) keys.set(keys_[s.first + k]);
    return keys;
}

void WaitMode::EnterStep(int32_t step) {
    struck_.reset();
    if (step >= StepCount()) {
        state_.step = -1;
        state_.stepOnset = 0.0;
        stepKeys_.reset();
    } else {
        state_.step = step;
        state_.stepOnset = steps_[static_cast<size_t>(step)].onset;
        stepKeys_ = StepKeys(step);
    }
    state_.wanted = stepKeys_;
}

void WaitMode::Seek(double songSeconds) {
    // A step a rounding before the place jumped to is still ahead: a loop is often begun at a note.
    const auto at = std::lower_bound(steps_.begin(), steps_.end(), songSeconds - kJumpTolerance,
                                     [](const Step& s, double t) { return s.onset < t; });
    state_.songSeconds = songSeconds;
    state_.holding = false;
    state_.wrong.reset();
    state_.wrongStrikes = 0;
    state_.stepsDone = 0;
    clock_.songSeconds = songSeconds;
    EnterStep(static_cast<int32_t>(at - steps_.begin()));
}

void WaitMode::ForgetStrikesBefore(double realSeconds) {
    if (state_.step < 0 || struck_.none()) return;
    const Step& s = steps_[static_cast<size_t>(state_.step)];
    for (uint32_t i = 0; i < s.count; ++i) {
        const uint8_t key = keys_[s.first + i];
        if (struck_.test(key) && struckAt_[key] < realSeconds) {
            struck_.reset(key);
            state_.wanted.set(key);
        }
    }
}

const WaitState& WaitMode::Advance(double songSeconds, double realSeconds) {
    if (songSeconds < state_.songSeconds - kJumpTolerance) Seek(songSeconds);
    ForgetStrikesBefore(realSeconds - kChordWindow);
    // The song never moves back by a rounding: a held song stays exactly at its step.
    const double from = state_.songSeconds;
    if (state_.step >= 0 && state_.stepOnset <= songSeconds) {
        state_.holding = true;
        state_.songSeconds = std::max(state_.stepOnset, from);
    } else {
        state_.holding = false;
        state_.songSeconds = std::max(songSeconds, from);
    }
    clock_.songSeconds = state_.songSeconds;
    clock_.realSeconds = realSeconds;
    return state_;
}

const WaitState& WaitMode::KeyDown(int key, double realSeconds) {
    if (key < 0 || key > 127) return state_;
    const auto k = static_cast<size_t>(key);
    // A key cannot go down twice without coming up: a second note-on is no fresh strike.
    if (held_.test(k)) return state_;
    held_.set(k);
    if (state_.step < 0) return state_;  // the part is over: the player plays freely
    const double onset = state_.stepOnset;
    const double songAt = state_.holding ? state_.songSeconds : clock_.SongAt(realSeconds, onset);
    const bool inTime = (onset - songAt) / clock_.speed <= kEarlyLead;
    if (!stepKeys_.test(k) || !inTime) {
        state_.wrong.set(k);
        ++state_.wrongStrikes;
        return state_;
    }
    ForgetStrikesBefore(realSeconds - kChordWindow);
    struck_.set(k);
    struckAt_[k] = realSeconds;
    state_.wanted.reset(k);
    if (struck_ == stepKeys_) {
        ++state_.stepsDone;
        state_.holding = false;
        EnterStep(state_.step + 1);
    }
    return state_;
}

const WaitState& WaitMode::KeyUp(int key) {
    if (key < 0 || key > 127) return state_;
    held_.reset(static_cast<size_t>(key));
    state_.wrong.reset(static_cast<size_t>(key));
    return state_;
}
