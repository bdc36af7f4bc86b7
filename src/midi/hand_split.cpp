#include "midi/hand_split.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

namespace {

// Notes struck within this much of each other sound as one: no tune's notes follow each other
// this fast.
constexpr double kChordSeconds = 0.03;
// Notes struck within this much of an onset's first note belong to it. A chord as a person plays
// it is seldom struck at one instant: the hands lead and lag each other, and a chord's notes spread
// over 50 ms and more. A sixteenth lasts longer than this up to 180 beats a minute.
constexpr double kOnsetSeconds = 0.08;
// A note still held this long after an onset counts as held by its hand; one that ends sooner is
// being let go as the next is struck, as a legato line does.
constexpr double kHeldSeconds = 0.05;
// The piece's middle, which each hand leans to its own side of, stays between E3 and G4: below E3
// the left hand would be made to play tenor melodies, above G4 the right hand would lose the middle
// of the keyboard to the left.
constexpr double kLowestSplit = 52.0;
constexpr double kHighestSplit = 67.0;
// An octave is an easy reach; a tenth is as far as a hand goes.
constexpr int kEasySpan = 12;
constexpr int kWidestSpan = 16;
constexpr int kFingers = 5;
// A hand plays anywhere within about a sixth of where it has been at little cost (what it plays
// there is for the other terms to weigh: a chord's outer notes lie that far from its middle); a
// leap past that costs in full, so a hand seldom darts across the keyboard for one note and back.
constexpr double kNearWeight = 0.1;
constexpr double kLeapFrom = 9.0;
// A hand that leapt and comes back within this long plays where it just was at no leap's cost: a
// bass note and the chords above it, taken in turns by one hand, the bar of a slow waltz apart.
constexpr double kBackSeconds = 2.0;
// What a key on the far side of the piece's middle from its hand costs: a tie-breaker.
constexpr double kWrongSide = 0.2;
// Notes held on while a hand strikes others: the reach past an octave that it costs, but never more
// than this, since a note written long is often let go (or held by the pedal) as the hand moves on.
constexpr double kHeldReachWeight = 0.15;
constexpr double kMostHeldReach = 2.0;
// A line: notes that follow each other within this long, and at most this many keys apart (up to
// a tritone, as a broken chord climbs by thirds and fourths). Taking over the other hand's line
// costs about what a leap of more than an octave does.
constexpr double kLineSeconds = 1.0;
constexpr int kLineStep = 6;
constexpr double kHandover = 6.0;
// Notes struck together that are let go together are most often one hand's, when the onset's other
// notes end elsewhere: each hand keeps a rhythm of its own, so parting two such notes between the
// hands costs about a leap past a tenth. A person lets a chord's keys go as unevenly as they strike
// them.
constexpr double kEndSlack = kOnsetSeconds;
constexpr double kSharedEnd = 4.0;
// Each hand keeps a texture of its own, a melody of single notes over chords of three, say: a hand
// striking again within a line's time costs this for each note more or fewer than its last strike.
constexpr double kTexture = 0.6;
// A pianist voices the hands apart (a tune over a softer accompaniment), and a score gives each
// staff its own dynamics, so a note costs for each step of velocity it lies from its hand's recent
// strikes. The cost is bounded, so that an accent, or a note played all but silent, weighs no more
// than a short leap.
constexpr double kLoudWeight = 0.1;
constexpr double kMostLoud = 2.0;
// A right hand that holds a tune note on seldom strikes under it: the chords beneath are the left
// hand's, however near the tune they climb. Striking wholly under a key it holds on for this long
// yet (longer than a legato line's overlap) costs the right hand about a short leap. A lone note
// struck there while the left hand has rested for a line's time is the exception: the right hand's
// own inner voice, as two voices of counterpoint on one staff go.
constexpr double kHeldOnSeconds = 0.15;
constexpr double kUnderHeldTune = 2.0;
// Hands that take turns, one striking just after the other but never with it, are most often one
// hand's part shared out: a left hand alone with a broken chord, say, whose upper notes the resting
// right hand could reach as well. Once the hands have not struck together for this long, a strike
// by one hand within a line's time of the other's costs a little.
constexpr double kTogetherSeconds = 3.0;
constexpr double kTakingTurns = 0.5;
// The most ways from one onset's cuts into the next one's that are weighed.
constexpr size_t kMostWays = 512;

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

// What a path through the piece knows of the hands after its latest onset.
struct Hands {
    float position[2];        // a smoothed middle of each hand's recent notes
    float before[2];          // where each hand was before its latest leap
    float leapt[2];           // when it leapt
    float struck[2];          // when each hand last struck
    float lowUntil[2];        // until when each hand holds the lowest key it holds
    float highUntil[2];       // and the highest
    uint8_t low[2], high[2];  // the keys of each hand's last strike
    uint8_t held[2][2];       // the lowest and highest keys each hand holds (while held)
    uint8_t count[2];         // how many notes each hand's last strike had (0: none yet)
    float loud[2];            // a smoothed velocity of each hand's strikes
    float together;           // when both hands last struck at one onset
};

class Splitter {
  public:
    Splitter(const NoteRecord* notes, size_t count) : notes_(notes), count_(count) {}

