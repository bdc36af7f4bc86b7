// The tracks being merged, ordered by their next events: the track whose next event the player
// sends first is on top, by tick and then by track. The top track takes its run of events and is
// then put back with its next tick, or dropped once it is over, in one pass down the heap; each
// entry carries its own key, so that ordering never reaches into the tracks' readers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class TrackQueue {
  public:
    struct Entry {
        int64_t tick;   // of the track's next event
        int32_t track;  // the track chunk, counted from 0
        int32_t index;  // the caller's own number for the track
    };

    void Add(const Entry& entry) { heap_.push_back(entry); }
    // Orders what was added; call once, before taking any.
    void Order() {
        for (size_t i = heap_.size() / 2; i-- > 0;) Down(i);
    }
    [[nodiscard]] bool Empty() const { return heap_.empty(); }
    [[nodiscard]] const Entry& Top() const { return heap_[0]; }
    // What comes after the top (the earlier of its two children), or null when the top is alone.
    [[nodiscard]] const Entry* Second() const {
        if (heap_.size() < 2) return nullptr;
        return heap_.size() > 2 && Before(heap_[2], heap_[1]) ? &heap_[2] : &heap_[1];
    }
    // The top track goes on with its next event at `tick`.
    void ReplaceTop(int64_t tick) {
        heap_[0].tick = tick;
        Down(0);
    }
    // The top track is over.
    void DropTop() {
        heap_[0] = heap_.back();
        heap_.pop_back();
        if (!heap_.empty()) Down(0);
    }

  private:
    static bool Before(const Entry& a, const Entry& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.track < b.track;
    }
    void Down(size_t i) {
        const size_t n = heap_.size();
        const Entry moving = heap_[i];
        for (;;) {
            size_t child = 2 * i + 1;
            if (child >= n) break;
            if (child + 1 < n && Before(heap_[child + 1], heap_[child])) ++child;
            if (!Before(heap_[child], moving)) break;
            heap_[i] = heap_[child];
            i = child;
        }
        heap_[i] = moving;
    }

    std::vector<Entry> heap_;
};
