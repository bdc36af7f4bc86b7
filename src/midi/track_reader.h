// Decodes the events of one track chunk of a Standard MIDI File, by the same grammar as the
// synthesiser's own file player, so that a file the reader accepts is a file that plays, and every
// event the reader sees is one the synthesiser sees.
//
// The grammar's particular rules: a delta time has at most four bytes; every status, meta and
// system-exclusive ones included, becomes the running status (so a data byte after a meta event is
// read as another meta event, as the player reads it), and it carries over from one track to the
// next; a track ends at its
// end-of-track event or when its stated length is used up, whichever comes first (an event that runs
// past the stated length is read whole); 0xF7 and the system common and real-time statuses are not
// events a file may hold; tempo, end-of-track, time and key signature and time-code offset events
// must have their standard lengths.
//
// A reader takes its track either from bytes in memory or from an open file, a window at a time
// (see FileRegion), so that a huge song is read without its whole file in memory. The events are
// the same either way.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>

struct MidiEvent {
    int64_t tick;    // absolute tick within the track
    size_t offset;   // where the event (its delta time) starts in the data
    uint8_t status;  // 0x80..0xEF a channel event, 0xF0 system exclusive, 0xFF meta
    uint8_t data1;   // key, controller, program...; for a meta event its type
    uint8_t data2;   // velocity, value...
    // A meta or system-exclusive event's data, valid until the next event is read. Reading from a
    // file, data longer than the reader's window is passed over: `meta` is null, and the data is
    // the `metaLength` bytes before the reader's Position().
    const uint8_t* meta;
    uint32_t metaLength;
};

// The Standard MIDI File inside an open file: `size` bytes from `offset`. The readers of its tracks
// share it, each with a window of its own, and note here the first read that failed: `error` is
// the system's error number, or kFileShrank when the file ended before its size.
struct FileRegion {
    int fd;
    uint64_t offset;
    size_t size;
    int error;
};
inline constexpr int kFileShrank = -1;

// A big-endian 32-bit number, as a Standard MIDI File's chunk lengths are written.
inline uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// Moves `pos` from a chunk's header over chunks of other kinds to the next track chunk's header,
// as every walk of a file's declared tracks does; `skipped` (when given) is set if a chunk was
// stepped over. False when the data ends before a track chunk or a chunk's length cannot be one.
inline bool FindTrackChunk(const uint8_t* d, size_t n, size_t& pos, bool* skipped = nullptr) {
    for (;;) {
        if (pos > n || n - pos < 8) return false;
        const uint32_t length = BigEndian32(d + pos + 4);
        if (length > 0x7FFFFFFFu) return false;
        if (d[pos] == 'M' && d[pos + 1] == 'T' && d[pos + 2] == 'r' && d[pos + 3] == 'k') return true;
        if (skipped != nullptr) *skipped = true;
        pos += 8 + static_cast<size_t>(length);
    }
}

enum class TrackStep { Event, End, CutShort, Damaged };

class TrackReader {
  public:
    // `start` is the first byte after the track's chunk header; the track is `length` bytes long.
    TrackReader(const uint8_t* data, size_t size, size_t start, uint32_t length, uint8_t runningStatus)
        : data_(data),
          size_(size),
          pos_(start),
          end_(static_cast<uint64_t>(start) + length),
          quickEnd_(size > kQuickBytes ? std::min<uint64_t>(end_, size - kQuickBytes) : 0),
          runningStatus_(runningStatus) {}
    // Reads the track from `file` through `window`, `capacity` bytes (at least kLeastWindow) that
    // this reader alone fills; `start` and the positions it gives are offsets into the region.
    TrackReader(FileRegion& file, uint8_t* window, size_t capacity, size_t start, uint32_t length,
                uint8_t runningStatus)
        : data_(window),
          size_(0),
          pos_(0),
          end_(static_cast<uint64_t>(start) + length),
          quickEnd_(0),
          runningStatus_(runningStatus),
          base_(start),
          file_(&file),
          window_(window),
          capacity_(std::max(capacity, kLeastWindow)) {}

