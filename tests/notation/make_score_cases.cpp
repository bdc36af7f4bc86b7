// Writes one two-hand song that holds, bar by bar, the shapes sheet music has to get right: an
// anacrusis, a dotted rhythm, a chord with a second, a triplet, a tie over a bar line, a key
// change, a 6/8 bar, notes played in by hand, a left hand that climbs into the treble, a rolled
// chord, a broken chord whose keys are all held, and runs far over and under the staves.
// Usage: make_score_cases OUT.mid
#include <algorithm>
#include <cstdio>
#include <tuple>
#include <vector>

#include "smf_builder.h"

namespace {

constexpr int Q = 480;

struct At {
    int64_t tick;
    smf::Bytes body;  // without its delta
};

smf::Bytes TrackOf(std::vector<At> events) {
    std::stable_sort(events.begin(), events.end(), [](const At& a, const At& b) { return a.tick < b.tick; });
    smf::Bytes body;
    int64_t now = 0;
    for (const At& e : events) {
        const smf::Bytes one = smf::Event(static_cast<uint32_t>(e.tick - now), e.body);
        body.insert(body.end(), one.begin(), one.end());
        now = e.tick;
    }
    const smf::Bytes end = smf::EndOfTrack();
    body.insert(body.end(), end.begin(), end.end());
    return smf::Chunk("MTrk", body);
}

void Note(std::vector<At>& t, int channel, int key, int64_t start, int64_t length) {
    t.push_back({start, {static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(key), 80}});
    t.push_back({start + length, {static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(key), 0}});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_score_cases OUT.mid\n");
        return 2;
    }
    std::vector<At> right{{0, {0xFF, 0x58, 0x04, 1, 2, 24, 8}},
                          {0, {0xFF, 0x59, 0x02, 0, 0}},
                          {Q, {0xFF, 0x58, 0x04, 4, 2, 24, 8}}};
    std::vector<At> left;
    Note(right, 0, 67, 0, Q);  // the anacrusis
    int64_t bar = Q;
    Note(right, 0, 72, bar, Q * 3 / 2);  // dotted quarter, eighth, a second as a half-note chord
    Note(right, 0, 74, bar + Q * 3 / 2, Q / 2);
    Note(right, 0, 76, bar + 2 * Q, 2 * Q);
    Note(right, 0, 77, bar + 2 * Q, 2 * Q);
    Note(left, 1, 48, bar, 4 * Q);
    Note(left, 1, 55, bar, 4 * Q);
    bar += 4 * Q;
    for (int i = 0; i < 3; ++i) Note(right, 0, 72 + 2 * i, bar + i * Q / 3, Q / 3);  // a triplet
    Note(right, 0, 77, bar + Q, Q);
    Note(right, 0, 79, bar + 2 * Q, 3 * Q);  // tied into the next bar
    Note(left, 1, 43, bar, 4 * Q);
    bar += 4 * Q;
    Note(right, 0, 76, bar + Q, 3 * Q);
    Note(left, 1, 48, bar, 4 * Q);
    bar += 4 * Q;
    right.push_back({bar, {0xFF, 0x59, 0x02, 0xFD, 0}});  // E flat major
    right.push_back({bar, {0xFF, 0x58, 0x04, 6, 3, 24, 8}});
    const int eflat[] = {63, 65, 67, 68, 70, 72};
    for (int i = 0; i < 6; ++i) Note(right, 0, eflat[i], bar + i * Q / 2, Q / 2);
    Note(left, 1, 72, bar, 3 * Q / 2);  // the left hand high: a treble clef for a bar
    Note(left, 1, 75, bar + 3 * Q / 2, 3 * Q / 2);
    bar += 3 * Q;
    const int jitter[] = {9, -14, 6, 11, -7, 3};  // by hand: never on the tick
    for (int i = 0; i < 6; ++i) Note(right, 0, eflat[5 - i], bar + i * Q / 2 + jitter[i], Q / 2 - 30);
    Note(left, 1, 51, bar + 5, 3 * Q - 40);
    bar += 3 * Q;
    Note(right, 0, 75, bar, 3 * Q);
    Note(left, 1, 39, bar, 3 * Q);
    bar += 3 * Q;
    for (int i = 0; i < 3; ++i) Note(right, 0, 67 + 4 * i, bar + i * 40, 3 * Q - i * 40);  // rolled
    const int broken[] = {39, 46, 51, 55, 58, 63};  // each key held to the bar's end
    for (int i = 0; i < 6; ++i) Note(left, 1, broken[i], bar + i * Q / 2, 3 * Q - i * Q / 2);
    bar += 3 * Q;
    const int high[] = {96, 100, 103, 108, 103, 100, 96, 91, 88, 84, 79, 76};  // far over the staff
    for (int i = 0; i < 12; ++i) Note(right, 0, high[i], bar + i * Q / 2, Q / 2);
    const int low[] = {24, 28, 31, 36};  // far under it
    for (int i = 0; i < 4; ++i) Note(left, 1, low[i], bar + i * 3 * Q / 2, 3 * Q / 2);

    const smf::Bytes file = smf::Cat({smf::Header(Q, 1, 2), TrackOf(right), TrackOf(left)});
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr || std::fwrite(file.data(), 1, file.size(), out) != file.size() ||
        std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
