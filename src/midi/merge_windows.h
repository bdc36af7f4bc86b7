// A merge of many tracks' note events into playing order (by tick, then by track, then by place in
// the track), a window of ticks at a time. Where tracks take turns every event or two, as the
// tracks of a dense song of hundreds do, a merge run by run pays a step of a heap for each event;
// here each track's events of a window are read in one walk, and the window's notes are put in
// order by a stable sort on their tick, which keeps the order of the tracks and of each track's
// events on a shared tick.
//
// `Cursor` is the merge's own place in a track: `reader` (a TrackReader), `event` (the track's
// next event, not yet taken) and `track` (the track chunk, counted from 0). The cursors are given
// in track order.
//
// The window's width follows the song: it is widened while windows hold few notes and narrowed
// while they hold many. A window that fills the buffer before its tracks are all read is cut short
// where that happened, so that a burst of notes never takes more than about the buffer's room
// beside what the window held before the cut.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "midi/track_reader.h"

template <typename Cursor>
class MergeWindows {
  public:
    // A note event of the window: its tick from Base(), its cursor, and its bytes.
    struct Note {
        uint32_t tick;
        uint16_t cursor;
        uint8_t status;
        uint8_t data1;
        uint8_t data2;
    };

    // Over `cursors` (at most 65,536), each on its track's first event; `room` is how many notes
    // a window takes before it is cut short.
    explicit MergeWindows(std::vector<Cursor>& cursors, size_t room = kRoom)
        : cursors_(cursors), room_(std::max<size_t>(room, 1)) {
        for (size_t i = 0; i < cursors.size(); ++i) live_.push_back(static_cast<uint16_t>(i));
        over_.assign(cursors.size(), 0);
    }

    // Reads on to the next notes in playing order; false when every track is over. The notes
    // are then Notes(), every one of them before every note not yet given.
    bool Fill() {
        for (;;) {
            // The notes given last time make way for those that waited.
            std::copy(pending_.begin() + static_cast<ptrdiff_t>(given_),
                      pending_.begin() + static_cast<ptrdiff_t>(size_), pending_.begin());
            size_ -= given_;
            given_ = 0;
            if (!resuming_ && size_ == 0 &&
                std::all_of(live_.begin(), live_.end(), [&](uint16_t i) { return over_[i] != 0; }))
                return false;
            if (Read()) return true;
        }
    }
    [[nodiscard]] std::span<const Note> Notes() const { return {pending_.data(), given_}; }
    [[nodiscard]] int64_t Base() const { return base_; }
    [[nodiscard]] Cursor& CursorOf(const Note& n) const { return cursors_[n.cursor]; }

  private:
    static constexpr size_t kRoom = size_t{1} << 16;
    static constexpr int kDigit = 11;                      // bits of the tick one pass sorts by
    static constexpr int64_t kWidest = 1 << (2 * kDigit);  // the widest window: two passes
    static constexpr size_t kAimed = 16384;                // notes a window aims at: 200 KB or so

    // Reads the tracks into the window (after a cut at its base, the rest of them) and gives
    // what is certain. False when that is nothing yet.
    bool Read() {
        size_t i = 0;
        if (resuming_) {
            i = resumeAt_;
            resuming_ = false;
        } else {
            Open();
        }
        size_t added = 0;
        for (; i < live_.size(); ++i) {
            const uint16_t cursor = live_[i];
            Cursor& c = cursors_[cursor];
            if (over_[cursor] || c.event.tick > end_) continue;
            auto take = [&](const MidiEvent& e) __attribute__((always_inline)) {
                if (e.status >= 0xA0) return true;  // only notes are merged
                if (added == room_) return false;
                if (size_ == pending_.size()) pending_.resize(std::max<size_t>(1024, 2 * size_));
                pending_[size_++] = {static_cast<uint32_t>(e.tick - base_), cursor, e.status, e.data1,
                                     e.data2};
                ++added;
                return true;
            };
            if (take(c.event)) {
                if (c.reader.template Walk<true>(c.event, end_, take) != TrackStep::Event) {
                    over_[cursor] = 1;
                    continue;
                }
                if (c.event.tick > end_) continue;
            }
            // The room ran out at this track's event, which was not taken.
            cut_ = true;
            if (c.event.tick > base_) {
                // The window ends before it: the tracks after this one are read only that far.
                end_ = c.event.tick - 1;
            } else {
                // At the base: what is certain is given now, and the window goes on from here.
                end_ = base_;
                resumeAt_ = i;
                resuming_ = true;
                break;
            }
        }
        Sort();
        // Every track has been read through end_: what comes after it waits for the next window.
        const auto last = static_cast<uint32_t>(end_ - base_);
        Note* const first = pending_.data();
        const auto n =
            static_cast<size_t>(std::upper_bound(first, first + size_, last,
                                                 [](uint32_t t, const Note& x) { return t < x.tick; }) -
                                first);
        given_ = n;
        if (!resuming_) Adapt(n);
        return n != 0;
    }

