// The order in which a merge of a few tracks takes their runs. A run of one track takes every event
// up to the other tracks' next ones, which the player sends by tick and then by track. With two
// tracks the runs simply take turns; up to kMost, the next run is found by a search. (Many tracks
// take turns too often for runs: see MergeWindows.)
//
// `Cursor` is the merge's own place in a track: `track` (the track chunk, counted from 0) and
// `event.tick` (of the track's next event) are all the order reads of it.
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

// The last tick a run of `track` takes before another track's next event at `tick`: that tick
// itself when the run's track comes first there, else the tick before.
inline int64_t RunEnd(int32_t track, int64_t tick, int32_t otherTrack) {
    return track < otherTrack ? tick : tick - 1;
}

template <typename Cursor>
class MergeOrder {
  public:
    // A run: the cursor whose events it takes, and the last tick it takes.
    struct Start {
        Cursor* cursor;
        int64_t lastTick;
    };

    static constexpr size_t kMost = 8;

    // Over `cursors`, one to kMost, each on its track's first event.
    explicit MergeOrder(std::vector<Cursor>& cursors) : cursors_(cursors), two_(cursors.size() == 2) {
        if (two_) {
            other_ = &cursors[1];
        } else {
            live_.resize(cursors.size());
            for (size_t i = 0; i < live_.size(); ++i) live_[i] = static_cast<int32_t>(i);
        }
    }

    Start First() {
        if (two_) {
            Cursor* c = &cursors_[0];
            if (Earlier(*other_, *c)) std::swap(c, other_);
            return {c, RunEnd(c->track, other_->event.tick, other_->track)};
        }
        return Earliest();
    }

    // After a run of `c`, which ended on its next event or (not `more`) with its track: the next
    // run, whose cursor is null when every track is over. Two tracks take turns here, in line, as
    // their runs are often an event long.
    Start Next(Cursor* c, bool more) {
        if (!two_) return NextOfMore(c, more);
        if (other_ == nullptr) return {nullptr, 0};
        // The other track takes its turn, or once this one is over, the rest of the song.
        Cursor* next = std::exchange(other_, more ? c : nullptr);
        return {next, other_ == nullptr ? INT64_MAX : RunEnd(next->track, other_->event.tick, other_->track)};
    }

  private:
    static bool Earlier(const Cursor& x, const Cursor& y) {
        return x.event.tick != y.event.tick ? x.event.tick < y.event.tick : x.track < y.track;
    }

    [[gnu::noinline]] Start NextOfMore(Cursor* c, bool more) {
        if (!more)
            live_.erase(std::find(live_.begin(), live_.end(), static_cast<int32_t>(c - cursors_.data())));
        return live_.empty() ? Start{nullptr, 0} : Earliest();
    }

    Start Earliest() {
        size_t first = 0;
        for (size_t i = 1; i < live_.size(); ++i) {
            if (Earlier(At(live_[i]), At(live_[first]))) first = i;
        }
        Cursor* c = &At(live_[first]);
        int64_t lastTick = INT64_MAX;
        for (size_t i = 0; i < live_.size(); ++i) {
            const Cursor& o = At(live_[i]);
            if (i != first) lastTick = std::min(lastTick, RunEnd(c->track, o.event.tick, o.track));
        }
        return {c, lastTick};
    }

    Cursor& At(int32_t i) { return cursors_[static_cast<size_t>(i)]; }

    std::vector<Cursor>& cursors_;
    const bool two_;
    Cursor* other_ = nullptr;    // two tracks: the one not running, null once it is over
    std::vector<int32_t> live_;  // more than two: the tracks not yet over
};
