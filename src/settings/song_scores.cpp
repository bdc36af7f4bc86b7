#include "settings/song_scores.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <utility>

#include "core/file_access.h"
#include "core/song_data.h"
#include "platform/atomic_file.h"
#include "settings/settings.h"
#include "settings/song_memory.h"

namespace {

// A file far larger than the lines the program writes is not one of its own.
constexpr size_t kMaxScoreBytes = 256 * 1024;
// Parts labels kept per song: the hands, both, and every voice leave room to spare.
constexpr size_t kMaxBests = 512;
// No key is judged a second or more from its note, so no mean error can be that large.
constexpr double kLargestErrorMs = 1000.0;
// Far more wrong keys than any run has: a value past it is damage, not a score.
constexpr int64_t kMostWrong = 10'000'000;
constexpr int64_t kLowestSpeedPercent = 25;
constexpr int64_t kHighestSpeedPercent = 200;

// A whole number from 0 to `most` at the front of `text`, which moves past it.
bool TakeCount(std::string_view& text, int64_t most, int64_t& value) {
    text = TrimSongFileBlanks(text);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || value < 0 || value > most) return false;
    text.remove_prefix(static_cast<size_t>(end - text.data()));
    return true;
}

bool TakeError(std::string_view& text, double& value) {
    text = TrimSongFileBlanks(text);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || !(value >= 0.0 && value <= kLargestErrorMs)) return false;
    text.remove_prefix(static_cast<size_t>(end - text.data()));
    return true;
}

// A signed figure of at most `most` either way, which a damaged line may not push past.
bool TakeSigned(std::string_view& text, double most, double& value) {
    text = TrimSongFileBlanks(text);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || !(value >= -most && value <= most)) return false;
    text.remove_prefix(static_cast<size_t>(end - text.data()));
    return true;
}

// The figures a best line and a pass line share, from the counts to the speed.
bool ParseFigures(std::string_view& values, PlayScore& s) {
    int64_t counts[5] = {};  // hits, early, late, missed: notes of one song; then wrong keys
    for (int i = 0; i < 5; ++i) {
        if (!TakeCount(values, i == 4 ? kMostWrong : kMaxSongNotes, counts[i])) return false;
    }
    const int64_t notes = counts[0] + counts[1] + counts[2] + counts[3];
    int64_t speed = 0;
    if (!TakeError(values, s.meanErrorMs) || !TakeCount(values, kHighestSpeedPercent, speed) ||
        speed < kLowestSpeedPercent)
        return false;
    if (notes > kMaxSongNotes) return false;
    s.hits = static_cast<int32_t>(counts[0]);
    s.early = static_cast<int32_t>(counts[1]);
    s.late = static_cast<int32_t>(counts[2]);
    s.missed = static_cast<int32_t>(counts[3]);
    s.wrong = static_cast<int32_t>(counts[4]);
    s.speedPercent = static_cast<int32_t>(speed);
    return true;
}

// The text after "WORD LABEL =" when `line` starts so, with the label in `parts`; false otherwise.
bool TakeHead(std::string_view& line, std::string_view word, std::string& parts) {
    line = TrimSongFileBlanks(line);
    if (line.substr(0, word.size()) != word) return false;
    line.remove_prefix(word.size());
    if (line.empty() || (line.front() != ' ' && line.front() != '\t')) return false;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) return false;
    parts = std::string(TrimSongFileBlanks(line.substr(0, equals)));
    if (!IsPartsLabel(parts)) return false;
    line.remove_prefix(equals + 1);
    return true;
}

// One "pass LABEL = when h e l m w error speed offset velocity velocity-notes complete" line.
bool ParsePassLine(std::string_view line, PassRecord& pass) {
    if (!TakeHead(line, "pass", pass.parts)) return false;
    int64_t when = 0, velocityNotes = 0, complete = 0;
    PlayScore& s = pass.score;
    // No moment before 1970 nor past the year 9999 is a pass's.
    constexpr int64_t kLatestMoment = 253402300799;
    if (!TakeCount(line, kLatestMoment, when) || !ParseFigures(line, s) ||
        !TakeSigned(line, kLargestErrorMs, s.meanOffsetMs) || !TakeSigned(line, 127.0, s.meanVelocityDelta) ||
        !TakeCount(line, kMaxSongNotes, velocityNotes) || !TakeCount(line, 1, complete) ||
        !TrimSongFileBlanks(line).empty())
        return false;
    if (s.Notes() + s.wrong <= 0) return false;
    pass.when = when;
    s.velocityNotes = static_cast<int32_t>(velocityNotes);
    s.complete = complete == 1;
    return true;
}

