#include "notation/key_spelling.h"

#include <cmath>
#include <cstdlib>

namespace {

// The Krumhansl-Kessler probe-tone ratings, from the tonic up by semitones.
constexpr double kMajorProfile[12] = {6.35, 2.23, 3.48, 2.33, 4.38, 4.09, 2.52, 5.19, 2.39, 3.66, 2.29, 2.88};
constexpr double kMinorProfile[12] = {6.33, 2.68, 3.52, 5.38, 2.60, 3.53, 2.54, 4.75, 3.98, 2.69, 3.34, 3.17};

constexpr int kStepPitch[7] = {0, 2, 4, 5, 7, 9, 11};
constexpr int kStepFifth[7] = {0, 2, 4, -1, 1, 3, 5};  // place of each natural on the line of fifths

double Correlation(const double* a, const double* b) {
    double ma = 0, mb = 0;
    for (int i = 0; i < 12; ++i) ma += a[i] / 12, mb += b[i] / 12;
    double num = 0, da = 0, db = 0;
    for (int i = 0; i < 12; ++i) {
        num += (a[i] - ma) * (b[i] - mb);
        da += (a[i] - ma) * (a[i] - ma);
        db += (b[i] - mb) * (b[i] - mb);
    }
    return da > 0 && db > 0 ? num / std::sqrt(da * db) : 0.0;
}

// The signature of a major key on `tonic`, with the flat name for the keys past six sharps.
int32_t MajorFifths(int tonic) {
    const int f = (tonic * 7) % 12;
    return f > 6 ? f - 12 : f;
}

}  // namespace

KeyGuess EstimateKey(const std::vector<ScoreNote>& notes) {
    double weight[12] = {};
    for (const ScoreNote& n : notes) weight[n.key % 12] += static_cast<double>(n.end - n.start);
    KeyGuess best{0, false};
    double bestScore = -2.0;
    for (int tonic = 0; tonic < 12; ++tonic) {
        double rotated[12];
        for (int i = 0; i < 12; ++i) rotated[i] = weight[(tonic + i) % 12];
        const double major = Correlation(rotated, kMajorProfile);
        const double minor = Correlation(rotated, kMinorProfile);
        if (major > bestScore) bestScore = major, best = {MajorFifths(tonic), false};
        if (minor > bestScore) bestScore = minor, best = {MajorFifths((tonic + 3) % 12), true};
    }
    return best;
}

int8_t SignatureAlter(int32_t fifths, int32_t step) {
    const int place = kStepFifth[step];
    // Sharps come in the order F C G D A E B, up the line of fifths; flats in the reverse order.
    if (fifths > 0 && place <= fifths - 2) return 1;
    if (fifths < 0 && place >= fifths + 6) return -1;
    return 0;
}

Spelling SpellKey(int32_t key, int32_t fifths, bool minor) {
    const int pc = ((key % 12) + 12) % 12;
    // The key's notes lie within three fifths of its centre; a minor key leans one fifth sharper.
    const int centre = fifths + (minor ? 3 : 2);
    Spelling best{0, 0, 4};
    int bestDistance = 1000;
    for (int step = 0; step < 7; ++step) {
        for (int alter = -1; alter <= 1; ++alter) {
            if (((kStepPitch[step] + alter) % 12 + 12) % 12 != pc) continue;
            const int place = kStepFifth[step] + 7 * alter;
            const int distance = std::abs(place - centre);
            const bool better =
                distance < bestDistance ||
                (distance == bestDistance && (minor ? alter > best.alter : alter < best.alter));
            if (!better) continue;
            bestDistance = distance;
            best.step = static_cast<int8_t>(step);
            best.alter = static_cast<int8_t>(alter);
        }
    }
    best.octave = static_cast<int8_t>((key - best.alter) / 12 - 1);
    return best;
}
