#include "midi/midi_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>

#include "midi/note_timeline.h"
#include "resources/strings.h"

namespace {

// ParseChunk's extra outcome: the data ended inside a chunk header, so there is nothing more.
constexpr int kEndOfData = -1;

uint32_t ReadBigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// Decodes one file image. Positions are offsets into the buffer; every read checks them against
// its size, so a file that lies about its lengths cannot make the parser read past the end.
class MidiParser {
  public:
    MidiParser(SongData& song, const uint8_t* data, size_t size) : builder_(song), data_(data), size_(size) {}

    bool ParseSong();

  private:
    enum class Event { Read, DataEnded, Refused };

    int ParseChunk(size_t chunkStart, uint32_t length);
    Event ParseTrackEvent();

    bool HasBytes(size_t count) const { return pos_ <= size_ && size_ - pos_ >= count; }

    // A variable-length quantity of at most three bytes, so deltas and lengths stop at 21 bits: a
    // third byte is taken whole and a fourth is never read. False when the data ends inside it.
    bool ReadVlq(uint32_t& value) {
        if (!HasBytes(1)) return false;
        const uint8_t first = data_[pos_++];
        if (first < 0x80) {
            value = first;
            return true;
        }
        if (!HasBytes(1)) return false;
        const uint8_t second = data_[pos_++];
        if (second < 0x80) {
            value = (first & 0x7Fu) * 128u + second;
            return true;
        }
        if (!HasBytes(1)) return false;
        value = ((first & 0x7Fu) * 128u + (second & 0x7Fu)) * 128u + data_[pos_++];
        return true;
    }

    // Skips `count` bytes; false (and the position at the end) when the data ends first.
    bool Skip(uint64_t count) {
        if (!HasBytes(count)) {
            pos_ = size_;
            return false;
        }
        pos_ += count;
        return true;
    }