    // The least window a reader of a file takes: room for the longest event head (a delta time, a
    // status, a meta type and a length) several times over.
    static constexpr size_t kLeastWindow = 64;
    // The quick paths read a channel event of up to five bytes (a delta of two, a status, two data
    // bytes) without looking where the data ends: an event starting this many bytes before it is
    // left to the general path.
    static constexpr size_t kQuickBytes = 4;

    // Decodes the next event into `e`. End: the track is over (its end-of-track event was read, or
    // its stated length used up). CutShort: the data ended inside an event. Damaged: an event the
    // grammar above refuses; `e.offset` says where it starts.
    TrackStep Next(MidiEvent& e) {
        // Most events of a dense track are channel events a one-byte delta apart, often in
        // running status: those are decoded here, in line, when the track goes on and every byte
        // such an event can take is in the data. Everything else takes the general path.
        if (pos_ < quickEnd_) {
            const uint8_t* p = data_ + pos_;
            const bool running = p[1] < 0x80;
            const uint8_t status = running ? runningStatus_ : p[1];
            if (p[0] < 0x80 && status >= 0x80 && status < 0xF0) {
                const uint8_t* d = running ? p + 1 : p + 2;
                e.offset = base_ + pos_;
                tick_ += p[0];
                e.tick = tick_;
                e.status = status;
                runningStatus_ = status;
                // Program change and channel pressure have one data byte. Both data bytes are
                // written together: a caller that reads them as one takes them from one store,
                // which the processor forwards, where from two it waits for both to reach memory.
                const bool twoBytes = (status & 0xE0) != 0xC0;
                const uint8_t data2 = twoBytes ? d[1] : 0;  // in the data either way: pos_ < quickEnd_
                e.data1 = d[0];
                e.data2 = data2;
                pos_ = static_cast<size_t>(d + (twoBytes ? 2 : 1) - data_);
                return TrackStep::Event;
            }
        }
        return NextInGeneral(e);
    }

    // Reads events on, handing each to `take(const MidiEvent&)`, until one comes after `lastTick`
    // or `take` returns false: that event, not taken, is left in `e` and Event returned. Otherwise
    // the step that ended the track (End, CutShort, Damaged) is returned, as Next gives it.
    //
    // The same events as Next's, read faster: the quick path's state stays in locals for a whole
    // run, so that a dense track costs a few instructions an event rather than a round trip
    // through the reader and the event in memory for each.
    //
    // kSparse: events a delta of two bytes apart, as a sparse track's are, are decoded here too,
    // short of the call to the general path that costs as much again as the decoding. For a walk
    // whose `take` is small: a large one, in line twice, slows the dense tracks' walk.
    template <bool kSparse = false, typename Take>
    TrackStep Walk(MidiEvent& e, int64_t lastTick, Take&& take) {
        for (;;) {
            const uint8_t* const data = data_;
            const uint64_t quickEnd = quickEnd_;
            size_t pos = pos_;
            int64_t tick = tick_;
            uint8_t running = runningStatus_;
            while (pos < quickEnd) {
                const uint8_t* p = data + pos;
                const bool isRunning = p[1] < 0x80;
                const uint8_t status = isRunning ? running : p[1];
                if (p[0] >= 0x80 || status < 0x80 || status >= 0xF0) break;
                const uint8_t* d = isRunning ? p + 1 : p + 2;
                const bool twoBytes = (status & 0xE0) != 0xC0;
                MidiEvent quick;
                quick.tick = tick + p[0];
                quick.offset = base_ + pos;
                quick.status = status;
                quick.data1 = d[0];
                quick.data2 = twoBytes ? d[1] : 0;  // in the data either way: pos < quickEnd
                quick.meta = nullptr;
                quick.metaLength = 0;
                tick = quick.tick;
                running = status;
                pos = static_cast<size_t>(d + 1 + (twoBytes ? 1 : 0) - data);
                if (tick > lastTick || !take(static_cast<const MidiEvent&>(quick))) {
                    pos_ = pos;
                    tick_ = tick;
                    runningStatus_ = running;
                    e = quick;
                    return TrackStep::Event;
                }
            }
            pos_ = pos;
            tick_ = tick;
            runningStatus_ = running;
            if (kSparse && NextWithTwoByteDelta(e)) {
                e.meta = nullptr;
                e.metaLength = 0;
                if (e.tick > lastTick || !take(static_cast<const MidiEvent&>(e))) return TrackStep::Event;
                continue;
            }
            const TrackStep step = NextInGeneral(e);
            if (step != TrackStep::Event) return step;
            if (e.tick > lastTick || !take(static_cast<const MidiEvent&>(e))) return TrackStep::Event;
        }
    }

