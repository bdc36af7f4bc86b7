#include "midi/play_follow.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

std::string PassSummaryText(const PlayScore& s) {
    char text[160];
    const int struck = s.hits + s.early + s.late;
    int n = std::snprintf(text, sizeof text, "%d of %d notes, %.0f%% accurate", struck, s.Notes(),
                          AccuracyPercent(s));
    // Within a few milliseconds either way the player is with the song: no side is worth naming.
    constexpr double kOnTimeMs = 5.0;
    if (struck > 0 && n > 0 && n < static_cast<int>(sizeof text)) {
        if (std::fabs(s.meanOffsetMs) < kOnTimeMs) {
            n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "; on time on average");
        } else {
            n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "; %.0f ms %s on average",
                               std::fabs(s.meanOffsetMs), s.meanOffsetMs < 0 ? "early" : "late");
        }
    }
    if (s.wrong > 0 && n > 0 && n < static_cast<int>(sizeof text))
        n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "; %d wrong key%s", s.wrong,
                           s.wrong == 1 ? "" : "s");
    const Dynamics d = DynamicsOf(s);
    if (d != Dynamics::Unknown && n > 0 && n < static_cast<int>(sizeof text))
        std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "; %s",
                      d == Dynamics::TooLoud   ? "too loud"
                      : d == Dynamics::TooSoft ? "too soft"
                                               : "even");
    return text;
}

void FollowScorer::Load(const SongData& song, const PlayedParts& parts) {
    notes_ = PlayedNotes(song, parts);
    judged_.assign(notes_.size(), Judgement::None);
    byKey_.resize(notes_.size());
    for (uint32_t i = 0; i < byKey_.size(); ++i) byKey_[i] = i;
    // notes_ is by start already, so a stable sort by key leaves each key's notes by start.
    std::stable_sort(byKey_.begin(), byKey_.end(),
                     [this](uint32_t a, uint32_t b) { return notes_[a].key < notes_[b].key; });
    uint32_t at = 0;
    for (int key = 0; key <= 128; ++key) {
        while (at < byKey_.size() && notes_[byKey_[at]].key < key) ++at;
        keyBegin_[key] = at;
    }
    held_.reset();
    passesEnded_ = 0;
    lastPass_ = PlayScore{};
    passOpen_ = false;
    clock_ = SongClockReading{0.0, 0.0, clock_.speed};
    BeginPass(0.0);
}

void FollowScorer::SetSpeed(double speed) {
    clock_.speed = PlayAlongSpeed(speed);
    passSpeed_ = std::min(passSpeed_, clock_.speed);
}

void FollowScorer::BeginPass(double songSeconds) {
    const auto first = std::lower_bound(notes_.begin(), notes_.end(), songSeconds - kJumpTolerance,
                                        [](const PlayNote& n, double t) { return n.start < t; });
    passFirst_ = static_cast<size_t>(first - notes_.begin());
    std::fill(judged_.begin(), judged_.begin() + static_cast<std::ptrdiff_t>(passFirst_), Judgement::Skipped);
    std::fill(judged_.begin() + static_cast<std::ptrdiff_t>(passFirst_), judged_.end(), Judgement::None);
    missCursor_ = passFirst_;
    passJudged_ = 0;
    passOpen_ = passFirst_ < notes_.size();
    passSpeed_ = clock_.speed;
    errorSumMs_ = 0.0;
    offsetSumMs_ = 0.0;
    velocityDeltaSum_ = 0.0;
    pass_ = PlayScore{};
    pass_.speedPercent = static_cast<int32_t>(std::lround(passSpeed_ * 100.0));
    clock_.songSeconds = songSeconds;
}

void FollowScorer::EndPass() {
    if (!passOpen_) return;
    passOpen_ = false;
    pass_.speedPercent = static_cast<int32_t>(std::lround(passSpeed_ * 100.0));
    if (pass_.Notes() + pass_.wrong == 0) return;  // nothing was played: no pass to show
    pass_.complete = passFirst_ == 0 && passJudged_ == notes_.size();
    lastPass_ = pass_;
    ++passesEnded_;
}