// One "best LABEL = h e l m w error speed" line into `best`; false when it does not read so.
bool ParseLine(std::string_view line, PartBest& best) {
    if (!TakeHead(line, "best", best.parts) || !ParseFigures(line, best.score) ||
        !TrimSongFileBlanks(line).empty())
        return false;
    best.score.complete = true;  // only complete runs are ever kept
    return best.score.Notes() > 0;
}

}  // namespace

bool IsPartsLabel(const std::string& parts) {
    if (parts.empty() || parts.size() > 4 * static_cast<size_t>(kMaxParts)) return false;
    std::string_view rest = parts;
    int last = 0;
    while (true) {
        const size_t plus = rest.find('+');
        const std::string_view number = rest.substr(0, plus);
        // One spelling per part: no sign, no leading zero.
        if (number.empty() || number.front() < '1' || number.front() > '9') return false;
        int value = 0;
        const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
        if (error != std::errc() || end != number.data() + number.size()) return false;
        if (value <= last || value > kMaxParts) return false;
        last = value;
        if (plus == std::string_view::npos) return true;
        rest.remove_prefix(plus + 1);
    }
}

const PlayScore* ScoreMemory::Find(const std::string& parts) const {
    for (const PartBest& b : bests) {
        if (b.parts == parts) return &b.score;
    }
    return nullptr;
}

bool ScoreMemory::Offer(const std::string& parts, const PlayScore& run) {
    if (!IsPartsLabel(parts)) return false;
    for (PartBest& b : bests) {
        if (b.parts != parts) continue;
        if (!BeatsBest(run, b.score)) return false;
        b.score = run;
        return true;
    }
    if (bests.size() >= kMaxBests || !BeatsBest(run, PlayScore{})) return false;
    bests.push_back({parts, run});
    return true;
}

bool ScoreMemory::AddPass(const std::string& parts, int64_t when, const PlayScore& run) {
    if (!IsPartsLabel(parts) || run.Notes() + run.wrong <= 0) return false;
    passes.push_back({parts, when, run});
    if (passes.size() > kMaxPasses)
        passes.erase(passes.begin(),
                     passes.begin() + static_cast<std::ptrdiff_t>(passes.size() - kMaxPasses));
    return true;
}

void ParseScoreMemory(ScoreMemory& memory, const char* data, size_t size) {
    std::string_view rest(data, size);
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (PassRecord pass; ParsePassLine(line, pass)) {
            (void)memory.AddPass(pass.parts, pass.when, pass.score);
            continue;
        }
        PartBest best;
        if (!ParseLine(line, best)) continue;
        PartBest* kept = nullptr;
        for (PartBest& b : memory.bests) {
            if (b.parts == best.parts) kept = &b;
        }
        if (kept != nullptr) {
            kept->score = best.score;
        } else if (memory.bests.size() < kMaxBests) {
            memory.bests.push_back(std::move(best));
        }
    }
}

std::string ScoreMemoryText(const ScoreMemory& memory) {
    if (memory.bests.empty() && memory.passes.empty()) return {};
    std::string text = "# parts = hits early late missed wrong mean-error-ms speed-percent\n";
    for (const PartBest& b : memory.bests) {
        const PlayScore& s = b.score;
        char line[96];
        std::snprintf(line, sizeof line, " = %d %d %d %d %d %.3f %d\n", s.hits, s.early, s.late, s.missed,
                      s.wrong, s.meanErrorMs, s.speedPercent);
        text += "best " + b.parts + line;
    }
    if (!memory.passes.empty())
        text +=
            "# pass parts = when hits early late missed wrong mean-error-ms speed-percent offset-ms "
            "velocity-delta velocity-notes complete\n";
    for (const PassRecord& p : memory.passes) {
        const PlayScore& s = p.score;
        char line[160];
        std::snprintf(line, sizeof line, " = %lld %d %d %d %d %d %.3f %d %.3f %.3f %d %d\n",
                      static_cast<long long>(p.when), s.hits, s.early, s.late, s.missed, s.wrong,
                      s.meanErrorMs, s.speedPercent, s.meanOffsetMs, s.meanVelocityDelta, s.velocityNotes,
                      s.complete ? 1 : 0);
        text += "pass " + p.parts + line;
    }
    return text;
}

ScoreMemory ReadScoreMemory(const std::string& key) {
    ScoreMemory memory;
    const std::string text = ReadSongFileText(key, ".scores.txt", kMaxScoreBytes);
    ParseScoreMemory(memory, text.data(), text.size());
    return memory;
}

bool WriteScoreMemory(const std::string& key, const ScoreMemory& memory) {
    return WriteSongFile(SongFilePath(key, ".scores.txt", true), ScoreMemoryText(memory));
}

bool WriteSongFile(const std::string& path, const std::string& text) {
    // Never through a link, never onto anything but a regular file of the user's own: a link planted
    // in the songs folder would otherwise have its target replaced.
    return !path.empty() && ReplaceFileWithText(path, text, platform::AtomicFile::Reach::OwnFile);
}