    std::vector<uint8_t> Run() {
        std::vector<uint8_t> hands(count_, RightHand);
        // The notes are sorted by 32-bit index: a song keeps far fewer.
        if (count_ == 0 || count_ > UINT32_MAX) return hands;
        order_.resize(count_);
        for (size_t i = 0; i < count_; ++i) order_[i] = static_cast<uint32_t>(i);
        // A track's notes are most often kept in the order they were struck already.
        bool inOrder = true;
        for (size_t i = 1; i < count_ && inOrder; ++i) inOrder = !(notes_[i].start < notes_[i - 1].start);
        if (!inOrder) {
            std::sort(order_.begin(), order_.end(), [&](uint32_t a, uint32_t b) {
                const NoteRecord &x = notes_[a], &y = notes_[b];
                if (x.start != y.start) return x.start < y.start;
                return a < b;
            });
        }
        Start();
        // A piece that stays within an octave is a single hand's: there is no second register to
        // give the other hand. Nor is a single line, a tune that seldom sounds two notes at once,
        // however wide it ranges.
        if (narrow_ || SingleLine()) return hands;
        Forward();
        Back(hands);
        return hands;
    }

  private:
    static int Key(const NoteRecord& n) { return std::min<int>(n.key, 127); }

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
        start_.position[RightHand] = static_cast<float>(std::max(split_ + 5.0, (split_ + high) / 2.0));
        start_.position[LeftHand] = static_cast<float>(std::min(split_ - 5.0, (split_ + low) / 2.0));
        start_.together = -1e6f;
        for (int h = 0; h < 2; ++h) {
            start_.struck[h] = -1e6f;
            start_.leapt[h] = -1e6f;
            start_.before[h] = start_.position[h];
            start_.lowUntil[h] = start_.highUntil[h] = -1.0f;
            start_.low[h] = start_.high[h] = static_cast<uint8_t>(start_.position[h]);
            start_.held[h][0] = start_.held[h][1] = start_.low[h];
        }
    }

    // Whether fewer than a third of the notes sound with another: struck with it, or while it is
    // still held past the slack a legato line leaves.
    bool SingleLine() const {
        size_t together = 0;
        float latestEnd = -1.0f;
        for (size_t i = 0; i < order_.size(); ++i) {
            const NoteRecord& n = notes_[order_[i]];
            const bool held = n.start < latestEnd - kHeldSeconds;
            const bool struckWith =
                (i > 0 && n.start - notes_[order_[i - 1]].start <= kChordSeconds) ||
                (i + 1 < order_.size() && notes_[order_[i + 1]].start - n.start <= kChordSeconds);
            together += held || struckWith;
            latestEnd = std::max(latestEnd, n.end);
        }
        return together * 3 < order_.size();
    }

    // One onset's notes, sorted by key, as a run of order_; the places a cut may go between its
    // lower notes (the left hand's) and its upper ones. Notes of one key never part.
    void TakeOnset(size_t& next) {
        const size_t from = next;
        const double first = notes_[order_[from]].start;
        while (next < order_.size() && notes_[order_[next]].start - first <= kOnsetSeconds) ++next;
        // By key, then by index: sorted as one number each, which a dense cluster of thousands of
        // notes sorts far faster than by looking each note up.
        packed_.clear();
        for (size_t i = from; i < next; ++i)
            packed_.push_back(uint64_t{notes_[order_[i]].key} << 32 | order_[i]);
        std::sort(packed_.begin(), packed_.end());
        keySums_.assign(1, 0);
        velocitySums_.assign(1, 0);
        for (size_t i = from; i < next; ++i) {
            order_[i] = static_cast<uint32_t>(packed_[i - from]);
            const NoteRecord& n = notes_[order_[i]];
            keySums_.push_back(keySums_.back() + Key(n));
            velocitySums_.push_back(velocitySums_.back() + n.velocity);
        }
        onsetFrom_.push_back(static_cast<uint32_t>(from));
        cutFrom_.push_back(static_cast<uint32_t>(cuts_.size()));
        cuts_.push_back(0);
        for (size_t i = from + 1; i < next; ++i) {
            if (Key(notes_[order_[i]]) != Key(notes_[order_[i - 1]]))
                cuts_.push_back(static_cast<uint32_t>(i - from));
        }
        cuts_.push_back(static_cast<uint32_t>(next - from));
    }