void FollowScorer::Seek(double songSeconds) {
    // Sent where it stands, before anything was judged (the player starting where the song is):
    // the pass goes on, and a note at that very place can still be struck.
    if (passOpen_ && passJudged_ == 0 && std::fabs(songSeconds - clock_.songSeconds) <= kJumpTolerance)
        return;
    if (passOpen_) {
        // The notes the song has passed can no longer be struck.
        for (size_t i = missCursor_; passOpen_ && i < notes_.size() && notes_[i].start <= clock_.songSeconds;
             ++i) {
            if (judged_[i] == Judgement::None) Judge(i, Judgement::Missed, 0.0);
        }
        EndPass();
    }
    BeginPass(songSeconds);
}

void FollowScorer::Judge(size_t note, Judgement judgement, double errorMs, int velocity) {
    judged_[note] = judgement;
    ++passJudged_;
    switch (judgement) {
        case Judgement::Hit:
            ++pass_.hits;
            break;
        case Judgement::Early:
            ++pass_.early;
            break;
        case Judgement::Late:
            ++pass_.late;
            break;
        default:
            ++pass_.missed;
            break;
    }
    if (judgement != Judgement::Missed) {
        const int struck = pass_.hits + pass_.early + pass_.late;
        errorSumMs_ += std::fabs(errorMs);
        offsetSumMs_ += errorMs;
        pass_.meanErrorMs = errorSumMs_ / struck;
        pass_.meanOffsetMs = offsetSumMs_ / struck;
        // A song note without a velocity (none in a file that loads) says nothing of loudness.
        if (velocity > 0 && notes_[note].velocity > 0) {
            velocityDeltaSum_ += velocity - notes_[note].velocity;
            ++pass_.velocityNotes;
            pass_.meanVelocityDelta = velocityDeltaSum_ / pass_.velocityNotes;
        }
    }
    if (passFirst_ + passJudged_ == notes_.size()) EndPass();
}

int32_t FollowScorer::Advance(double songSeconds, double realSeconds) {
    if (songSeconds < clock_.songSeconds - kJumpTolerance) Seek(songSeconds);
    clock_.songSeconds = songSeconds;
    clock_.realSeconds = realSeconds;
    int32_t missed = 0;
    const double window = kJudgeWindow * clock_.speed;
    for (; passOpen_ && missCursor_ < notes_.size() && notes_[missCursor_].start + window < songSeconds;
         ++missCursor_) {
        if (judged_[missCursor_] != Judgement::None) continue;
        Judge(missCursor_, Judgement::Missed, 0.0);
        ++missed;
    }
    return missed;
}

JudgedKey FollowScorer::KeyDown(int key, double realSeconds, int velocity) {
    JudgedKey result;
    if (key < 0 || key > 127 || held_.test(static_cast<size_t>(key))) return result;
    held_.set(static_cast<size_t>(key));
    if (!passOpen_) return result;
    const double song = clock_.SongAt(realSeconds, std::numeric_limits<double>::infinity());
    const double window = kJudgeWindow * clock_.speed;
    const uint32_t* begin = byKey_.data() + keyBegin_[key];
    const uint32_t* end = byKey_.data() + keyBegin_[key + 1];
    const uint32_t* at = std::lower_bound(begin, end, song - window,
                                          [this](uint32_t i, double t) { return notes_[i].start < t; });
    double nearest = 0.0;
    for (; at != end && notes_[*at].start <= song + window; ++at) {
        const double distance = std::fabs(notes_[*at].start - song);
        // Of two notes equally near, the earlier: it is the one the song is done with first.
        if (judged_[*at] == Judgement::None && (result.note < 0 || distance < nearest)) {
            nearest = distance;
            result.note = static_cast<int32_t>(*at);
        }
    }
    if (result.note < 0) {
        ++pass_.wrong;
        result.judgement = Judgement::Wrong;
        return result;
    }
    result.errorMs = (song - notes_[static_cast<size_t>(result.note)].start) / clock_.speed * 1000.0;
    result.judgement = std::fabs(result.errorMs) <= kHitWindow * 1000.0 ? Judgement::Hit
                       : result.errorMs < 0                             ? Judgement::Early
                                                                        : Judgement::Late;
    Judge(static_cast<size_t>(result.note), result.judgement, result.errorMs, std::clamp(velocity, 0, 127));
    return result;
}

void FollowScorer::KeyUp(int key) {
    if (key >= 0 && key <= 127) held_.reset(static_cast<size_t>(key));
}
