#include "midi/hand_split.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

namespace {

// Notes struck within this much of an onset's first note belong to it: a chord as a person plays
// it is seldom struck at one instant.
constexpr double kChordSeconds = 0.03;
// A note still held this long after an onset counts as held by its hand; one that ends sooner is
// being let go as the next is struck, as a legato line does.
constexpr double kHeldSeconds = 0.05;
// The split line stays between E3 and G4: below E3 the left hand would be made to play tenor
// melodies, above G4 the right hand would lose the middle of the keyboard to the left.
constexpr double kLowestSplit = 52.0;
constexpr double kHighestSplit = 67.0;
// An octave is an easy reach; a tenth is as far as a hand goes.
constexpr int kEasySpan = 12;
constexpr int kWidestSpan = 16;
constexpr int kFingers = 5;

// How far a hand is stretched costs nothing to an octave, then more with every key, and a great
// deal past what a hand can reach.
double SpanCost(int span) {
    if (span <= kEasySpan) return 0.0;
    double cost = 3.0 * (span - kEasySpan);
    if (span > kWidestSpan) cost += 12.0 * (span - kWidestSpan);
    return cost;
}

double FingerCost(int notes) {
    return notes > kFingers ? 20.0 * (notes - kFingers) : 0.0;
}

struct HandState {
    double position;  // where the hand last played: a smoothed middle of its recent notes
    float heldUntil[128];
};

class Splitter {
  public:
    Splitter(const NoteRecord* notes, size_t count) : notes_(notes), count_(count) {}

    std::vector<uint8_t> Run() {
        std::vector<uint8_t> hands(count_, RightHand);
        // The notes are sorted by 32-bit index: a song keeps far fewer.
        if (count_ == 0 || count_ > UINT32_MAX) return hands;
        std::vector<uint32_t> order(count_);
        for (size_t i = 0; i < count_; ++i) order[i] = static_cast<uint32_t>(i);
        std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
            const NoteRecord &x = notes_[a], &y = notes_[b];
            if (x.start != y.start) return x.start < y.start;
            if (x.key != y.key) return x.key < y.key;
            return a < b;
        });
        Start();
        // A piece that stays within an octave is a single hand's: there is no second register to
        // give the other hand. Nor is a single line, a tune that seldom sounds two notes at once,
        // however wide it ranges.
        if (narrow_ || SingleLine(order)) return hands;
        std::vector<uint32_t> onset;
        for (size_t i = 0; i < order.size();) {
            const double first = notes_[order[i]].start;
            onset.clear();
            for (; i < order.size() && notes_[order[i]].start - first <= kChordSeconds; ++i)
                onset.push_back(order[i]);
            // Sorted by key, so that a cut is a place in the list.
            std::sort(onset.begin(), onset.end(), [&](uint32_t a, uint32_t b) {
                return notes_[a].key != notes_[b].key ? notes_[a].key < notes_[b].key : a < b;
            });
            Assign(onset, first, hands);
        }
        return hands;
    }

  private:
    static int Key(const NoteRecord& n) { return std::clamp(n.key, 0, 127); }

    // The split line and the hands' places at the start: between the piece's low and high notes,
    // away from the few outermost ones.
    void Start() {
        int64_t counts[128] = {};
        for (size_t i = 0; i < count_; ++i) ++counts[Key(notes_[i])];
        auto percentile = [&](double share) {
            const int64_t wanted = static_cast<int64_t>(share * static_cast<double>(count_));
            int64_t seen = 0;
            for (int k = 0; k < 128; ++k) {
                seen += counts[k];
                if (seen > wanted) return k;
            }
            return 127;
        };
        const double low = percentile(0.1), high = percentile(0.9);
        narrow_ = high - low < kEasySpan;
        split_ = std::clamp((low + high) / 2.0, kLowestSplit, kHighestSplit);
        hand_[RightHand].position = std::max(split_ + 5.0, (split_ + high) / 2.0);
        hand_[LeftHand].position = std::min(split_ - 5.0, (split_ + low) / 2.0);
        for (HandState& h : hand_) std::fill(std::begin(h.heldUntil), std::end(h.heldUntil), -1.0f);
    }

    // Whether fewer than a third of the notes sound with another: struck with it, or while it is
    // still held past the slack a legato line leaves.
    bool SingleLine(const std::vector<uint32_t>& order) const {
        size_t together = 0;
        float latestEnd = -1.0f;
        for (size_t i = 0; i < order.size(); ++i) {
            const NoteRecord& n = notes_[order[i]];
            const bool held = n.start < latestEnd - kHeldSeconds;
            const bool struckWith =
                (i > 0 && n.start - notes_[order[i - 1]].start <= kChordSeconds) ||
                (i + 1 < order.size() && notes_[order[i + 1]].start - n.start <= kChordSeconds);
            together += held || struckWith;
            latestEnd = std::max(latestEnd, n.end);
        }
        return together * 3 < order.size();
    }

    double NoteCost(int hand, int key) const {
        const double away = std::abs(key - hand_[hand].position);
        const double wrongSide =
            hand == RightHand ? std::max(0.0, split_ - key) : std::max(0.0, key - split_);
        return away + wrongSide;
    }

    // Takes one onset's notes, sorted by key.
    void Assign(const std::vector<uint32_t>& onset, double time, std::vector<uint8_t>& hands) {
        const size_t m = onset.size();
        // The keys each hand still holds, which the other hand does not cross.
        int heldLow[2] = {128, 128}, heldHigh[2] = {-1, -1};
        for (int h = 0; h < 2; ++h) {
            for (int k = 0; k < 128; ++k) {
                if (hand_[h].heldUntil[k] <= time + kHeldSeconds) continue;
                heldLow[h] = std::min(heldLow[h], k);
                heldHigh[h] = std::max(heldHigh[h], k);
            }
        }
        // Prefix sums of the notes' costs in either hand, so every cut is weighed in one step.
        leftCost_.assign(m + 1, 0.0);
        rightCost_.assign(m + 1, 0.0);
        for (size_t i = 0; i < m; ++i) {
            leftCost_[i + 1] = leftCost_[i] + NoteCost(LeftHand, Key(notes_[onset[i]]));
            rightCost_[i + 1] = rightCost_[i] + NoteCost(RightHand, Key(notes_[onset[i]]));
        }
        auto key = [&](size_t i) { return Key(notes_[onset[i]]); };
        // A hand playing keys low..high while it holds heldLow..heldHigh.
        auto handCost = [&](int h, int low, int high, size_t notes) {
            // Only what a hand strikes together is taken as its reach: what it struck before may be
            // sounding on under the pedal, or held by notes a recording drew out, while the hand
            // has long moved on.
            double cost = SpanCost(high - low) + FingerCost(static_cast<int>(notes));
            // Reaching over or under what the other hand holds.
            const int other = 1 - h;
            if (heldHigh[other] >= 0) {
                if (h == RightHand && low < heldHigh[other]) cost += 2.0 * (heldHigh[other] - low);
                if (h == LeftHand && high > heldLow[other]) cost += 2.0 * (high - heldLow[other]);
            }
            return cost;
        };
        size_t best = 0;
        double bestCost = 0.0;
        for (size_t cut = 0; cut <= m; ++cut) {
            double cost = leftCost_[cut] + (rightCost_[m] - rightCost_[cut]);
            if (cut > 0) cost += handCost(LeftHand, key(0), key(cut - 1), cut);
            if (cut < m) cost += handCost(RightHand, key(cut), key(m - 1), m - cut);
            if (cut == 0 || cost < bestCost) {
                best = cut;
                bestCost = cost;
            }
        }
        for (size_t i = 0; i < m; ++i) {
            const NoteRecord& n = notes_[onset[i]];
            const int h = i < best ? LeftHand : RightHand;
            hands[onset[i]] = static_cast<uint8_t>(h);
            float& held = hand_[h].heldUntil[Key(n)];
            held = std::max(held, n.end);
        }
        // Each hand that played moves to where it played; the split line moves towards the middle
        // between the hands' nearest notes.
        if (best > 0) Follow(LeftHand, 0, best, onset);
        if (best < m) Follow(RightHand, best, m, onset);
        const double lowRight = best < m ? key(best) : hand_[RightHand].position;
        const double highLeft = best > 0 ? key(best - 1) : hand_[LeftHand].position;
        split_ = std::clamp(0.7 * split_ + 0.3 * (lowRight + highLeft) / 2.0, kLowestSplit, kHighestSplit);
    }

    void Follow(int h, size_t from, size_t to, const std::vector<uint32_t>& onset) {
        double sum = 0.0;
        for (size_t i = from; i < to; ++i) sum += Key(notes_[onset[i]]);
        const double middle = sum / static_cast<double>(to - from);
        hand_[h].position = 0.4 * hand_[h].position + 0.6 * middle;
    }

    const NoteRecord* notes_;
    size_t count_;
    double split_ = 60.0;
    bool narrow_ = false;
    HandState hand_[2] = {};
    std::vector<double> leftCost_, rightCost_;
};

}  // namespace