    SongBuilder builder_;
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    int32_t tick_ = 0;
};

bool MidiParser::ParseSong() {
    SongData& song = builder_.song;
    builder_.StartParse();
    pos_ = 0;
    while (pos_ < size_) {
        int result;
        if (size_ - pos_ >= 2 && !(data_[pos_] == 'M' && data_[pos_ + 1] == 'T')) {
            result = MidiInvalidFile;  // not a chunk of ours, however short
        } else if (size_ - pos_ < 8) {
            break;  // a chunk header cut off by the end of the file
        } else {
            const uint32_t length = ReadBigEndian32(data_ + pos_ + 4);
            builder_.StartChunk();
            result = ParseChunk(pos_, length);
            if (result == kEndOfData) break;
        }
        song.status = result;
        if (result == 0) {
            if (builder_.notesInTrack > 0) {
                ++builder_.trackCounter;
                song.noteTracks = builder_.trackCounter;
                builder_.notesInTrack = 0;
            }
        } else if (result == MidiTooManyTracks) {
            return false;
        } else if (result == MidiInvalidFile) {
            // Garbage or an unknown chunk after the notes ends the song there; before any note
            // it means this is no MIDI file at all.
            if (builder_.trackCounter == 0) return false;
            break;
        } else {
            break;  // a track before the header: nothing can be timed
        }
    }
    builder_.FinishSong();
    return true;
}

int MidiParser::ParseChunk(size_t chunkStart, uint32_t length) {
    // The caller has checked that the chunk's name begins with "MT" and that its 8-byte header is
    // inside the data.
    const uint8_t* chunk = data_ + chunkStart;

    if (chunk[2] == 'h' && chunk[3] == 'd') {
        // Only the division is used; format and track count are not. It sits at byte 12 whatever
        // the header's stated length.
        pos_ = chunkStart;
        if (!HasBytes(14)) return kEndOfData;
        const int32_t division = (chunk[12] << 8) | chunk[13];
        // A division of 0 could time nothing; such a header makes the file unreadable.
        if (division == 0) return MidiInvalidFile;
        builder_.SetDivision(division);
        pos_ = chunkStart + 8;
        Skip(length);
        return 0;
    }

    if (builder_.division == -1) return MidiNoHeader;

    pos_ = chunkStart + 8;
    const size_t end = pos_ + static_cast<size_t>(length);  // cannot wrap: length < 2^32
    tick_ = 0;
    // The track ends where its length says, not at its end-of-track event. An event that runs
    // over that end is still read whole, and the next chunk starts where it stopped.
    while (pos_ < end) {
        const Event event = ParseTrackEvent();
        if (event == Event::Refused) return MidiTooManyTracks;
        if (event == Event::DataEnded) {
            pos_ = size_;  // the file ends inside the event: the song keeps what came before it
            break;
        }
    }
    return 0;
}

MidiParser::Event MidiParser::ParseTrackEvent() {
    constexpr Event kRead = Event::Read, kEnded = Event::DataEnded;
    uint32_t delta;
    if (!ReadVlq(delta)) return kEnded;
    // Saturate rather than overflow: no time conversion distinguishes ticks this far out.
    tick_ = static_cast<int32_t>(std::min<int64_t>(int64_t{tick_} + delta, INT32_MAX));

    if (!HasBytes(1)) return kEnded;
    uint8_t status = builder_.runningStatus;
    if (data_[pos_] & 0x80) status = data_[pos_++];
    // Meta and system-exclusive statuses become the running status too.
    builder_.runningStatus = status;

    const int channel = status & 0x0F;
    switch (status & 0xF0) {
        case 0x80:
        case 0x90: {
            if (!HasBytes(2)) return kEnded;
            const int key = data_[pos_];
            const int velocity = data_[pos_ + 1];
            pos_ += 2;
            if (key > 127) return kRead;  // not a key of any keyboard: ignore the event
            if ((status & 0xF0) == 0x80) {
                builder_.AddNoteOff(channel, key, tick_);
            } else if (builder_.AddNoteOn(channel, key, velocity, tick_) != 0) {
                return Event::Refused;
            }
            return kRead;
        }
        case 0xA0:
        case 0xB0:
        case 0xE0:
            return Skip(2) ? kRead : kEnded;
        case 0xC0:
        case 0xD0:
            return Skip(1) ? kRead : kEnded;
        case 0xF0:
            break;
        default:
            return kRead;  // running status 0 at the start of a file: the next byte is a delta
    }

    if (status == 0xF0 || status == 0xF7) {
        uint32_t length;
        return ReadVlq(length) && Skip(length) ? kRead : kEnded;
    }
    if (status == 0xFF) {
        if (!HasBytes(1)) return kEnded;
        const uint8_t type = data_[pos_++];
        uint32_t length;
        if (!ReadVlq(length)) return kEnded;
        // The tempo is the first three data bytes whatever the stated length.
        if (type == 0x51 && HasBytes(3)) {
            const uint32_t tempo =
                (uint32_t{data_[pos_]} << 16) | (uint32_t{data_[pos_ + 1]} << 8) | data_[pos_ + 2];
            builder_.AddTempo(tempo, tick_);
        }
        return Skip(length) ? kRead : kEnded;
    }
    return kRead;  // 0xF1-0xF6, 0xF8-0xFE carry nothing
}

}  // namespace

bool ParseSong(SongData& song, const uint8_t* data, size_t size) {
    MidiParser parser(song, data, size);
    return parser.ParseSong();
}

bool ReadMidiFile(SongData& song, const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        song.status = MidiReadError;
        return false;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(file, &std::fclose);

    // A folder or a device opens but has no length to read.
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        song.status = MidiReadError;
        return false;
    }
    const size_t size = static_cast<size_t>(info.st_size);

    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size == 0 ? 1 : size]);
    if (!buffer) {
        song.status = MidiOutOfMemory;
        return false;
    }
    if (size > 0 && std::fread(buffer.get(), 1, size, file) != size) {
        song.status = MidiReadError;
        return false;
    }
    closer.reset();

    if (!ParseSong(song, buffer.get(), size)) return false;
    buffer.reset();
    return song.duration <= kMaxSongSeconds;
}

int MidiStatusStringId(int32_t status) {
    switch (status) {
        case MidiInvalidFile:
            return res::IdsInvalidMidiFile;
        case MidiTooManyTracks:
            return res::IdsTooManyTracks;
        case MidiOutOfMemory:
            return res::IdsOutOfMemory;
        case MidiReadError:
            return res::IdsErrorReadingFile;
        default:
            return res::IdsError;
    }
}