    [[nodiscard]] size_t Position() const { return base_ + pos_; }
    [[nodiscard]] uint64_t StatedEnd() const { return end_; }
    [[nodiscard]] uint8_t RunningStatus() const { return runningStatus_; }
    // The tick of the last event read: once the track is over, the tick it ends at.
    [[nodiscard]] int64_t Tick() const { return tick_; }

  private:
    // The head of any event fits in this many bytes, so that with this many in the window (or the
    // rest of the file) the general path reads inside the window.
    static constexpr size_t kLookahead = 16;

    // A channel event a delta of two bytes on, as the sparser tracks of a song of many tracks give,
    // decoded short of the general path's checks; false for any other event. Tried first on the
    // general path, so that the one-byte quick path of Next and Walk stays as lean as it is.
    bool NextWithTwoByteDelta(MidiEvent& e) {
        if (pos_ >= quickEnd_) return false;
        const uint8_t* p = data_ + pos_;
        const bool running = p[2] < 0x80;
        const uint8_t status = running ? runningStatus_ : p[2];
        if (p[0] < 0x80 || p[1] >= 0x80 || status < 0x80 || status >= 0xF0) return false;
        const uint8_t* d = running ? p + 2 : p + 3;
        e.offset = base_ + pos_;
        tick_ += ((p[0] & 0x7Fu) << 7) | p[1];
        e.tick = tick_;
        e.status = status;
        runningStatus_ = status;
        const bool twoBytes = (status & 0xE0) != 0xC0;
        e.data1 = d[0];
        e.data2 = twoBytes ? d[1] : 0;  // in the data either way: pos_ < quickEnd_
        pos_ = static_cast<size_t>(d + (twoBytes ? 2 : 1) - data_);
        return true;
    }

    [[gnu::noinline]] TrackStep NextInGeneral(MidiEvent& e) {
        if (NextWithTwoByteDelta(e)) return TrackStep::Event;
        if (ended_ || base_ + pos_ >= end_) return TrackStep::End;
        if (file_ != nullptr && pos_ + kLookahead > size_ && base_ + size_ < file_->size && Refill() &&
            pos_ < quickEnd_) {
            return Next(e);
        }
        e.offset = base_ + pos_;
        uint32_t delta;
        const TrackStep d = ReadVlq(delta);
        if (d != TrackStep::Event) return d;
        tick_ += delta;
        e.tick = tick_;
        if (pos_ >= size_) return TrackStep::CutShort;
        uint8_t status = data_[pos_];
        if (status & 0x80) {
            ++pos_;
        } else {
            if (runningStatus_ == 0) return TrackStep::Damaged;  // a data byte with no status before it
            status = runningStatus_;
        }
        runningStatus_ = status;
        e.status = status;
        if (status < 0xF0) {
            const bool twoBytes = (status & 0xE0) != 0xC0;  // program change and channel pressure have one
            if (size_ - pos_ < (twoBytes ? 2u : 1u)) return TrackStep::CutShort;
            e.data1 = data_[pos_++];
            e.data2 = twoBytes ? data_[pos_++] : 0;
            return TrackStep::Event;
        }
        if (status == 0xF0) {
            uint32_t length;
            const TrackStep l = ReadVlq(length);
            if (l != TrackStep::Event) return l;
            return TakeData(e, length);
        }
        if (status != 0xFF) return pos_ < size_ ? TrackStep::Damaged : TrackStep::CutShort;
        if (pos_ >= size_) return TrackStep::CutShort;
        e.data1 = data_[pos_++];
        uint32_t length;
        const TrackStep l = ReadVlq(length);
        if (l != TrackStep::Event) return l;
        if (const TrackStep d = TakeData(e, length); d != TrackStep::Event) return d;
        const int expected = StandardMetaLength(e.data1);
        if (expected >= 0 && length != static_cast<uint32_t>(expected)) return TrackStep::Damaged;
        if (e.data1 == 0x2F) {
            ended_ = true;
            quickEnd_ = 0;
        }
        return TrackStep::Event;
    }

