// make_band_song: writes a short band arrangement as a type 1 MIDI file, for the screenshots of a
// song read by voices and for trying the player on one.
//
//   make_band_song [--large] OUT.mid
//
// Eight bars of C, A minor, F and G, twice, at 112 quarter notes per minute: drums on the
// percussion channel and eight named instruments on channels of their own, each with a program
// change, from bass low down to a glockenspiel high up. --large adds seven more, one of them a second
// guitar named like the first, and words to sing as lyric events: fifteen voices, for trying the
// legend and the words where a band is large. The output is always the same bytes.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "smf_write.h"

namespace {

constexpr int kTicksPerQuarter = 480;
constexpr int kBar = 4 * kTicksPerQuarter;
constexpr int kBars = 16;
constexpr int kChords[4][3] = {{60, 64, 67}, {57, 60, 64}, {53, 57, 60}, {55, 59, 62}};  // C Am F G

struct Event {
    uint32_t tick;
    std::vector<uint8_t> bytes;
};

struct Track {
    std::string name;
    int channel;
    int program;  // -1: none
    std::vector<Event> events;

    void Note(uint32_t tick, uint32_t length, int key, int velocity) {
        events.push_back({tick,
                          {static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(key),
                           static_cast<uint8_t>(velocity)}});
        events.push_back(
            {tick + length, {static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(key), 0}});
    }
};

std::vector<uint8_t> Chunk(const std::vector<Event>& events, const std::string& name) {
    std::vector<uint8_t> body;
    auto meta = [&](uint32_t delta, uint8_t type, const std::string& data) {
        smf_write::AppendDelta(body, delta);
        body.insert(body.end(), {0xFF, type});
        smf_write::AppendDelta(body, static_cast<uint32_t>(data.size()));
        body.insert(body.end(), data.begin(), data.end());
    };
    if (!name.empty()) meta(0, 0x03, name);
    uint32_t at = 0;
    for (const Event& e : events) {
        smf_write::AppendDelta(body, e.tick - at);
        body.insert(body.end(), e.bytes.begin(), e.bytes.end());
        at = e.tick;
    }
    meta(0, 0x2F, "");
    std::vector<uint8_t> out = {'M', 'T', 'r', 'k'};
    smf_write::AppendBigEndian(out, static_cast<uint32_t>(body.size()), 4);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// Note-offs sort before note-ons at the same tick, so a repeated key is released before it sounds again.
void Sort(std::vector<Event>& events) {
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        if (a.tick != b.tick) return a.tick < b.tick;
        return (a.bytes[0] & 0xF0) == 0x80 && (b.bytes[0] & 0xF0) != 0x80;
    });
}

std::vector<Track> Arrange(bool large) {
    std::vector<Track> band = {
        {"Drums", 9, -1, {}},   {"Bass", 1, 33, {}},  {"Piano", 0, 0, {}},
        {"Strings", 2, 48, {}}, {"Lead", 3, 80, {}},  {"Guitar", 4, 25, {}},
        {"Brass", 5, 61, {}},   {"Flute", 6, 73, {}}, {"Glockenspiel", 7, 9, {}},
    };
    if (large) {
        const std::vector<Track> more = {
            {"Violin", 8, 40, {}}, {"Cello", 10, 42, {}},  {"Organ", 11, 19, {}},   {"Harp", 12, 46, {}},
            {"Choir", 13, 52, {}}, {"Guitar", 14, 25, {}}, {"Marimba", 15, 12, {}},
        };
        band.insert(band.end(), more.begin(), more.end());
    }
    const int lead[8] = {72, 74, 76, 79, 77, 76, 74, 72};
    for (int bar = 0; bar < kBars; ++bar) {
        const uint32_t t = static_cast<uint32_t>(bar * kBar);
        const int* chord = kChords[bar % 4];
        const uint32_t q = kTicksPerQuarter, e = q / 2;
        for (uint32_t i = 0; i < 8; ++i) {
            band[0].Note(t + i * e, e / 2, 42, 70);               // closed hi-hat
            if (i % 4 == 0) band[0].Note(t + i * e, e, 36, 110);  // bass drum
            if (i % 4 == 2) band[0].Note(t + i * e, e, 38, 100);  // snare
            band[1].Note(t + i * e, e - 20, chord[0] - 24 + (i % 2 ? 12 : 0), 100);
        }
        for (uint32_t beat = 0; beat < 4; ++beat)
            for (int k = 0; k < 3; ++k) band[2].Note(t + beat * q, q - 40, chord[k], 80);
        for (int k = 0; k < 3; ++k) band[3].Note(t, kBar - 10, chord[k] - 12 + (k == 0 ? 12 : 0), 70);
        if (bar >= 4) {
            for (int i = 0; i < 4; ++i) band[4].Note(t + q * i, q - 30, lead[(bar * 4 + i) % 8], 100);
        }
        for (uint32_t i = 0; i < 4; ++i) band[5].Note(t + i * q + e, e, chord[i % 3] + 12, 75);
        if (bar % 2 == 1) {
            band[6].Note(t, q, chord[0] - 5, 90);
            band[6].Note(t + q, q, chord[1] - 5 + 1, 90);
        }
        if (bar >= 8) band[7].Note(t + 2 * q, 2 * q - 40, chord[2] + 24, 80);
        if (bar % 4 == 3) band[8].Note(t + 3 * q, e, chord[0] + 36, 90);
        if (!large) continue;
        for (size_t v = 9; v < band.size(); ++v) {
            // Each in its own register and rhythm, so that every colour shows.
            const int k = static_cast<int>(v - 9);
            band[v].Note(t + static_cast<uint32_t>(k % 4) * q, q - 30, chord[k % 3] + 12 * (k % 3) - 12, 70);
        }
    }
    return band;
}

}  // namespace