    // What a note costs in a hand, given where the path has the hands: how far the hand must leap
    // for it from where it has been playing (or from where it was before a leap it is coming back
    // from), and a little for lying on the other hand's side of the piece's middle.
    double NoteCost(const Hands& at, int hand, const NoteRecord& note, double time, bool line) const {
        const int key = Key(note);
        double distance = std::abs(key - at.position[hand]);
        if (time - at.leapt[hand] < kBackSeconds)
            distance = std::min(distance, std::abs(key - double{at.before[hand]}));
        const double away = kNearWeight * distance + std::max(0.0, distance - kLeapFrom);
        const double wrongSide =
            hand == RightHand ? std::max(0.0, split_ - key) : std::max(0.0, key - split_);
        // A note a few keys from the other hand's last one, struck soon after it while this
        // hand rests, carries on that hand's line: a line seldom passes from hand to hand. Only
        // one note of an onset can carry a line on (`line`): the others are a chord struck with it.
        const int other = 1 - hand;
        double handover = 0.0;
        if (line && at.struck[other] > at.struck[hand] && time - at.struck[other] < kLineSeconds &&
            key >= at.low[other] - kLineStep && key <= at.high[other] + kLineStep)
            handover = kHandover;
        // Reaching past where the other hand is.
        const double crossing = hand == RightHand ? std::max(0.0, double{at.position[LeftHand]} - key)
                                                  : std::max(0.0, key - double{at.position[RightHand]});
        // Struck louder or softer than the hand has been playing.
        const double loudness =
            at.count[hand] > 0 ? std::min(kMostLoud, kLoudWeight * std::abs(note.velocity - at.loud[hand]))
                               : 0.0;
        return away + kWrongSide * wrongSide + handover + crossing + loudness;
    }

    // A hand striking keys low..high, `notes` of the onset's `onsetNotes`, at `time`.
    double StrikeCost(const Hands& at, int h, int low, int high, size_t notes, size_t onsetNotes,
                      double time) const {
        double cost = SpanCost(high - low) + FingerCost(static_cast<int>(notes));
        if (at.count[h] > 0 && time - at.struck[h] < kLineSeconds)
            cost +=
                kTexture * std::abs(static_cast<double>(std::min<size_t>(notes, UINT8_MAX)) - at.count[h]);
        // What the hand still holds, from this strike or any before, it must reach from where it
        // strikes now.
        const double until = time + kHeldSeconds;
        const int lowest = at.lowUntil[h] > until ? std::min(low, int{at.held[h][0]}) : low;
        const int highest = at.highUntil[h] > until ? std::max(high, int{at.held[h][1]}) : high;
        if (lowest < low || highest > high)
            cost += std::min(kMostHeldReach, kHeldReachWeight * SpanCost(highest - lowest));
        const bool innerVoice = onsetNotes == 1 && time - at.struck[LeftHand] >= kLineSeconds;
        if (h == RightHand && !innerVoice && at.highUntil[h] > time + kHeldOnSeconds && high < at.held[h][1])
            cost += kUnderHeldTune;
        // Striking alone, just after the other hand, which has not struck with this one for a while.
        const int other = 1 - h;
        if (notes == onsetNotes && time - at.struck[other] < kLineSeconds &&
            time - at.together > kTogetherSeconds)
            cost += kTakingTurns;
        // Reaching over or under what the other hand holds.
        if (h == RightHand && at.highUntil[other] > until && low < at.held[other][1])
            cost += 2.0 * (at.held[other][1] - low);
        if (h == LeftHand && at.lowUntil[other] > until && high > at.held[other][0])
            cost += 2.0 * (high - at.held[other][0]);
        return cost;
    }

