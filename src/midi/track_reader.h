// Decodes the events of one track chunk of a Standard MIDI File, by the same grammar as the
// synthesiser's own file player, so that a file the reader accepts is a file that plays, and every
// event the reader sees is one the synthesiser sees.
//
// The grammar's particular rules: a delta time has at most four bytes; running status survives
// meta and system-exclusive events and carries over from one track to the next; a track ends at its
// end-of-track event or when its stated length is used up, whichever comes first (an event that runs
// past the stated length is read whole); 0xF7 and the system common and real-time statuses are not
// events a file may hold; tempo, end-of-track, time and key signature and time-code offset events
// must have their standard lengths.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

struct MidiEvent {
    int64_t tick;         // absolute tick within the track
    size_t offset;        // where the event (its delta time) starts in the data
    uint8_t status;       // 0x80..0xEF a channel event, 0xF0 system exclusive, 0xFF meta
    uint8_t data1;        // key, controller, program...; for a meta event its type
    uint8_t data2;        // velocity, value...
    const uint8_t* meta;  // a meta or system-exclusive event's data
    uint32_t metaLength;
};

enum class TrackStep { Event, End, CutShort, Damaged };

class TrackReader {
  public:
    // `start` is the first byte after the track's chunk header; the track is `length` bytes long.
    TrackReader(const uint8_t* data, size_t size, size_t start, uint32_t length, uint8_t runningStatus)
        : data_(data),
          size_(size),
          pos_(start),
          end_(static_cast<uint64_t>(start) + length),
          quickEnd_(size >= 4 ? std::min<uint64_t>(end_, size - 3) : 0),
          runningStatus_(runningStatus) {}

    // Decodes the next event into `e`. End: the track is over (its end-of-track event was read, or
    // its stated length used up). CutShort: the data ended inside an event. Damaged: an event the
    // grammar above refuses; `e.offset` says where it starts.
    TrackStep Next(MidiEvent& e) {
        // Most events of a dense track are channel events a one-byte delta apart, often in
        // running status: those are decoded here, in line, when the track goes on and all four
        // bytes such an event can take are in the data. Everything else takes the general path.
        if (pos_ < quickEnd_) {
            const uint8_t* p = data_ + pos_;
            const bool running = p[1] < 0x80;
            const uint8_t status = running ? runningStatus_ : p[1];
            if (p[0] < 0x80 && status >= 0x80 && status < 0xF0) {
                const uint8_t* d = running ? p + 1 : p + 2;
                e.offset = pos_;
                tick_ += p[0];
                e.tick = tick_;
                e.status = status;
                e.data1 = d[0];
                runningStatus_ = status;
                if ((status & 0xE0) != 0xC0) {
                    e.data2 = d[1];
                    pos_ = static_cast<size_t>(d + 2 - data_);
                } else {  // program change and channel pressure have one data byte
                    e.data2 = 0;
                    pos_ = static_cast<size_t>(d + 1 - data_);
                }
                return TrackStep::Event;
            }
        }
        return NextInGeneral(e);
    }

    [[nodiscard]] size_t Position() const { return pos_; }
    [[nodiscard]] uint64_t StatedEnd() const { return end_; }
    [[nodiscard]] uint8_t RunningStatus() const { return runningStatus_; }
    // The tick of the last event read: once the track is over, the tick it ends at.
    [[nodiscard]] int64_t Tick() const { return tick_; }

  private:
    [[gnu::noinline]] TrackStep NextInGeneral(MidiEvent& e) {
        if (ended_ || pos_ >= end_) return TrackStep::End;
        e.offset = pos_;
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
            if (size_ - pos_ < length) return TrackStep::CutShort;
            e.meta = data_ + pos_;
            e.metaLength = length;
            pos_ += length;
            return TrackStep::Event;
        }
        if (status != 0xFF) return pos_ < size_ ? TrackStep::Damaged : TrackStep::CutShort;
        if (pos_ >= size_) return TrackStep::CutShort;
        e.data1 = data_[pos_++];
        uint32_t length;
        const TrackStep l = ReadVlq(length);
        if (l != TrackStep::Event) return l;
        if (size_ - pos_ < length) return TrackStep::CutShort;
        e.meta = data_ + pos_;
        e.metaLength = length;
        pos_ += length;
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
};
