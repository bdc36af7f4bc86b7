#include "midi/song_beats.h"

#include <algorithm>
#include <cmath>

namespace {

// Signatures as files spell them can be nonsense (a numerator of 0, a 1/2^40 note); such a one is
// read as the nearest that can be counted, so the grid stays finite and even.
struct Meter {
    int64_t beatTicks;
    int32_t beatsPerBar;
};

Meter MeterOf(const MeterChange* m, double division) {
    const int numerator = m == nullptr ? 4 : std::clamp<int>(m->numerator, 1, 32);
    const int power = m == nullptr ? 2 : std::clamp<int>(m->denominatorPower, 0, 6);
    const double ticks = division * 4.0 / static_cast<double>(1 << power);
    return {std::max<int64_t>(1, std::llround(ticks)), numerator};
}

// The signature in force at `tick`, or null before the first.
const MeterChange* MeterAt(const std::vector<MeterChange>& meters, int64_t tick) {
    const MeterChange* found = nullptr;
    for (const MeterChange& m : meters) {
        if (m.tick > tick) break;
        found = &m;
    }
    return found;
}

}  // namespace

std::vector<Beat> SongBeats(const TempoMap& tempo, double untilSeconds) {
    std::vector<Beat> beats;
    if (!(untilSeconds >= 0)) return beats;
    const std::vector<MeterChange>& meters = tempo.Meters();
    size_t next = 0;  // the next signature to take effect
    // A signature at tick 0 replaces the 4/4 a file starts in.
    const MeterChange* current = nullptr;
    while (next < meters.size() && meters[next].tick <= 0) current = &meters[next++];
    Meter meter = MeterOf(current, tempo.Division());
    int64_t tick = 0;
    int32_t beatInBar = 0;
    while (static_cast<int64_t>(beats.size()) < kMostBeats) {
        if (next < meters.size() && meters[next].tick <= tick) {
            // The signature begins a bar where it stands, even in the middle of one.
            tick = meters[next].tick;
            meter = MeterOf(&meters[next++], tempo.Division());
            beatInBar = 0;
        }
        const double t = tempo.Seconds(tick);
        if (t > untilSeconds) break;
        beats.push_back({t, beatInBar == 0});
        beatInBar = (beatInBar + 1) % meter.beatsPerBar;
        tick += meter.beatTicks;
    }
    return beats;
}

std::vector<double> CountInBeats(const TempoMap& tempo, double startSeconds, double speed) {
    const int64_t tick = tempo.TickAtOrBefore(startSeconds);
    const Meter meter = MeterOf(MeterAt(tempo.Meters(), tick), tempo.Division());
    const double quarter = tempo.MicrosPerQuarterAt(startSeconds) / 1e6;
    const double beat =
        quarter * static_cast<double>(meter.beatTicks) / tempo.Division() / (speed > 0 ? speed : 1.0);
    std::vector<double> times;
    for (int i = meter.beatsPerBar; i >= 1; --i) times.push_back(-beat * i);
    return times;
}

double BeatsPerMinuteAt(const TempoMap& tempo, double seconds, double speed) {
    const uint32_t micros = tempo.MicrosPerQuarterAt(seconds);
    if (micros == 0) return 0;
    return std::round(60e6 / micros * speed * 10.0) / 10.0;
}
