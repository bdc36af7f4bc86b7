#include "synth/practice_choice.h"

#include <algorithm>
#include <cmath>

#include "core/hand_name.h"

bool PracticeChoice::Plain() const {
    return speedPercent == 100 && !drumsMuted &&
           std::all_of(parts.begin(), parts.end(), [](PartSound s) { return s == PartSound::Heard; });
}

bool PracticeChoice::AnySolo() const {
    return std::any_of(parts.begin(), parts.end(), [](PartSound s) { return s == PartSound::Solo; });
}

bool PracticeChoice::Heard(int part) const {
    if (part < 0 || part >= kMaxParts) return false;
    const PartSound sound = parts[static_cast<size_t>(part)];
    return AnySolo() ? sound == PartSound::Solo : sound != PartSound::Muted;
}

PartMutes PracticeChoice::Mutes(int partCount) const {
    PartMutes mutes;
    const int count = std::clamp(partCount, 0, kMaxParts);
    const bool solo = AnySolo();
    for (int p = 0; p < count; ++p) {
        const PartSound sound = parts[static_cast<size_t>(p)];
        mutes.parts.set(static_cast<size_t>(p), solo ? sound != PartSound::Solo : sound == PartSound::Muted);
    }
    // Soloing a part is listening to it alone: the drums, which have no row to solo, go quiet too.
    mutes.drums = drumsMuted || solo;
    return mutes;
}

bool PracticeChoice::CyclePart(int part) {
    if (part < 0 || part >= kMaxParts) return false;
    PartSound& sound = parts[static_cast<size_t>(part)];
    sound = sound == PartSound::Heard   ? PartSound::Muted
            : sound == PartSound::Muted ? PartSound::Solo
                                        : PartSound::Heard;
    return true;
}

bool PracticeChoice::ToggleMute(int part) {
    if (part < 0 || part >= kMaxParts) return false;
    PartSound& sound = parts[static_cast<size_t>(part)];
    sound = sound == PartSound::Muted ? PartSound::Heard : PartSound::Muted;
    return true;
}

bool PracticeChoice::ToggleSolo(int part) {
    if (part < 0 || part >= kMaxParts) return false;
    PartSound& sound = parts[static_cast<size_t>(part)];
    sound = sound == PartSound::Solo ? PartSound::Heard : PartSound::Solo;
    return true;
}

bool PracticeChoice::LeaveToPlayer(int part) {
    if (part < 0 || part >= kMaxParts) return false;
    // The player plays the parts the song leaves silent: this one, and every other part heard.
    parts.fill(PartSound::Heard);
    parts[static_cast<size_t>(part)] = PartSound::Muted;
    return true;
}

bool PracticeChoice::StepSpeed(int steps) {
    const int before = speedPercent;
    SetSpeed(speedPercent + steps * kSpeedStep);
    return speedPercent != before;
}

bool PracticeChoice::TrainAfter(const PlayScore& pass) {
    // A pass of early and late notes is clean: the player found every key, and the speed is what
    // the trainer works on. A song set faster than its own is left as it is.
    if (pass.Notes() <= 0 || pass.missed > 0 || pass.wrong > 0 || speedPercent >= 100) return false;
    speedPercent = std::min(100, speedPercent + kSpeedStep);
    return true;
}

void PracticeChoice::SetSpeed(double percent) {
    if (!std::isfinite(percent)) return;
    const double stepped = std::round(percent / kSpeedStep) * kSpeedStep;
    speedPercent = static_cast<int>(std::clamp(stepped, double{kMinSpeed}, double{kMaxSpeed}));
}

std::string PracticeChoice::Describe(int partCount, bool hands) const {
    std::string text;
    const auto add = [&text](const std::string& words) { text += (text.empty() ? "" : ", ") + words; };
    if (speedPercent != 100) add(std::to_string(speedPercent) + "% speed");
    const std::string kind = "voice ";
    const int count = std::clamp(partCount, 0, kMaxParts);
    std::string alone, muted;
    for (int p = 0; p < count; ++p) {
        const std::string name = hands ? std::string(HandName(p)) : kind + std::to_string(p + 1);
        if (AnySolo() && parts[static_cast<size_t>(p)] == PartSound::Solo)
            alone += (alone.empty() ? "" : " and ") + name;
        if (!AnySolo() && parts[static_cast<size_t>(p)] == PartSound::Muted)
            muted += (muted.empty() ? "" : " and ") + name;
    }
    if (!alone.empty()) add(alone + " alone");
    if (!muted.empty()) add(muted + " muted");
    if (drumsMuted && !AnySolo()) add("drums muted");
    return text;
}