    // What each cut of the onset at order_[from, to) costs for parting two neighbouring notes that
    // end together, while others of its notes end elsewhere. A cut that gives one hand every note
    // parts none.
    void SharedEndCosts(size_t from, size_t to, const uint32_t* cuts, size_t cutCount,
                        std::vector<double>& costs) const {
        costs.assign(cutCount, 0.0);
        float first = notes_[order_[from]].end, last = first;
        for (size_t i = from; i < to; ++i) {
            first = std::min(first, notes_[order_[i]].end);
            last = std::max(last, notes_[order_[i]].end);
        }
        if (last - first <= kEndSlack) return;
        for (size_t c = 0; c < cutCount; ++c) {
            const size_t cut = cuts[c];
            if (cut == 0 || from + cut == to) continue;
            const float below = notes_[order_[from + cut - 1]].end, above = notes_[order_[from + cut]].end;
            if (std::abs(below - above) <= kEndSlack) costs[c] = kSharedEnd;
        }
    }

    // Which of the onset's notes at order_[from, to) lies nearest hand h's last strike: the one
    // that would carry that hand's line on.
    size_t LineNote(const Hands& at, int h, size_t from, size_t to) const {
        size_t nearest = 0;
        int least = INT32_MAX;
        for (size_t i = from; i < to; ++i) {
            const int key = Key(notes_[order_[i]]);
            const int d = std::max({0, at.low[h] - key, key - at.high[h]});
            if (d < least) least = d, nearest = i - from;
        }
        return nearest;
    }

    // Hand h striking the notes at order_[from, to) of the onset that begins at order_[onset].
    Hands Strike(Hands at, int h, size_t onset, size_t from, size_t to, double time) const {
        const double keys = static_cast<double>(keySums_[to - onset] - keySums_[from - onset]);
        const double velocities =
            static_cast<double>(velocitySums_[to - onset] - velocitySums_[from - onset]);
        const double middle = keys / static_cast<double>(to - from);
        const double velocity = velocities / static_cast<double>(to - from);
        // A leap from where the hand has played (not from where a path starts it) is remembered,
        // so that coming back costs no second leap.
        if (at.count[h] > 0 && std::abs(middle - at.position[h]) > kLeapFrom) {
            at.before[h] = at.position[h];
            at.leapt[h] = static_cast<float>(time);
        }
        at.position[h] = static_cast<float>(0.4 * at.position[h] + 0.6 * middle);
        at.loud[h] = static_cast<float>(at.count[h] > 0 ? 0.5 * at.loud[h] + 0.5 * velocity : velocity);
        at.count[h] = static_cast<uint8_t>(std::min<size_t>(to - from, UINT8_MAX));
        at.struck[h] = static_cast<float>(time);
        const NoteRecord& lowest = notes_[order_[from]];
        const NoteRecord& highest = notes_[order_[to - 1]];
        at.low[h] = static_cast<uint8_t>(Key(lowest));
        at.high[h] = static_cast<uint8_t>(Key(highest));
        // The hand's held keys: the strike's outer notes, unless it still holds keys beyond them.
        // Only the outermost held keys are kept, which is all a reach needs.
        const float until = static_cast<float>(time + kHeldSeconds);
        if (at.lowUntil[h] <= until || at.low[h] <= at.held[h][0]) {
            at.held[h][0] = at.low[h];
            at.lowUntil[h] = lowest.end;
        }
        if (at.highUntil[h] <= until || at.high[h] >= at.held[h][1]) {
            at.held[h][1] = at.high[h];
            at.highUntil[h] = highest.end;
        }
        return at;
    }

