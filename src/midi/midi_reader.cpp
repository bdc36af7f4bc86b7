// The reader works in two passes over the file. The first checks every declared track by the
// player's grammar and gathers what decides the song's shape: the tempo changes of all tracks, the
// notes each part will hold, the program changes, the track names, and whether the two-hand rule
// can take the file. The note store is then allocated once, and the second pass reads the note
// events of all tracks merged in the order the player sends them, timing them on the one tempo map.
#include "midi/midi_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <queue>

#include "midi/note_timeline.h"
#include "midi/track_reader.h"
#include "resources/strings.h"

namespace {

uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
uint32_t LittleEndian32(const uint8_t* p) {
    return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | uint32_t{p[0]};
}

// The two-hand rule: channel 0 songs keep their hands in separate tracks, the n-th track that
// stores notes being taken as channel n; channel 2 lands in part 0 while reading and the parts are
// swapped at the end when it was used, so that channel 1 ends up first. -1: no hand takes it.
int HandOf(int channel, int32_t notedTracksBefore) {
    const int partChannel = channel == 0 ? notedTracksBefore : channel;
    const int part = partChannel == 2 ? 0 : partChannel;
    return part < 2 ? part : -1;
}

// A track name as UTF-8: kept when it is UTF-8 already, read as Latin-1 otherwise; control
// characters become spaces; cut at a character boundary to fit.
void CopyName(const uint8_t* text, uint32_t length, char (&out)[kPartNameBytes]) {
    auto validUtf8 = [&] {
        for (uint32_t i = 0; i < length;) {
            const uint8_t c = text[i];
            const uint32_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
            if (n == 0 || i + n > length) return false;
            for (uint32_t k = 1; k < n; ++k) {
                if ((text[i + k] & 0xC0) != 0x80) return false;
            }
            i += n;
        }
        return true;
    };
    const bool utf8 = validUtf8();
    size_t o = 0;
    for (uint32_t i = 0; i < length;) {
        uint8_t c = text[i];
        char piece[4];
        size_t n;
        if (c < 0x80) {
            piece[0] = static_cast<char>(c < 0x20 || c == 0x7F ? ' ' : c);
            n = 1;
        } else if (utf8) {
            n = (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4;
            std::memcpy(piece, text + i, n);
        } else {
            piece[0] = static_cast<char>(0xC0 | (c >> 6));
            piece[1] = static_cast<char>(0x80 | (c & 0x3F));
            n = 2;
        }
        i += utf8 && c >= 0x80 ? static_cast<uint32_t>(n) : 1;
        if (o + n >= kPartNameBytes) break;
        std::memcpy(out + o, piece, n);
        o += n;
    }
    while (o > 0 && out[o - 1] == ' ') --o;
    size_t lead = 0;
    while (lead < o && out[lead] == ' ') ++lead;
    std::memmove(out, out + lead, o - lead);
    out[o - lead] = '\0';
}

struct TrackInfo {
    size_t start;           // first event byte
    uint32_t length;        // stated length
    uint8_t runningStatus;  // carried in from the track before
    int32_t notedBefore;    // tracks before it that give the hands a note
    bool hasNotes;          // any note event the synthesiser takes
    int32_t voiceOf[16];    // the voice of each channel, -1 for none
    const uint8_t* name;
    uint32_t nameLength;
};

struct VoiceInfo {
    int32_t track;
    int32_t channel;
    int64_t firstTick;
    size_t firstOffset;  // orders voices that start on one tick within one track
    int64_t notes;
};

struct ProgramChange {
    int64_t tick;
    int32_t track;
    size_t offset;
    uint8_t channel;
    uint8_t program;
};

// The order in which the player sends the events of different tracks: by tick, then by track;
// within a track, by position.
bool Before(int64_t tickA, int32_t trackA, size_t offA, int64_t tickB, int32_t trackB, size_t offB) {
    if (tickA != tickB) return tickA < tickB;
    if (trackA != trackB) return trackA < trackB;
    return offA < offB;
}

class SmfParser {
  public:
    SmfParser(SongData& song, MidiBytes bytes) : song_(song), builder_(song), in_(bytes) {}

    bool Parse();

  private:
    bool Fail(MidiStatus status, size_t offset = 0) {
        song_.status = status;
        song_.failureOffset = static_cast<int64_t>(in_.offset + offset);
        return false;
    }
    bool ReadHeader();
    bool ScanTracks();
    bool ScanTrack(int32_t index, size_t start, uint32_t length, size_t& next);
    void NoteOnSeen(TrackInfo& t, int32_t index, const MidiEvent& e, bool& gaveHand);
    bool LayOutParts();
    // Walks the note events of all tracks in playing order. Counting: only the notes each part
    // keeps under the song's limit, into `counts`. Otherwise the notes are stored.
    void Merge(bool counting, std::vector<int64_t>& counts);
    void StartPart(int part, int32_t track, int channel, int program);

    // One track's place in the merge: its next event and the part each channel's notes go to.
    struct Cursor {
        TrackReader reader;
        MidiEvent event;
        int32_t track;
        int32_t partOf[16];
    };
    // A cursor on its first event for every track with notes.
    std::vector<Cursor> MergeCursors();

    SongData& song_;
    SongBuilder builder_;
    MidiBytes in_;
    int32_t division_ = 0;
    uint32_t declaredTracks_ = 0;
    uint8_t runningStatus_ = 0;
    int32_t notedTracks_ = 0;
    std::vector<TrackInfo> tracks_;
    std::vector<TempoChange> tempo_;
    std::vector<ProgramChange> programs_;
    std::vector<VoiceInfo> voices_;
    std::vector<int32_t> partOfVoice_;
    bool handsFit_ = true;
    bool channel0Seen_ = false;
    bool channel2Seen_ = false;
    int64_t handNotes_[2] = {};
    TempoMap tempoMap_;
};

bool SmfParser::ReadHeader() {
    const uint8_t* d = in_.data;
    if (in_.size < 4 || std::memcmp(d, "MThd", 4) != 0) return Fail(MidiInvalidFile);
    if (in_.size < 14) return Fail(MidiCutShort, in_.size);
    // The player takes a header of exactly six bytes and formats 0 to 2 only.
    if (BigEndian32(d + 4) != 6 || d[8] != 0 || d[9] > 2) return Fail(MidiInvalidFile);
    declaredTracks_ = (uint32_t{d[10]} << 8) | d[11];
    if (d[12] & 0x80) return Fail(MidiSmpteTiming);
    division_ = (int32_t{d[12]} << 8) | d[13];
    if (division_ == 0) return Fail(MidiInvalidFile);  // could time nothing
    return true;
}

bool SmfParser::ScanTracks() {
    size_t pos = 14;
    const uint8_t* d = in_.data;
    const size_t n = in_.size;
    // Exactly the declared number of track chunks is read, as the player does; chunks of other
    // kinds between them are skipped, and whatever follows the last track is not read.
    for (uint32_t i = 0; i < declaredTracks_; ++i) {
        for (;;) {
            if (pos > n || n - pos < 8) return Fail(MidiCutShort, n);
            // A chunk name is four printable letters; the player stops reading it at a NUL.
            for (int k = 0; k < 4 && d[pos + k] != 0; ++k) {
                if (d[pos + k] & 0x80) return Fail(MidiDamaged, pos);
            }
            const uint32_t length = BigEndian32(d + pos + 4);
            if (length > 0x7FFFFFFFu) return Fail(MidiDamaged, pos);
            if (std::memcmp(d + pos, "MTrk", 4) == 0) {
                size_t next;
                if (!ScanTrack(static_cast<int32_t>(i), pos + 8, length, next)) return false;
                pos = next;
                break;
            }
            pos += 8 + static_cast<size_t>(length);
        }
    }
    return true;
}

bool SmfParser::ScanTrack(int32_t index, size_t start, uint32_t length, size_t& next) {
    TrackInfo t{};
    t.start = start;
    t.length = length;
    t.runningStatus = runningStatus_;
    t.notedBefore = notedTracks_;
    std::fill(std::begin(t.voiceOf), std::end(t.voiceOf), -1);
    TrackReader reader(in_.data, in_.size, start, length, runningStatus_);
    MidiEvent e{};
    bool gaveHand = false;
    for (;;) {
        const TrackStep step = reader.Next(e);
        if (step == TrackStep::End) break;
        if (step == TrackStep::CutShort) return Fail(MidiCutShort, in_.size);
        if (step == TrackStep::Damaged) return Fail(MidiDamaged, e.offset);
        const int kind = e.status & 0xF0;
        if (kind == 0x90) {
            NoteOnSeen(t, index, e, gaveHand);
        } else if (kind == 0x80) {
            if (e.data1 < 128) t.hasNotes = true;
        } else if (kind == 0xC0) {
            programs_.push_back({e.tick, index, e.offset, static_cast<uint8_t>(e.status & 0x0F), e.data1});
        } else if (e.status == 0xFF) {
            if (e.data1 == 0x51) {
                tempo_.push_back(
                    {e.tick, (uint32_t{e.meta[0]} << 16) | (uint32_t{e.meta[1]} << 8) | e.meta[2]});
            } else if (e.data1 == 0x03 && t.name == nullptr) {
                t.name = e.meta;
                t.nameLength = e.metaLength;
            }
        }
    }
    runningStatus_ = reader.RunningStatus();
    if (gaveHand) ++notedTracks_;
    // The rest of a track that ended early is skipped; a track whose last event ran past its
    // stated length is followed straight after that event.
    next = static_cast<size_t>(std::max<uint64_t>(reader.Position(), reader.StatedEnd()));
    tracks_.push_back(t);
    return true;
}

void SmfParser::NoteOnSeen(TrackInfo& t, int32_t index, const MidiEvent& e, bool& gaveHand) {
    const int channel = e.status & 0x0F;
    if (e.data1 > 127) return;  // no key: the synthesiser refuses it
    // The two-hand rule's channel test looks at every note-on, of any velocity.
    if (channel == 0) {
        channel0Seen_ = true;
    } else if (channel == 2) {
        if (channel0Seen_) handsFit_ = false;
        channel2Seen_ = true;
    } else if (channel != 1) {
        handsFit_ = false;
    }
    t.hasNotes = true;
    if (e.data2 == 0 || e.data2 > 127) return;  // a note-off, or a velocity the synthesiser refuses
    if (channel == kPercussionChannel) {
        ++song_.percussionNotes;
        return;
    }
    int32_t& v = t.voiceOf[channel];
    if (v < 0) {
        v = static_cast<int32_t>(voices_.size());
        voices_.push_back({index, channel, e.tick, e.offset, 0});
    }
    ++voices_[v].notes;
    const int hand = HandOf(channel, t.notedBefore);
    if (hand < 0) {
        handsFit_ = false;  // the two-hand rule would drop this note
    } else {
        ++handNotes_[hand];
        gaveHand = true;
    }
}

bool SmfParser::LayOutParts() {
    std::vector<int64_t> counts;
    if (handsFit_) {
        song_.reading = ReadingHands;
        song_.partCount = 2;
        counts = {handNotes_[0], handNotes_[1]};
    } else {
        song_.reading = ReadingVoices;
        std::vector<int32_t> order(voices_.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int32_t>(i);
        std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
            const VoiceInfo &x = voices_[a], &y = voices_[b];
            return Before(x.firstTick, x.track, x.firstOffset, y.firstTick, y.track, y.firstOffset);
        });
        partOfVoice_.assign(voices_.size(), -1);
        const size_t kept = std::min<size_t>(order.size(), kMaxParts);
        if (kept < order.size()) song_.truncated = 1;
        for (size_t p = 0; p < kept; ++p) {
            partOfVoice_[order[p]] = static_cast<int32_t>(p);
            counts.push_back(voices_[order[p]].notes);
        }
        song_.partCount = static_cast<int32_t>(kept);
    }
    int64_t total = 0;
    for (int64_t c : counts) total += c;
    if (total > kMaxSongNotes) {
        song_.truncated = 1;
        Merge(true, counts);
    }
    for (int p = 0; p < song_.partCount; ++p) {
        song_.parts[p].track = -1;
        song_.parts[p].channel = -1;
        song_.parts[p].program = -1;
        song_.parts[p].colour = p;
    }
    if (!builder_.AllocateParts(counts)) return Fail(MidiOutOfMemory);
    return true;
}

void SmfParser::StartPart(int part, int32_t track, int channel, int program) {
    SongPart& p = song_.parts[part];
    p.track = track;
    p.channel = channel;
    p.program = program;
    const TrackInfo& t = tracks_[static_cast<size_t>(track)];
    if (t.name != nullptr) CopyName(t.name, t.nameLength, p.name);
}

std::vector<SmfParser::Cursor> SmfParser::MergeCursors() {
    std::vector<Cursor> cursors;
    for (size_t i = 0; i < tracks_.size(); ++i) {
        const TrackInfo& t = tracks_[i];
        if (!t.hasNotes) continue;
        Cursor c{TrackReader(in_.data, in_.size, t.start, t.length, t.runningStatus),
                 {},
                 static_cast<int32_t>(i),
                 {}};
        for (int ch = 0; ch < 16; ++ch) {
            if (song_.reading == ReadingHands) {
                c.partOf[ch] = ch <= 2 ? HandOf(ch, t.notedBefore) : -1;
            } else {
                c.partOf[ch] = t.voiceOf[ch] >= 0 ? partOfVoice_[static_cast<size_t>(t.voiceOf[ch])] : -1;
            }
        }
        if (c.reader.Next(c.event) == TrackStep::Event) cursors.push_back(c);
    }
    return cursors;
}

void SmfParser::Merge(bool counting, std::vector<int64_t>& counts) {
    std::vector<Cursor> cursors = MergeCursors();
    if (counting) std::fill(counts.begin(), counts.end(), 0);

    // The cursor whose pending event the player sends first is on top.
    auto later = [&](int32_t a, int32_t b) {
        const Cursor &x = cursors[a], &y = cursors[b];
        return Before(y.event.tick, y.track, 0, x.event.tick, x.track, 0);
    };
    std::vector<int32_t> heap(cursors.size());
    for (size_t i = 0; i < heap.size(); ++i) heap[i] = static_cast<int32_t>(i);
    std::make_heap(heap.begin(), heap.end(), later);

    std::sort(programs_.begin(), programs_.end(), [](const ProgramChange& a, const ProgramChange& b) {
        return Before(a.tick, a.track, a.offset, b.tick, b.track, b.offset);
    });
    size_t nextProgram = 0;
    int program[16];
    std::fill(std::begin(program), std::end(program), -1);
    std::vector<char> started(static_cast<size_t>(song_.partCount), 0);
    std::vector<char> noted(tracks_.size(), 0);
    TempoMap::Walker clock(tempoMap_);
    int64_t stored = 0;

    while (!heap.empty()) {
        std::pop_heap(heap.begin(), heap.end(), later);
        const int32_t ci = heap.back();
        heap.pop_back();
        Cursor& c = cursors[ci];
        const bool alone = heap.empty();
        const int64_t boundTick = alone ? 0 : cursors[heap.front()].event.tick;
        const int32_t boundTrack = alone ? 0 : cursors[heap.front()].track;
        bool more = true;
        // Every event of this track that comes before the other tracks' next one.
        while (more && (alone || Before(c.event.tick, c.track, 0, boundTick, boundTrack, 0))) {
            const MidiEvent& e = c.event;
            const int kind = e.status & 0xF0;
            if ((kind == 0x90 || kind == 0x80) && e.data1 < 128) {
                const int channel = e.status & 0x0F;
                if (kind == 0x90 && e.data2 > 0) {
                    if (e.data2 <= 127) {
                        int part = c.partOf[channel];
                        if (part >= 0 && stored >= kMaxSongNotes) part = -1;
                        if (part >= 0) ++stored;
                        if (counting) {
                            if (part >= 0) ++counts[static_cast<size_t>(part)];
                        } else {
                            while (nextProgram < programs_.size() &&
                                   Before(programs_[nextProgram].tick, programs_[nextProgram].track,
                                          programs_[nextProgram].offset, e.tick, c.track, e.offset)) {
                                program[programs_[nextProgram].channel] = programs_[nextProgram].program;
                                ++nextProgram;
                            }
                            if (part >= 0 && !started[static_cast<size_t>(part)]) {
                                started[static_cast<size_t>(part)] = 1;
                                StartPart(part, c.track, channel, program[channel]);
                            }
                            if (part >= 0) noted[static_cast<size_t>(c.track)] = 1;
                            builder_.NoteOn(channel, e.data1, e.data2, clock.Seconds(e.tick), part);
                        }
                    }
                } else if (!counting) {
                    builder_.NoteOff(channel, e.data1, clock.Seconds(e.tick));
                }
            }
            more = c.reader.Next(c.event) == TrackStep::Event;
        }
        if (more) {
            heap.push_back(ci);
            std::push_heap(heap.begin(), heap.end(), later);
        }
    }
    if (!counting) song_.noteTracks = static_cast<int32_t>(std::count(noted.begin(), noted.end(), 1));
}

bool SmfParser::Parse() {
    song_.duration = 0.0;
    if (!ReadHeader() || !ScanTracks()) return false;
    tempoMap_.Build(division_, std::move(tempo_));
    if (!LayOutParts()) return false;
    std::vector<int64_t> unused;
    Merge(false, unused);
    builder_.Finish(tempoMap_, division_, song_.reading == ReadingHands && channel2Seen_);
    if (song_.duration > kMaxSongSeconds) return Fail(MidiTooLong);
    song_.status = MidiOk;
    return true;
}

}  // namespace

