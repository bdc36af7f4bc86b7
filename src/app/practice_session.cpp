#include "app/practice_session.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "settings/settings.h"

void PracticeSession::NewSongKeyedAside(std::shared_future<std::string> key) {
    NewSong("");
    pendingKey_ = std::move(key);
}

const std::string& PracticeSession::Key() const {
    if (pendingKey_.valid()) {
        songKey_ = pendingKey_.get();
        pendingKey_ = {};
    }
    return songKey_;
}

const std::string& PracticeSession::KnownKey() const {
    if (pendingKey_.valid() && pendingKey_.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return songKey_;  // still "": the hash is not done
    return Key();
}

void PracticeSession::NewSong(std::string key) {
    songKey_ = std::move(key);
    pendingKey_ = {};
    loopMark = -1;
    loopDragFrom = -1;
    choice = PracticeChoice{};
    transpose = 0;
    metronome = false;
    trainer = false;
    hands = HandEdits{};
    handBoxActive = false;
}

std::optional<PlaybackLoop> PracticeSession::MarkLoop(int64_t now, bool looping) {
    if (looping) {
        loopMark = -1;
        return PlaybackLoop{};
    }
    if (loopMark < 0) {
        loopMark = now;
        return std::nullopt;
    }
    const PlaybackLoop loop{std::min(loopMark, now), std::max(loopMark, now)};
    if (!loop.Active()) {
        loopMark = now;
        return std::nullopt;
    }
    loopMark = -1;
    return loop;
}

std::vector<int32_t> PracticeSession::ScoreParts(int parts, bool playingAlong) const {
    const int count = std::clamp(parts, 0, kMaxParts);
    std::vector<int32_t> shown;
    if (playingAlong) {
        const PartMutes played = choice.Mutes(count);
        for (int p = 0; p < count; ++p)
            if (played.parts.test(static_cast<size_t>(p))) shown.push_back(p);
        if (!shown.empty()) return shown;
    }
    for (const PartSound wanted : {PartSound::Muted, PartSound::Solo}) {
        for (int p = 0; p < count; ++p)
            if (choice.parts[static_cast<size_t>(p)] == wanted) shown.push_back(p);
        if (!shown.empty()) return shown;
    }
    return shown;
}

SongMemory PracticeSession::Memory(const PlaybackLoop& loop, double rate) const {
    SongMemory memory;
    if (loop.Active() && rate > 0) {
        memory.loopStart = static_cast<double>(loop.start) / rate;
        memory.loopEnd = static_cast<double>(loop.end) / rate;
    }
    memory.speedPercent = choice.speedPercent;
    for (int p = 0; p < kMaxParts; ++p) {
        const PartSound sound = choice.parts[static_cast<size_t>(p)];
        if (sound == PartSound::Muted) memory.mutedParts.push_back(p);
        if (sound == PartSound::Solo) memory.soloParts.push_back(p);
    }
    memory.drumsMuted = choice.drumsMuted;
    memory.transpose = transpose;
    memory.metronome = metronome;
    memory.trainer = trainer;
    return memory;
}

void PracticeSession::TakeFromMemory(const SongMemory& memory, int parts, bool hasDrums) {
    choice = PracticeChoice{};
    choice.SetSpeed(memory.speedPercent);
    for (const int p : memory.mutedParts)
        if (p >= 0 && p < parts) choice.parts[static_cast<size_t>(p)] = PartSound::Muted;
    for (const int p : memory.soloParts)
        if (p >= 0 && p < parts) choice.parts[static_cast<size_t>(p)] = PartSound::Solo;
    choice.drumsMuted = memory.drumsMuted && hasDrums;
    transpose = std::clamp(memory.transpose, -kMaxTranspose, kMaxTranspose);
    metronome = memory.metronome;
    trainer = memory.trainer;
}

void PlayAlongSession::Begin(PlayAlongMode how, const std::string& input, const std::string& parts) {
    mode = how;
    parts_ = parts;
    passesShown = 0;
    keysDown.reset();
    inputName = input;
    SayHowItPlays();
}

void PlayAlongSession::Listen(const std::string& input) {
    inputName = input;
    if (passesShown == 0) SayHowItPlays();
}

bool PlayAlongSession::ComputerKeyboardChosen() const {
    return chosenInput == kComputerKeyboardInput;
}

void PlayAlongSession::SayHowItPlays() {
    const std::string on = inputName.empty()
                               ? "on the computer keyboard (A to ' and W to P, Z and X for octaves)"
                               : "on " + inputName;
    if (mode == PlayAlongMode::Free) {
        scoreText = "Free play " + on + ": what you play is kept; Tab to stop and save it";
        return;
    }
    // Said over the notes until the first score takes its place: what plays, and how.
    scoreText = "Playing along " + on + ": " +
                (mode == PlayAlongMode::Following ? "every key is scored" : "the song waits for you") +
                " (part " + parts_ + "); Tab to stop";
}

bool PlayAlongSession::Note(int key, bool down, double seconds) {
    if (key < 0 || key > 127) return false;
    keysDown.set(static_cast<size_t>(key), down);
    if (takeOrigin_ < 0) takeOrigin_ = seconds;
    const uint8_t message[3] = {static_cast<uint8_t>(down ? 0x90 : 0x80), static_cast<uint8_t>(key),
                                static_cast<uint8_t>(down ? QwertyKeyboard::kVelocity : 0)};
    (void)take_.Add(seconds - takeOrigin_, message, sizeof message);
    return true;
}

Take PlayAlongSession::GiveUpTake(double& origin) {
    origin = takeOrigin_;
    takeOrigin_ = -1.0;
    return std::exchange(take_, Take{});
}

void PlayAlongSession::End() {
    mode = PlayAlongMode::Off;
    inputName.clear();
    inputs.clear();
    scoreText.clear();
    passesShown = 0;
    (void)typedKeys.ReleaseAll();
    keysDown.reset();
    take_ = Take{};
    takeOrigin_ = -1.0;
}