    // The cheapest way through the onsets, each cut in two at one of its places: every way into an
    // onset's cut is weighed from every cut of the onset before, each carrying where its own best
    // path left the hands, and the cheapest is kept with a pointer back to where it came from.
    void Forward() {
        std::vector<double> cost{0.0}, nextCost;
        std::vector<Hands> at{start_}, nextAt;
        std::vector<double> left, right, shared;
        for (size_t next = 0; next < order_.size();) {
            const size_t from = next;
            TakeOnset(next);
            const size_t m = next - from;
            const double time = notes_[order_[from]].start;
            const uint32_t* cuts = cuts_.data() + cutFrom_.back();
            const size_t cutCount = cuts_.size() - cutFrom_.back();
            nextCost.assign(cutCount, 0.0);
            nextAt.resize(cutCount);
            back_.resize(cuts_.size());
            // Between two great clusters of keys only the cheapest ways in are followed on, so that
            // the work stays bounded however many keys sound at once; an onset a pair of hands can
            // play has few enough cuts to weigh them all.
            from_.resize(cost.size());
            for (size_t s = 0; s < cost.size(); ++s) from_[s] = static_cast<uint8_t>(s);
            size_t ways = cost.size();
            if (ways * cutCount > kMostWays) {
                ways = std::max<size_t>(1, kMostWays / cutCount);
                std::partial_sort(
                    from_.begin(), from_.begin() + static_cast<std::ptrdiff_t>(ways), from_.end(),
                    [&](uint8_t a, uint8_t b) { return cost[a] != cost[b] ? cost[a] < cost[b] : a < b; });
            }
            SharedEndCosts(from, next, cuts, cutCount, shared);
            for (size_t w = 0; w < ways; ++w) {
                const size_t s = from_[w];
                // Prefix sums of the notes' costs in either hand, so every cut is weighed in one step.
                left.assign(m + 1, 0.0);
                right.assign(m + 1, 0.0);
                const size_t rightLine = LineNote(at[s], RightHand, from, next);
                const size_t leftLine = LineNote(at[s], LeftHand, from, next);
                for (size_t i = 0; i < m; ++i) {
                    const NoteRecord& note = notes_[order_[from + i]];
                    left[i + 1] = left[i] + NoteCost(at[s], LeftHand, note, time, i == rightLine);
                    right[i + 1] = right[i] + NoteCost(at[s], RightHand, note, time, i == leftLine);
                }
                for (size_t c = 0; c < cutCount; ++c) {
                    const size_t cut = cuts[c];
                    double total = cost[s] + left[cut] + (right[m] - right[cut]) + shared[c];
                    if (cut > 0)
                        total += StrikeCost(at[s], LeftHand, Key(notes_[order_[from]]),
                                            Key(notes_[order_[from + cut - 1]]), cut, m, time);
                    if (cut < m)
                        total += StrikeCost(at[s], RightHand, Key(notes_[order_[from + cut]]),
                                            Key(notes_[order_[next - 1]]), m - cut, m, time);
                    if (w == 0 || total < nextCost[c]) {
                        nextCost[c] = total;
                        back_[cutFrom_.back() + c] = static_cast<uint8_t>(s);
                    }
                }
            }
            for (size_t c = 0; c < cutCount; ++c) {
                const size_t cut = cuts[c];
                Hands h = at[back_[cutFrom_.back() + c]];
                if (cut > 0) h = Strike(h, LeftHand, from, from, from + cut, time);
                if (cut < m) h = Strike(h, RightHand, from, from + cut, next, time);
                if (cut > 0 && cut < m) h.together = static_cast<float>(time);
                nextAt[c] = h;
            }
            // Costs only ever grow; taking the least off keeps them small numbers.
            const double least = *std::min_element(nextCost.begin(), nextCost.end());
            for (double& c : nextCost) c -= least;
            cost.swap(nextCost);
            at.swap(nextAt);
        }
        bestLast_ = static_cast<size_t>(std::min_element(cost.begin(), cost.end()) - cost.begin());
    }

    void Back(std::vector<uint8_t>& hands) const {
        size_t state = bestLast_;
        for (size_t o = onsetFrom_.size(); o-- > 0;) {
            const size_t from = onsetFrom_[o];
            const size_t to = o + 1 < onsetFrom_.size() ? onsetFrom_[o + 1] : order_.size();
            const size_t cut = cuts_[cutFrom_[o] + state];
            for (size_t i = from; i < to; ++i)
                hands[order_[i]] = static_cast<uint8_t>(i - from < cut ? LeftHand : RightHand);
            state = back_[cutFrom_[o] + state];
        }
    }

    const NoteRecord* notes_;
    size_t count_;
    double split_ = 60.0;
    bool narrow_ = false;
    Hands start_ = {};
    std::vector<uint32_t> order_;
    std::vector<uint32_t> onsetFrom_;    // where each onset's notes begin in order_
    std::vector<uint32_t> cutFrom_;      // where each onset's cuts begin in cuts_
    std::vector<uint32_t> cuts_;         // how many of its notes each cut gives the left hand
    std::vector<uint64_t> packed_;       // the latest onset's notes, key and index, to sort
    std::vector<int64_t> keySums_;       // and the sums of its first i keys
    std::vector<int64_t> velocitySums_;  // and of their velocities
    std::vector<uint8_t> back_;          // for each cut, the cut of the onset before on its best path
    std::vector<uint8_t> from_;          // the cuts of the onset before that are followed on
    size_t bestLast_ = 0;
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
        FindKeyRange(part);
    }
    return true;
}