MidiBytes StandardMidiBytes(const uint8_t* data, size_t size) {
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "RMID", 4) != 0) {
        return {data, size, 0};
    }
    // RIFF chunks: a name, a little-endian length, the data padded to an even length.
    size_t pos = 12;
    while (pos <= size && size - pos >= 8) {
        const uint32_t length = LittleEndian32(data + pos + 4);
        if (std::memcmp(data + pos, "data", 4) == 0) {
            const size_t start = pos + 8;
            return {data + start, std::min<size_t>(length, size - start), start};
        }
        pos += 8 + static_cast<size_t>(length) + (length & 1u);
    }
    return {data + size, 0, size};  // a RIFF MIDI file without its MIDI data
}

std::vector<uint8_t> PlayerMidiBytes(const uint8_t* data, size_t size) {
    const MidiBytes in = StandardMidiBytes(data, size);
    const std::vector<uint8_t> whole(in.data, in.data + in.size);
    const uint8_t* d = in.data;
    const size_t n = in.size;
    if (n < 14 || std::memcmp(d, "MThd", 4) != 0) return whole;
    const uint32_t declared = (uint32_t{d[10]} << 8) | d[11];
    std::vector<uint8_t> kept(d, d + 14);
    bool skipped = false;
    size_t pos = 14;
    uint8_t runningStatus = 0;
    for (uint32_t i = 0; i < declared; ++i) {
        for (;;) {
            if (pos > n || n - pos < 8) return whole;
            const uint32_t length = BigEndian32(d + pos + 4);
            if (length > 0x7FFFFFFFu) return whole;
            if (std::memcmp(d + pos, "MTrk", 4) == 0) break;
            skipped = true;
            pos += 8 + static_cast<size_t>(length);
        }
        // The track runs to where the reader takes up the next chunk.
        TrackReader reader(d, n, pos + 8, BigEndian32(d + pos + 4), runningStatus);
        MidiEvent e{};
        TrackStep step;
        while ((step = reader.Next(e)) == TrackStep::Event) {
        }
        if (step != TrackStep::End) return whole;
        runningStatus = reader.RunningStatus();
        const uint64_t next = std::max<uint64_t>(reader.Position(), reader.StatedEnd());
        if (next > n) return whole;
        kept.insert(kept.end(), d + pos, d + next);
        pos = static_cast<size_t>(next);
    }
    return skipped ? kept : whole;
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, int& error) {
    // Opening a pipe waits for a writer, so anything that is not a regular file is refused first.
    struct stat before {};
    if (stat(path.c_str(), &before) == 0 && !S_ISREG(before.st_mode)) {
        error = S_ISDIR(before.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = errno;
        return false;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(file, &std::fclose);
    // A folder or a device opens but has no length to read.
    struct stat info {};
    if (fstat(fileno(file), &info) != 0) {
        error = errno;
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        error = EISDIR;
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = EINVAL;
        return false;
    }
    const size_t size = static_cast<size_t>(info.st_size);
    try {
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        error = ENOMEM;
        return false;
    }
    if (size > 0 && std::fread(bytes.data(), 1, size, file) != size) {
        error = std::ferror(file) ? errno : EIO;
        return false;
    }
    return true;
}

bool ParseSong(SongData& song, const uint8_t* data, size_t size) {
    SmfParser parser(song, StandardMidiBytes(data, size));
    return parser.Parse();
}

bool ReadMidiFile(SongData& song, const std::string& path) {
    std::vector<uint8_t> bytes;
    int error = 0;
    if (!ReadFileBytes(path, bytes, error)) {
        song.status = error == ENOMEM ? MidiOutOfMemory : MidiReadError;
        song.failureErrno = error;
        return false;
    }
    return ParseSong(song, bytes.data(), bytes.size());
}

std::string MidiLoadFailureText(const SongData& song) {
    char text[160];
    switch (song.status) {
        case MidiOk:
            return {};
        case MidiCutShort:
            std::snprintf(text, sizeof text, "Cut short at byte %lld",
                          static_cast<long long>(song.failureOffset));
            return text;
        case MidiDamaged:
            std::snprintf(text, sizeof text, "Damaged at byte %lld",
                          static_cast<long long>(song.failureOffset));
            return text;
        case MidiSmpteTiming:
            return "SMPTE timing is not supported";
        case MidiTooLong:
            std::snprintf(text, sizeof text, "Longer than 30 minutes (%.1f s)", song.duration);
            return text;
        case MidiOutOfMemory:
            return "Not enough memory to read it";
        case MidiReadError:
            return std::string("Cannot be read: ") + std::strerror(song.failureErrno);
        default:
            return "Not a MIDI file";
    }
}

std::string MidiLoadNoticeText(const SongData& song) {
    if (song.truncated == 0) return {};
    char text[160];
    std::snprintf(text, sizeof text, "Too large to show whole: the first %lld notes of %d voices are shown",
                  static_cast<long long>(kMaxSongNotes), kMaxParts);
    return text;
}

int MidiStatusStringId(int32_t status) {
    switch (status) {
        case MidiInvalidFile:
        case MidiCutShort:
        case MidiDamaged:
        case MidiSmpteTiming:
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