    static int StandardMetaLength(uint8_t type) {
        switch (type) {
            case 0x2F:  // end of track
                return 0;
            case 0x51:  // tempo
                return 3;
            case 0x54:  // time-code offset
                return 5;
            case 0x58:  // time signature
                return 4;
            case 0x59:  // key signature
                return 2;
            default:
                return -1;
        }
    }

    // Takes the `length` bytes of data of a meta or system-exclusive event into `e`.
    TrackStep TakeData(MidiEvent& e, uint32_t length) {
        const uint64_t left = file_ != nullptr ? file_->size - (base_ + pos_) : size_ - pos_;
        if (left < length) return TrackStep::CutShort;
        e.metaLength = length;
        if (size_ - pos_ < length && (length > capacity_ || !Refill() || size_ - pos_ < length)) {
            // Too long for the window, or the file could not give it: passed over unseen. A read
            // that failed is on record in the region.
            e.meta = nullptr;
            pos_ += length;
            return TrackStep::Event;
        }
        e.meta = data_ + pos_;
        pos_ += length;
        return TrackStep::Event;
    }

    // Moves the window on to start at the reader's position and fills it from the file. True
    // when it now holds bytes past what it held.
    bool Refill() {
        const uint64_t from = base_ + pos_;
        const uint64_t heldTo = base_ + size_;
        const size_t want = static_cast<size_t>(
            std::min<uint64_t>(capacity_, file_->size - std::min<uint64_t>(from, file_->size)));
        size_t got = 0;
        while (got < want) {
            const ssize_t n =
                pread(file_->fd, window_ + got, want - got, static_cast<off_t>(file_->offset + from + got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (file_->error == 0) file_->error = n < 0 ? errno : kFileShrank;
                break;
            }
            got += static_cast<size_t>(n);
        }
        base_ = from;
        pos_ = 0;
        size_ = got;
        quickEnd_ = ended_ || size_ <= kQuickBytes || end_ <= base_
                        ? 0
                        : std::min<uint64_t>(end_ - base_, size_ - kQuickBytes);
        return from + got > heldTo;
    }

    TrackStep ReadVlq(uint32_t& value) {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            if (pos_ >= size_) return TrackStep::CutShort;
            const uint8_t b = data_[pos_++];
            value = (value << 7) | (b & 0x7Fu);
            if (!(b & 0x80)) return TrackStep::Event;
        }
        return TrackStep::Damaged;  // a fifth byte would be needed
    }

    const uint8_t* data_;
    size_t size_;
    size_t pos_;
    uint64_t end_;
    uint64_t quickEnd_;  // before it, an event can take the quick path of Next
    uint8_t runningStatus_;
    bool ended_ = false;
    int64_t tick_ = 0;
    // Reading from a file: where the window starts in the region (positions above are inside the
    // window), the file, and the window's memory.
    uint64_t base_ = 0;
    FileRegion* file_ = nullptr;
    uint8_t* window_ = nullptr;
    size_t capacity_ = 0;
};