// The words of the large song: one syllable a beat from bar 2, and a rest of two beats after a line.
std::vector<Event> Words() {
    const char* const syllables[] = {"Play ",  "the ",  "song ",   "a",  "gain\r", "all ",   "the ",
                                     "parts ", "in ",   "reach\r", "ev", "ery ",   "voice ", "a ",
                                     "col",    "our\r", "sing ",   "a",  "long ",  "now\r"};
    std::vector<Event> words;
    uint32_t tick = 2 * kBar;
    for (const char* syllable : syllables) {
        const std::string text = syllable;
        std::vector<uint8_t> bytes = {0xFF, 0x05, static_cast<uint8_t>(text.size())};
        bytes.insert(bytes.end(), text.begin(), text.end());
        words.push_back({tick, bytes});
        tick += text.back() == '\r' ? 2 * kTicksPerQuarter + kTicksPerQuarter : kTicksPerQuarter;
    }
    return words;
}

int main(int argc, char** argv) {
    const bool large = argc == 3 && std::string(argv[1]) == "--large";
    if (argc != 2 && !large) {
        std::fprintf(stderr, "usage: make_band_song [--large] OUT.mid\n");
        return 2;
    }
    const char* outPath = argv[argc - 1];
    std::vector<Track> band = Arrange(large);
    std::vector<uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
    smf_write::AppendBigEndian(file, static_cast<uint32_t>(band.size() + (large ? 2 : 1)), 2);
    smf_write::AppendBigEndian(file, kTicksPerQuarter, 2);
    const uint32_t micros = 60'000'000 / 112;
    const std::vector<uint8_t> tempo =
        Chunk({{0,
                {0xFF, 0x51, 0x03, static_cast<uint8_t>(micros >> 16), static_cast<uint8_t>(micros >> 8),
                 static_cast<uint8_t>(micros)}},
               {0, {0xFF, 0x58, 0x04, 4, 2, 24, 8}}},
              "");
    file.insert(file.end(), tempo.begin(), tempo.end());
    for (Track& track : band) {
        Sort(track.events);
        if (track.program >= 0)
            track.events.insert(
                track.events.begin(),
                {0, {static_cast<uint8_t>(0xC0 | track.channel), static_cast<uint8_t>(track.program)}});
        const std::vector<uint8_t> chunk = Chunk(track.events, track.name);
        file.insert(file.end(), chunk.begin(), chunk.end());
    }
    if (large) {
        const std::vector<uint8_t> words = Chunk(Words(), "Words");
        file.insert(file.end(), words.begin(), words.end());
    }
    FILE* out = std::fopen(outPath, "wb");
    if (out == nullptr || std::fwrite(file.data(), 1, file.size(), out) != file.size() ||
        std::fclose(out) != 0) {
        std::fprintf(stderr, "make_band_song: cannot write %s\n", outPath);
        return 1;
    }
    return 0;
}