    // Starts a window at the earliest tick any track or a waiting note is at.
    void Open() {
        live_.erase(std::remove_if(live_.begin(), live_.end(), [&](uint16_t i) { return over_[i] != 0; }),
                    live_.end());
        int64_t start = INT64_MAX;
        for (const uint16_t i : live_) start = std::min(start, cursors_[i].event.tick);
        // Waiting notes are in order, and from the last window: within its width of the new base.
        if (size_ != 0) start = std::min(start, base_ + pending_[0].tick);
        for (size_t i = 0; i < size_; ++i)
            pending_[i].tick = static_cast<uint32_t>(base_ + pending_[i].tick - start);
        int64_t end = start > INT64_MAX - width_ ? INT64_MAX : start + width_ - 1;
        if (size_ != 0) end = std::max(end, start + pending_[size_ - 1].tick);
        base_ = start;
        end_ = std::min(end, base_ + (kWidest - 1));
        widest_ = static_cast<uint32_t>(end_ - base_);
    }

    // A stable sort by tick: one pass of counting for each digit of kDigit bits the window's
    // ticks take (two at most), then one of moving for each.
    void Sort() {
        if (size_ < 2) return;
        constexpr uint32_t kMask = (1u << kDigit) - 1;
        const bool twoDigits = (widest_ >> kDigit) != 0;
        uint32_t low[kMask + 2], high[kMask + 2];
        std::fill(std::begin(low), std::end(low), 0u);
        if (twoDigits) {
            std::fill(std::begin(high), std::end(high), 0u);
            for (size_t i = 0; i < size_; ++i) {
                ++low[(pending_[i].tick & kMask) + 1];
                ++high[(pending_[i].tick >> kDigit) + 1];
            }
        } else {
            for (size_t i = 0; i < size_; ++i) ++low[pending_[i].tick + 1];
        }
        Move(low, 0, twoDigits ? kMask : widest_);
        if (twoDigits) Move(high, kDigit, widest_ >> kDigit);
    }
    // Moves the notes to where `count` (of each digit at `shift`, up to `top`, a place on) puts
    // them.
    void Move(uint32_t* count, int shift, uint32_t top) {
        constexpr uint32_t kMask = (1u << kDigit) - 1;
        for (uint32_t b = 0; b < top; ++b) count[b + 1] += count[b];
        sorted_.resize(pending_.size());
        for (size_t i = 0; i < size_; ++i)
            sorted_[count[(pending_[i].tick >> shift) & kMask]++] = pending_[i];
        pending_.swap(sorted_);
    }

    // Widens the window while it holds few notes, narrows it while it holds many.
    void Adapt(size_t notes) {
        if (cut_) {
            cut_ = false;
            width_ = std::max<int64_t>(1, width_ / 2);
        } else if (notes < kAimed / 2) {
            width_ = std::min(kWidest, width_ * 2);
        } else if (notes > kAimed * 2) {
            width_ = std::max<int64_t>(1, width_ / 2);
        }
    }

    std::vector<Cursor>& cursors_;
    const size_t room_;
    std::vector<uint16_t> live_;  // the cursors of the tracks not yet over, in track order
    std::vector<uint8_t> over_;   // by cursor: its track is over (dropped from live_ at a window's start)
    std::vector<Note> pending_;   // the first size_ are read and not yet given: in order once sorted
    size_t size_ = 0;
    size_t given_ = 0;  // the first of them, given by Notes()
    std::vector<Note> sorted_;
    int64_t base_ = 0;
    int64_t end_ = 0;      // the last tick the window reads, brought in where the room ran out
    uint32_t widest_ = 0;  // the window's ticks as it opened, which no note waiting goes past
    int64_t width_ = 1024;
    size_t resumeAt_ = 0;  // after a cut at the base: the live track the window goes on from
    bool resuming_ = false;
    bool cut_ = false;  // the room ran out in this window
};
