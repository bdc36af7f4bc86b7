// make_stress_song: writes a deliberately crowded MIDI file for timing the parser.
//
//   make_stress_song --events N OUT.mid
//
// The file is type 1 with a tempo track (120 quarter notes per minute) and two note tracks on
// channel 0: fast scale runs high up and four-note chords low down, N note events in all (N/2
// note-ons, N/2 note-offs). The notes are packed closer together as N grows so the song never
// runs past 24 minutes, safely inside the player's 30-minute limit; when even one tick per step
// is not enough, the runs thicken into chords of up to four keys. Note-offs and note-ons each use
// running status, the way recording software writes dense passages. The output depends only on N.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "smf_write.h"

namespace {

constexpr int kTicksPerQuarter = 480;
constexpr long long kTickLimit = 24LL * 60 * 2 * kTicksPerQuarter;  // 24 minutes at 120 per minute
constexpr int kMaxGroup = 4;
constexpr long long kMaxEvents = 20'000'000;  // keeps every group within kMaxGroup keys

int Usage(const std::string& problem) {
    std::fprintf(stderr, "make_stress_song: %s\nusage: make_stress_song --events N OUT.mid\n",
                 problem.c_str());
    return 2;
}

using smf_write::AppendDelta;

void AppendU32(std::vector<uint8_t>& out, uint32_t value) {
    smf_write::AppendBigEndian(out, value, 4);
}

void AppendMeta(std::vector<uint8_t>& out, uint32_t delta, uint8_t type, const std::string& data) {
    AppendDelta(out, delta);
    out.insert(out.end(), {0xFF, type, static_cast<uint8_t>(data.size())});
    out.insert(out.end(), data.begin(), data.end());
}

// The keys struck together at step `step`: `size` of them, all different.
using Voicing = void (*)(long long step, int size, int* keys);

// Up and down two octaves of C major from middle C; a thickened run adds the third, fifth and
// octave above each scale note.
void RunKeys(long long step, int size, int* keys) {
    static constexpr int kWhite[] = {60, 62, 64, 65, 67, 69, 71, 72, 74, 76, 77,
                                     79, 81, 83, 84, 86, 88, 89, 91, 93, 95, 96};
    static constexpr int kAbove[kMaxGroup] = {0, 2, 4, 7};
    const int phase = static_cast<int>(step % 28);
    const int degree = phase <= 14 ? phase : 28 - phase;
    for (int i = 0; i < size; ++i) keys[i] = kWhite[degree + kAbove[i]];
}

// C - Am - F - G, two strikes each, below middle C so the two tracks never share a key.
void ChordKeys(long long step, int size, int* keys) {
    static constexpr int kChords[4][kMaxGroup] = {
        {36, 48, 52, 55}, {45, 48, 52, 57}, {41, 48, 53, 57}, {43, 47, 50, 55}};
    const int* chord = kChords[(step / 2) % 4];
    for (int i = 0; i < size; ++i) keys[i] = chord[i];
}

struct Part {
    const char* name;
    long long notes;
    int group;     // keys per step before any thickening
    int bestStep;  // ticks between steps when there is room
    Voicing voicing;
};

// Where a part's notes fall: `group` keys every `step` ticks, each held for `held` ticks.
struct Layout {
    int group;
    long long steps;
    long long step;
    long long held;
    long long end;  // tick of the last note-off
};

Layout Lay(const Part& part) {
    Layout l;
    l.group = static_cast<int>(std::max<long long>(part.group, (part.notes + kTickLimit - 1) / kTickLimit));
    l.steps = (part.notes + l.group - 1) / l.group;
    l.step = l.steps == 0 ? part.bestStep : std::min<long long>(part.bestStep, kTickLimit / l.steps);
    l.held = std::max<long long>(1, l.step - l.step / 4);
    l.end = l.steps == 0 ? 0 : (l.steps - 1) * l.step + l.held;
    return l;
}

// Appends the MTrk chunk for one part, ending it at `songEnd`.
void AppendPart(std::vector<uint8_t>& out, const Part& part, long long songEnd) {
    const Layout l = Lay(part);
    std::vector<uint8_t> body;
    body.reserve(static_cast<size_t>(part.notes) * 6 + 64);
    AppendMeta(body, 0, 0x03, part.name);
    body.insert(body.end(), {0x00, 0xC0, 0x00});  // acoustic grand piano

    long long now = 0;
    int previous[kMaxGroup];
    int previousSize = 0;
    auto releasePrevious = [&](long long at) {
        for (int i = 0; i < previousSize; ++i) {
            AppendDelta(body, static_cast<uint32_t>(at - now));
            now = at;
            if (i == 0) body.push_back(0x80);
            body.insert(body.end(), {static_cast<uint8_t>(previous[i]), 0x40});
        }
        previousSize = 0;
    };
    for (long long s = 0; s < l.steps; ++s) {
        const long long at = s * l.step;
        if (previousSize > 0) releasePrevious(at - l.step + l.held);
        const int size = static_cast<int>(std::min<long long>(l.group, part.notes - s * l.group));
        part.voicing(s, size, previous);
        for (int i = 0; i < size; ++i) {
            AppendDelta(body, static_cast<uint32_t>(at - now));
            now = at;
            if (i == 0) body.push_back(0x90);
            const int velocity = 56 + static_cast<int>((s * 5 + i * 7) % 48);
            body.insert(body.end(), {static_cast<uint8_t>(previous[i]), static_cast<uint8_t>(velocity)});
        }
        previousSize = size;
    }
    releasePrevious(l.end);
    AppendDelta(body, static_cast<uint32_t>(songEnd - now));
    body.insert(body.end(), {0xFF, 0x2F, 0x00});
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    AppendU32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = nullptr;
    const char* count = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--events") == 0 && i + 1 < argc) {
            count = argv[++i];
        } else if (argv[i][0] == '-') {
            return Usage(std::string("unknown option ") + argv[i]);
        } else if (path == nullptr) {
            path = argv[i];
        } else {
            return Usage("only one output file");
        }
    }
    if (count == nullptr || path == nullptr) return Usage("need --events N and an output file");

    long long events = 0;
    for (const char* c = count; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || events > kMaxEvents)
            return Usage(std::string("bad event count ") + count);
        events = events * 10 + (*c - '0');
    }
    if (*count == '\0' || events > kMaxEvents)
        return Usage("the event count must be 0.." + std::to_string(kMaxEvents));
    if (events % 2 != 0) return Usage("the event count must be even: every note-on has its note-off");

    const long long notes = events / 2;
    const Part parts[] = {{"Runs", notes - notes / 2, 1, kTicksPerQuarter / 8, RunKeys},
                          {"Chords", notes / 2, 4, kTicksPerQuarter / 2, ChordKeys}};

    // All three tracks end together, when the later part's last note lets go.
    const long long songEnd = std::max(Lay(parts[0]).end, Lay(parts[1]).end);

    std::vector<uint8_t> file = {
        'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 3, kTicksPerQuarter >> 8, kTicksPerQuarter & 0xFF};
    std::vector<uint8_t> tempo;
    AppendMeta(tempo, 0, 0x03, "Stress test");
    AppendMeta(tempo, 0, 0x58, std::string("\x04\x02\x18\x08", 4));
    AppendMeta(tempo, 0, 0x51, std::string("\x07\xA1\x20", 3));  // 500000 us per quarter = 120 per minute
    AppendDelta(tempo, static_cast<uint32_t>(songEnd));
    tempo.insert(tempo.end(), {0xFF, 0x2F, 0x00});
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    AppendU32(file, static_cast<uint32_t>(tempo.size()));
    file.insert(file.end(), tempo.begin(), tempo.end());
    for (const Part& part : parts) AppendPart(file, part, songEnd);

    std::FILE* out = std::fopen(path, "wb");
    const bool written = out != nullptr && std::fwrite(file.data(), 1, file.size(), out) == file.size();
    if (out == nullptr || std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "make_stress_song: cannot write %s\n", path);
        return 1;
    }
    return 0;
}
