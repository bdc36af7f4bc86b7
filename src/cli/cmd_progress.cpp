// dorvik-midi progress: every pass the player kept of a song, per part and by date, from the same
// memory the window keeps them in. The song is known by its bytes, as the window knows it, so a
// copy or a renamed file shows the same history.
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/json_text.h"
#include "midi/midi_reader.h"
#include "midi/play_follow.h"
#include "settings/song_memory.h"
#include "settings/song_scores.h"

namespace cli {

namespace {

// A moment as "2026-12-09T02:55:00Z" (`json`) or "2026-12-09 02:55" (for reading), in UTC so that
// the figures read the same on every machine.
std::string MomentText(int64_t when, bool json) {
    const std::time_t t = static_cast<std::time_t>(when);
    std::tm utc{};
    // A best keeps no moment.
    if (when <= 0 || gmtime_r(&t, &utc) == nullptr) return json ? "null" : "?";
    char text[32];
    std::strftime(text, sizeof text, json ? "\"%Y-%m-%dT%H:%M:%SZ\"" : "%Y-%m-%d %H:%M", &utc);
    return text;
}

const char* DynamicsWord(const PlayScore& s) {
    switch (DynamicsOf(s)) {
        case Dynamics::TooLoud:
            return "too loud";
        case Dynamics::TooSoft:
            return "too soft";
        case Dynamics::Even:
            return "even";
        default:
            return nullptr;
    }
}

// The labels kept, each once, in the order first played.
std::vector<std::string> PartsPlayed(const ScoreMemory& memory) {
    std::vector<std::string> labels;
    auto add = [&](const std::string& label) {
        for (const std::string& l : labels)
            if (l == label) return;
        labels.push_back(label);
    };
    for (const PassRecord& p : memory.passes) add(p.parts);
    for (const PartBest& b : memory.bests) add(b.parts);
    return labels;
}

std::string PassJson(const PassRecord& p) {
    const PlayScore& s = p.score;
    const char* dynamics = DynamicsWord(s);
    char figures[512];
    std::snprintf(
        figures, sizeof figures,
        "\"accuracy\": %.1f, \"hits\": %d, \"early\": %d, \"late\": %d, \"missed\": %d, \"wrong\": %d, "
        "\"meanErrorMs\": %.1f, \"meanOffsetMs\": %.1f, \"speedPercent\": %d, \"complete\": %s",
        AccuracyPercent(s), s.hits, s.early, s.late, s.missed, s.wrong, s.meanErrorMs, s.meanOffsetMs,
        s.speedPercent, s.complete ? "true" : "false");
    return "{\"when\": " + MomentText(p.when, true) + ", " + figures +
           ", \"dynamics\": " + (dynamics != nullptr ? JsonString(dynamics) : std::string("null")) + "}";
}

}  // namespace

int RunProgress(int argc, char** argv) {
    std::string path;
    bool json = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            json = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + arg);
        } else if (path.empty()) {
            path = arg;
        } else {
            return UsageError("progress takes one MIDI file");
        }
    }
    if (path.empty()) return UsageError("progress needs a MIDI file");
    std::vector<uint8_t> bytes;
    if (NotARegularFile(path)) return Fail(path + ": not a regular file");
    if (const Failure read = ReadFileBytes(path, bytes); !read.Ok()) return Fail(read);
    const ScoreMemory memory = ReadScoreMemory(SongKey(bytes.data(), bytes.size()));
    const std::vector<std::string> labels = PartsPlayed(memory);

    if (json) {
        std::string text = "{\"song\": " + JsonString(path) + ", \"parts\": [";
        for (size_t l = 0; l < labels.size(); ++l) {
            text +=
                (l > 0 ? ", " : "") + std::string("{\"parts\": ") + JsonString(labels[l]) + ", \"passes\": [";
            bool first = true;
            for (const PassRecord& p : memory.passes) {
                if (p.parts != labels[l]) continue;
                text += (first ? "" : ", ") + PassJson(p);
                first = false;
            }
            const PlayScore* best = memory.Find(labels[l]);
            text +=
                "], \"best\": " + (best != nullptr ? PassJson({labels[l], 0, *best}) : std::string("null")) +
                "}";
        }
        text += "]}\n";
        std::fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    }
    if (labels.empty()) {
        std::printf("%s: no passes played along yet\n", path.c_str());
        return 0;
    }
    for (const std::string& label : labels) {
        std::printf("part %s\n", label.c_str());
        for (const PassRecord& p : memory.passes) {
            if (p.parts != label) continue;
            std::string line = PassSummaryText(p.score);
            if (p.score.speedPercent != 100)
                line += "; at " + std::to_string(p.score.speedPercent) + "% speed";
            if (!p.score.complete) line += " (part of the song)";
            std::printf("  %s  %s\n", MomentText(p.when, false).c_str(), line.c_str());
        }
        if (const PlayScore* best = memory.Find(label))
            std::printf("  best: %s; at %d%% speed\n", PassSummaryText(*best).c_str(), best->speedPercent);
    }
    return 0;
}

}  // namespace cli
