// make_dense_song: writes a song far denser than anyone plays, for timing how drawing, reading and
// rendering scale with the number of notes.
//
//   make_dense_song --notes N --seconds S [--tracks T] [--held TICKS] OUT.mid
//
// The file is type 1 with a tempo track and T note tracks (16 by default, on channels 0..15 but
// never the percussion channel). Each track strikes its share of the notes evenly over S seconds
// at 100,000 ticks a second (several at a tick when one a tick is not enough), walking the
// keyboard with a stride of its own, so that all 88 keys fill; every note is held for `held`
// ticks (by default until the next one on its track strikes). N notes in all. The output depends
// only on the options.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "smf_write.h"

namespace {

constexpr int kTicksPerQuarter = 25000;
constexpr uint32_t kMicrosPerQuarter = 250000;  // 4 quarters a second: 100,000 ticks a second
constexpr long long kTicksPerSecond = 100000;

int Usage(const std::string& problem) {
    std::fprintf(stderr,
                 "make_dense_song: %s\n"
                 "usage: make_dense_song --notes N --seconds S [--tracks T] [--held TICKS] OUT.mid\n",
                 problem.c_str());
    return 2;
}

bool ParseCount(const char* text, long long limit, long long& value) {
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || v < 1 || v > limit) return false;
    value = v;
    return true;
}

void AppendTrackChunk(std::vector<uint8_t>& file, const std::vector<uint8_t>& body) {
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    smf_write::AppendBigEndian(file, static_cast<uint32_t>(body.size()), 4);
    file.insert(file.end(), body.begin(), body.end());
}

// One track's notes: `count` of them spread evenly over `ticks` ticks, each held `held` ticks.
std::vector<uint8_t> NoteTrack(int track, long long count, long long ticks, long long held) {
    const int channel = track % 15 < 9 ? track % 15 : track % 15 + 1;  // never the percussion channel
    const int stride = 1 + 2 * (track % 20);                           // odd: every key is visited
    std::vector<uint8_t> body;
    body.reserve(static_cast<size_t>(count) * 8 + 16);
    // Pending note-offs, in order of time: every note is held as long, so they leave in order.
    std::vector<std::pair<long long, int>> offs;
    size_t nextOff = 0;
    long long now = 0;
    auto event = [&](long long at, uint8_t status, int key, int velocity) {
        smf_write::AppendDelta(body, static_cast<uint32_t>(at - now));
        now = at;
        body.insert(body.end(), {status, static_cast<uint8_t>(key), static_cast<uint8_t>(velocity)});
    };
    for (long long i = 0; i < count; ++i) {
        const long long at = i * ticks / count;
        while (nextOff < offs.size() && offs[nextOff].first <= at) {
            event(offs[nextOff].first, static_cast<uint8_t>(0x80 | channel), offs[nextOff].second, 64);
            ++nextOff;
        }
        const int key = 21 + static_cast<int>((i * stride + track * 7) % 88);
        event(at, static_cast<uint8_t>(0x90 | channel), key, 40 + static_cast<int>((i + track) % 80));
        offs.emplace_back(at + held, key);
    }
    for (; nextOff < offs.size(); ++nextOff)
        event(offs[nextOff].first, static_cast<uint8_t>(0x80 | channel), offs[nextOff].second, 64);
    smf_write::AppendDelta(body, 0);
    body.insert(body.end(), {0xFF, 0x2F, 0x00});
    return body;
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = nullptr;
    long long notes = 0, tracks = 16, held = 0;
    double seconds = 0;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--notes") == 0 && hasValue) {
            if (!ParseCount(argv[++i], 4'000'000'000LL, notes)) return Usage("bad note count");
        } else if (std::strcmp(argv[i], "--tracks") == 0 && hasValue) {
            if (!ParseCount(argv[++i], 65535, tracks)) return Usage("bad track count");
        } else if (std::strcmp(argv[i], "--held") == 0 && hasValue) {
            if (!ParseCount(argv[++i], 1'000'000, held)) return Usage("bad held ticks");
        } else if (std::strcmp(argv[i], "--seconds") == 0 && hasValue) {
            seconds = std::strtod(argv[++i], nullptr);
            if (!(seconds > 0 && seconds < 3600)) return Usage("the seconds must be above 0 and below 3600");
        } else if (argv[i][0] == '-') {
            return Usage(std::string("unknown option ") + argv[i]);
        } else if (path == nullptr) {
            path = argv[i];
        } else {
            return Usage("only one output file");
        }
    }
    if (notes == 0 || seconds <= 0 || path == nullptr)
        return Usage("need --notes, --seconds and an output file");

    const long long ticks = std::max<long long>(1, static_cast<long long>(seconds * kTicksPerSecond));
    const long long perTrack = (notes + tracks - 1) / tracks;
    // Held until the next note of the track strikes, unless told otherwise.
    if (held == 0) held = std::max<long long>(1, ticks / perTrack);

    std::vector<uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
    smf_write::AppendBigEndian(file, static_cast<uint32_t>(tracks + 1), 2);
    smf_write::AppendBigEndian(file, kTicksPerQuarter, 2);
    std::vector<uint8_t> tempo = {0x00,
                                  0xFF,
                                  0x51,
                                  0x03,
                                  static_cast<uint8_t>(kMicrosPerQuarter >> 16),
                                  static_cast<uint8_t>(kMicrosPerQuarter >> 8),
                                  static_cast<uint8_t>(kMicrosPerQuarter),
                                  0x00,
                                  0xFF,
                                  0x2F,
                                  0x00};
    AppendTrackChunk(file, tempo);

    std::FILE* out = std::fopen(path, "wb");
    bool written = out != nullptr && std::fwrite(file.data(), 1, file.size(), out) == file.size();
    long long left = notes;
    for (long long t = 0; t < tracks && written; ++t) {
        const long long count = std::min(perTrack, left);
        left -= count;
        const std::vector<uint8_t> body = NoteTrack(static_cast<int>(t), count, ticks, held);
        file.clear();
        AppendTrackChunk(file, body);
        written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    }
    if (out == nullptr || std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "make_dense_song: cannot write %s\n", path);
        return 1;
    }
    return 0;
}
