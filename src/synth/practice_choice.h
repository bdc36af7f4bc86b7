// What the player practises with: the song's speed, and which of its parts sound.
//
// Each part (a hand, or a voice) is heard, muted or soloed. A click on a part's row of the legend
// takes it round: heard, muted, soloed, heard again, as a mixing desk's buttons would. While any
// part is soloed only the soloed parts sound, and the drums fall silent too (they have no row to
// solo); otherwise every part sounds but the muted ones. The drums, which belong to no part, are
// muted on their own.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/play_score.h"
#include "core/song_data.h"
#include "synth/part_mute.h"

enum class PartSound : uint8_t { Heard, Muted, Solo };

struct PracticeChoice {
    // The speed in percent of the song's own tempo, in steps of kSpeedStep.
    static constexpr int kMinSpeed = 25;
    static constexpr int kMaxSpeed = 200;
    static constexpr int kSpeedStep = 5;

    int speedPercent = 100;
    std::array<PartSound, kMaxParts> parts{};
    bool drumsMuted = false;

    // The song as written: its own speed, every part heard.
    [[nodiscard]] bool Plain() const;
    [[nodiscard]] double Speed() const { return speedPercent / 100.0; }
    // Whether anything is soloed.
    [[nodiscard]] bool AnySolo() const;
    // Whether part `part` sounds.
    [[nodiscard]] bool Heard(int part) const;
    // The parts a render leaves silent, for a song of `partCount` parts.
    [[nodiscard]] PartMutes Mutes(int partCount) const;

    // A click on part `part`'s row: heard, muted, soloed, heard. False for no such part.
    bool CyclePart(int part);
    // Mutes part `part`, or lets it sound again (a soloed part is muted).
    bool ToggleMute(int part);
    // Puts part `part` alone, or back with the others (a muted part is soloed).
    bool ToggleSolo(int part);
    // Leaves part `part` to the player: it alone is silent, every other part heard, as play-along
    // wants it. False for no such part.
    bool LeaveToPlayer(int part);
    // The speed `steps` steps up (or down), inside its range; false when it stays.
    bool StepSpeed(int steps);
    // Sets the speed to `percent`, rounded to a step and kept inside the range.
    void SetSpeed(double percent);
    // The trainer: after a clean pass (every note played, none missed and no wrong key) the speed
    // goes up a step, never past the song's own; false when it stays.
    bool TrainAfter(const PlayScore& pass);

    // In a few words, what differs from the song as written, for a song of `partCount` parts read
    // as two hands or not: "75% speed, Hand 1 (right) muted", "voice 3 alone, drums muted"; "" when Plain.
    [[nodiscard]] std::string Describe(int partCount, bool hands) const;
};