std::vector<uint8_t> AssignHandsByPitch(const NoteRecord* notes, size_t count) {
    return Splitter(notes, count).Run();
}

bool SplitOneHandByPitch(SongData& song) {
    if (song.reading != ReadingHands || song.partCount != 2) return false;
    const int filled = song.parts[0].noteCount > 0 ? 0 : 1;
    SongPart& voice = song.parts[filled];
    if (song.parts[1 - filled].noteCount != 0 || voice.noteCount < kMinNotesToSplit ||
        voice.notes == nullptr || !PianoProgram(voice.program)) {
        return false;
    }
    const size_t count = static_cast<size_t>(voice.noteCount);
    const std::vector<uint8_t> hands = AssignHandsByPitch(voice.notes, count);
    const size_t right = static_cast<size_t>(std::count(hands.begin(), hands.end(), RightHand));
    if (right == 0 || right == count) return false;

    // The right hand's notes, then the left's, each in the order they were read, in the run the
    // voice had.
    std::unique_ptr<NoteRecord[]> copy(new (std::nothrow) NoteRecord[count]);
    if (!copy) return false;
    std::copy(voice.notes, voice.notes + count, copy.get());
    NoteRecord* store = voice.notes;
    size_t r = 0, l = right;
    for (size_t i = 0; i < count; ++i) store[hands[i] == RightHand ? r++ : l++] = copy[i];

    const SongPart whole = voice;
    for (int p = 0; p < 2; ++p) {
        SongPart& part = song.parts[p];
        part = whole;
        part.colour = p;
        part.notes = p == RightHand ? store : store + right;
        part.noteCount = static_cast<int32_t>(p == RightHand ? right : count - right);
    }
    return true;
}
