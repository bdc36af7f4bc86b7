// The reader works in two passes over the file. The first checks every declared track by the
// player's grammar and gathers what decides the song's shape: the tempo changes of all tracks, the
// notes each part will hold, the program changes, the track names, and whether the two-hand rule
// can take the file. The note store is then allocated once, and the second pass reads the note
// events of all tracks merged in the order the player sends them, timing them on the one tempo map.
#include "midi/midi_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "core/file_access.h"
#include "core/memory_limit.h"
#include "midi/hand_split.h"
#include "midi/merge_order.h"
#include "midi/merge_windows.h"
#include "midi/note_timeline.h"
#include "midi/song_tags.h"
#include "midi/track_reader.h"

namespace {

// The two-hand rule: channel 0 songs keep their hands in separate tracks, the n-th track that
// stores notes being taken as channel n; channel 2 lands in part 0 while reading and the parts are
// swapped at the end when it was used, so that channel 1 ends up first. -1: no hand takes it.
int HandOf(int channel, int32_t notedTracksBefore) {
    const int partChannel = channel == 0 ? notedTracksBefore : channel;
    const int part = partChannel == 2 ? 0 : partChannel;
    return part < 2 ? part : -1;
}

struct TrackInfo {
    size_t start;           // first event byte
    uint32_t length;        // stated length
    int64_t endTick;        // the tick its last event is at, where the player ends it
    uint8_t runningStatus;  // carried in from the track before
    int32_t notedBefore;    // tracks before it that give the hands a note
    bool hasNotes;          // any note event the synthesiser takes
    uint16_t noteChannels;  // the channels of its note events, one bit each
    int32_t voiceOf[16];    // the voice of each channel, -1 for none
    bool named;             // its first track name was read into `name`
    std::string name;       // as a part shows it (see CopyTrackName)
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

// The most a window on a file holds: a larger one reads no faster (measured on a 16-track song of
// 20 M notes, 64 KB against 256 KB), and takes memory the notes could have.
constexpr size_t kMostWindow = size_t{64} << 10;

class SmfParser {
  public:
    SmfParser(SongData& song, MidiBytes bytes) : song_(song), builder_(song), in_(bytes) {}
    // Reads the file's region through windows of `windowBytes` in all.
    SmfParser(SongData& song, FileRegion& file, size_t windowBytes)
        : song_(song),
          builder_(song),
          in_{nullptr, file.size, file.offset},
          file_(&file),
          windowBytes_(windowBytes) {}

    bool Parse();
    [[nodiscard]] const TempoMap& Tempo() const { return tempoMap_; }

  private:
    bool Fail(MidiStatus status, size_t offset = 0) {
        song_.status = status;
        song_.failureOffset = static_cast<int64_t>(in_.offset + offset);
        return false;
    }
    // Copies `n` bytes from `pos` of the data into `out`; false when they cannot be had.
    bool CopyAt(size_t pos, size_t n, uint8_t* out);
    // A reader of the track at `start`, through `window` when the data is read from a file.
    TrackReader ReaderAt(size_t start, uint32_t length, uint8_t runningStatus, uint8_t* window,
                         size_t capacity);
    bool ParseAll();
    bool ReadHeader();
    bool ScanTracks();
    bool ScanTrack(int32_t index, size_t start, uint32_t length, size_t capacity, size_t& next);
    // Takes a program change or meta event of the track being scanned; false when a name that
    // ends at `position` could not be fetched.
    [[gnu::noinline]] bool ScanOther(const MidiEvent& e, int32_t index, TrackInfo& t, size_t position);
    bool LayOutParts();
    // Records the voices past the first `kept` of `order` and the tracks they come from.
    void NoteVoicesLeftOut(const std::vector<int32_t>& order, size_t kept);
    // Walks the note events of all tracks in playing order. Counting: only the notes each part
    // keeps under the song's limit, into `counts`. Otherwise the notes are stored.
    template <bool kCounting>
    void Merge(std::vector<int64_t>& counts);
    // Gives each part that keeps a note the track, channel, program and name of its first note.
    void StartParts(const std::vector<int64_t>& counts);

    // One track's place in the merge: its next event and the part each channel's notes go to.
    struct Cursor {
        TrackReader reader;
        MidiEvent event;
        int32_t track;
        bool stored;       // a note of this track was stored (or, without a cap, will be)
        float endSeconds;  // when the track ends
        int32_t partOf[16];
    };
    // A cursor on its first event for every track with notes.
    std::vector<Cursor> MergeCursors();
    using RunOrder = MergeOrder<Cursor>;
    using Windows = MergeWindows<Cursor>;
    // Takes the notes of a merge: the runs of a few tracks in `order`, or the notes of many as
    // `windows` give them. One call takes them all, so that what each note updates stays in
    // registers however short the runs are.
    // Capped: the song holds more notes than it keeps, and each note is counted against the limit.
    template <bool kCounting, bool kCapped>
    void Run(RunOrder* order, Windows* windows, std::vector<int64_t>& counts);
    // Merges the cursors of some tracks, in track order, from the start of the song.
    template <bool kCounting, bool kCapped>
    void MergeRuns(std::vector<Cursor>& cursors, std::vector<int64_t>& counts);

    SongData& song_;
    SongBuilder builder_;
    MidiBytes in_;  // the data, null when it is read from file_
    FileRegion* file_ = nullptr;
    size_t windowBytes_ = 0;
    std::unique_ptr<uint8_t[]> windows_;  // the readers' windows on file_
    std::vector<int64_t> counts_;         // the notes each part was laid out for
    bool changed_ = false;                // the file gave other notes on its second reading
    int32_t division_ = 0;
    uint32_t declaredTracks_ = 0;
    uint8_t runningStatus_ = 0;
    int32_t notedTracks_ = 0;
    std::vector<TrackInfo> tracks_;
    std::vector<TempoChange> tempo_;
    std::vector<MeterChange> meters_;
    std::vector<ProgramChange> programs_;
    std::vector<VoiceInfo> voices_;
    std::vector<int32_t> partOfVoice_;
    bool handsFit_ = true;
    bool channel0Seen_ = false;
    bool channel2Seen_ = false;
    int64_t handNotes_[2] = {};
    TempoMap tempoMap_;

    // The merge's state.
    TempoMap::Walker clock_{tempoMap_};
    int64_t stored_ = 0;  // notes stored so far
};

bool SmfParser::CopyAt(size_t pos, size_t n, uint8_t* out) {
    if (pos > in_.size || in_.size - pos < n) return false;
    if (file_ == nullptr) {
        if (n > 0) std::memcpy(out, in_.data + pos, n);
        return true;
    }
    for (size_t got = 0; got < n;) {
        const ssize_t r = pread(file_->fd, out + got, n - got, static_cast<off_t>(file_->offset + pos + got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            if (file_->error == 0) file_->error = r < 0 ? errno : kFileShrank;
            return false;
        }
        got += static_cast<size_t>(r);
    }
    return true;
}

TrackReader SmfParser::ReaderAt(size_t start, uint32_t length, uint8_t runningStatus, uint8_t* window,
                                size_t capacity) {
    if (file_ == nullptr) return TrackReader(in_.data, in_.size, start, length, runningStatus);
    return TrackReader(*file_, window, capacity, start, length, runningStatus);
}

bool SmfParser::ReadHeader() {
    uint8_t d[14];
    if (!CopyAt(0, std::min<size_t>(in_.size, sizeof d), d)) return Fail(MidiInvalidFile);
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
    const size_t n = in_.size;
    // The tracks are scanned one after another, through one window.
    const size_t capacity = std::clamp(windowBytes_, TrackReader::kLeastWindow, kMostWindow);
    if (file_ != nullptr) windows_.reset(new uint8_t[capacity]);
    // Exactly the declared number of track chunks is read, as the player does; chunks of other
    // kinds between them are skipped, and whatever follows the last track is not read.
    for (uint32_t i = 0; i < declaredTracks_; ++i) {
        for (;;) {
            uint8_t d[8];
            if (pos > n || n - pos < 8) return Fail(MidiCutShort, n);
            if (!CopyAt(pos, 8, d)) return Fail(MidiCutShort, n);
            // A chunk name is four printable letters; the player stops reading it at a NUL.
            for (int k = 0; k < 4 && d[k] != 0; ++k) {
                if (d[k] & 0x80) return Fail(MidiDamaged, pos);
            }
            const uint32_t length = BigEndian32(d + 4);
            if (length > 0x7FFFFFFFu) return Fail(MidiDamaged, pos);
            if (std::memcmp(d, "MTrk", 4) == 0) {
                size_t next;
                if (!ScanTrack(static_cast<int32_t>(i), pos + 8, length, capacity, next)) return false;
                pos = next;
                break;
            }
            pos += 8 + static_cast<size_t>(length);
        }
    }
    windows_.reset();
    return true;
}

bool SmfParser::ScanTrack(int32_t index, size_t start, uint32_t length, size_t capacity, size_t& next) {
    TrackInfo t{};
    t.start = start;
    t.length = length;
    t.runningStatus = runningStatus_;
    t.notedBefore = notedTracks_;
    std::fill(std::begin(t.voiceOf), std::end(t.voiceOf), -1);
    TrackReader reader = ReaderAt(start, length, runningStatus_, windows_.get(), capacity);
    MidiEvent e{};
    // The track's note events are tallied by class: note-off or note-on, channel, and whether the
    // velocity is one a note sounds at (1..127); what the track adds up to is worked out after it.
    // A note event of no key (above 127) is one the synthesiser refuses, and is not tallied.
    constexpr unsigned kOn = 32;  // the first note-on class: (status - 0x80) * 2 + sounding
    int64_t tally[64] = {};
    uint64_t tallied = 0;  // the classes with a count, one bit each
    int64_t firstTick[16];
    size_t firstOffset[16];
    // The two-hand rule's channel test looks at every note-on, of any velocity: channel 2 must not
    // come after channel 0 anywhere in the file; within the track, more channel 2 note-ons than
    // there were when channel 0 first struck.
    const bool zeroBefore = channel0Seen_;
    int64_t twoBeforeZero = 0;
    auto first = [&](unsigned cls, int64_t tick, size_t offset) __attribute__((noinline)) {
        if (cls >= kOn && (cls & 1u) != 0) {
            firstTick[(cls - kOn) >> 1] = tick;
            firstOffset[(cls - kOn) >> 1] = offset;
        }
        if ((cls == kOn || cls == kOn + 1) && tally[kOn] + tally[kOn + 1] == 1)
            twoBeforeZero = tally[kOn + 4] + tally[kOn + 5];
    };
    // Note events are most of a track and are tallied here; the rest are left to the loop below,
    // so that the walk's event never has to be in memory.
    auto take = [&](const MidiEvent& n) __attribute__((always_inline)) {
        const unsigned status = n.status;
        if (status < 0xA0) {
            if (n.data1 < 128) {
                const unsigned cls = ((status - 0x80) << 1) | (n.data2 - 1u < 127u ? 1u : 0u);
                ++tally[cls];
                if (((tallied >> cls) & 1u) == 0) {
                    tallied |= uint64_t{1} << cls;
                    first(cls, n.tick, n.offset);
                }
            }
            return true;
        }
        return (status & 0xF0) != 0xC0 && status != 0xFF;
    };
    TrackStep step;
    while ((step = reader.Walk<true>(e, INT64_MAX, take)) == TrackStep::Event) {
        // Only a name that could not be fetched stops the walk before the track is over.
        if (!ScanOther(e, index, t, reader.Position())) return Fail(MidiCutShort, in_.size);
    }
    int64_t notes[16];
    unsigned channelsOn = 0;   // channels with a note-on of a key, of any velocity
    unsigned channelsOff = 0;  // channels with a note-off of a key
    for (unsigned channel = 0; channel < 16; ++channel) {
        notes[channel] = tally[kOn + 2 * channel + 1];  // note-ons of a key at velocity 1..127
        if (tally[kOn + 2 * channel] + tally[kOn + 2 * channel + 1] > 0) channelsOn |= 1u << channel;
        if (tally[2 * channel] + tally[2 * channel + 1] > 0) channelsOff |= 1u << channel;
    }
    const int64_t twos = tally[kOn + 4] + tally[kOn + 5];
    const bool twoAfterZero = zeroBefore ? twos > 0 : (channelsOn & 1u) != 0 && twos > twoBeforeZero;
    song_.percussionNotes += static_cast<int32_t>(notes[kPercussionChannel]);
    if (step == TrackStep::CutShort) return Fail(MidiCutShort, in_.size);
    if (step == TrackStep::Damaged) return Fail(MidiDamaged, e.offset);
    t.endTick = reader.Tick();

    channel0Seen_ = zeroBefore || (channelsOn & 1u) != 0;
    if (twoAfterZero || (channelsOn & ~0x7u) != 0) handsFit_ = false;
    if (channelsOn & 0x4u) channel2Seen_ = true;
    t.hasNotes = (channelsOn | channelsOff) != 0;
    t.noteChannels = static_cast<uint16_t>(channelsOn | channelsOff);
    bool gaveHand = false;
    for (int channel = 0; channel < 16; ++channel) {
        if (notes[channel] == 0 || channel == kPercussionChannel) continue;
        t.voiceOf[channel] = static_cast<int32_t>(voices_.size());
        voices_.push_back({index, channel, firstTick[channel], firstOffset[channel], notes[channel]});
        const int hand = HandOf(channel, t.notedBefore);
        if (hand < 0) {
            handsFit_ = false;  // the two-hand rule would drop these notes
        } else {
            handNotes_[hand] += notes[channel];
            gaveHand = true;
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

bool SmfParser::ScanOther(const MidiEvent& e, int32_t index, TrackInfo& t, size_t position) {
    if (e.status != 0xFF) {
        // Only the low seven bits of a data byte carry its value; a byte with the top bit set
        // would otherwise give a program no instrument has.
        programs_.push_back({e.tick, index, e.offset, static_cast<uint8_t>(e.status & 0x0F),
                             static_cast<uint8_t>(e.data1 & 0x7F)});
        return true;
    }
    if (e.data1 == 0x03 && !t.named) {
        t.named = true;
        // A name longer than the window was passed over; it is fetched on its own.
        std::vector<uint8_t> whole;
        const uint8_t* text = e.meta;
        if (text == nullptr) {
            whole.resize(e.metaLength);
            if (!CopyAt(position - e.metaLength, e.metaLength, whole.data())) return false;
            text = whole.data();
        }
        char name[kPartNameBytes];
        CopyTrackName(text, e.metaLength, name);
        t.name = name;
    }
    // A tempo or time signature always fits a window, so its data is missing only when the file
    // could not give it: that read is on record and fails the song, and there is nothing to take.
    if (e.meta == nullptr) return true;
    if (e.data1 == 0x51) {
        tempo_.push_back({e.tick, (uint32_t{e.meta[0]} << 16) | (uint32_t{e.meta[1]} << 8) | e.meta[2]});
    } else if (e.data1 == 0x58) {
        meters_.push_back({e.tick, e.meta[0], e.meta[1]});
    }
    return true;
}

bool SmfParser::LayOutParts() {
    std::vector<int64_t>& counts = counts_;
    if (handsFit_) {
        song_.reading = ReadingHands;
        song_.partCount = 2;
        counts = {handNotes_[0], handNotes_[1]};
    } else {
        song_.reading = ReadingVoices;
        song_.handRule = HandsNone;
        std::vector<int32_t> order(voices_.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int32_t>(i);
        std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
            const VoiceInfo &x = voices_[a], &y = voices_[b];
            return Before(x.firstTick, x.track, x.firstOffset, y.firstTick, y.track, y.firstOffset);
        });
        partOfVoice_.assign(voices_.size(), -1);
        const size_t kept = std::min<size_t>(order.size(), kMaxParts);
        if (kept < order.size()) {
            song_.truncated = 1;
            NoteVoicesLeftOut(order, kept);
        }
        for (size_t p = 0; p < kept; ++p) {
            partOfVoice_[order[p]] = static_cast<int32_t>(p);
            counts.push_back(voices_[order[p]].notes);
        }
        song_.partCount = static_cast<int32_t>(kept);
    }
    int64_t total = 0;
    for (int64_t c : counts) total += c;
    // Refused before any note is stored: what the song would take is known from the count.
    if (SongMemoryNeeded(static_cast<int64_t>(in_.offset + in_.size), total) > SongMemoryLimit()) {
        song_.notesFound = total;
        return Fail(MidiTooLarge, in_.size);
    }
    if (total > kMaxSongNotes) {
        song_.truncated = 1;
        Merge<true>(counts);
        int64_t keptNotes = 0;
        for (int64_t c : counts) keptNotes += c;
        song_.notesLeftOut = total - keptNotes;
    }
    for (int p = 0; p < song_.partCount; ++p) {
        song_.parts[p].track = -1;
        song_.parts[p].channel = -1;
        song_.parts[p].program = -1;
        song_.parts[p].colour = p;
    }
    if (!builder_.AllocateParts(counts, song_.reading == ReadingVoices)) return Fail(MidiOutOfMemory);
    StartParts(counts);
    return true;
}

void SmfParser::NoteVoicesLeftOut(const std::vector<int32_t>& order, size_t kept) {
    song_.voicesLeftOut = static_cast<int32_t>(order.size() - kept);
    std::vector<int32_t> tracks;
    for (size_t v = kept; v < order.size(); ++v)
        tracks.push_back(voices_[static_cast<size_t>(order[v])].track);
    std::sort(tracks.begin(), tracks.end());
    tracks.erase(std::unique(tracks.begin(), tracks.end()), tracks.end());
    song_.tracksLeftOutCount = static_cast<int32_t>(tracks.size());
    for (size_t i = 0; i < tracks.size() && i < static_cast<size_t>(kMaxListedTracks); ++i)
        song_.tracksLeftOut[i] = tracks[i];
}

void SmfParser::StartParts(const std::vector<int64_t>& counts) {
    // A part's first note is the first note of its voices: the notes left out past the song's
    // limit are the last ones, so a part that keeps any note keeps that one.
    struct First {
        int64_t tick;
        int32_t track;
        size_t offset;
        int32_t channel;
        int32_t part;
    };
    std::vector<First> firsts(static_cast<size_t>(song_.partCount), First{0, 0, 0, 0, -1});
    for (size_t v = 0; v < voices_.size(); ++v) {
        const VoiceInfo& voice = voices_[v];
        const int part = song_.reading == ReadingHands
                             ? HandOf(voice.channel, tracks_[static_cast<size_t>(voice.track)].notedBefore)
                             : partOfVoice_[v];
        if (part < 0 || counts[static_cast<size_t>(part)] == 0) continue;
        First& f = firsts[static_cast<size_t>(part)];
        if (f.part < 0 ||
            Before(voice.firstTick, voice.track, voice.firstOffset, f.tick, f.track, f.offset)) {
            f = {voice.firstTick, voice.track, voice.firstOffset, voice.channel, part};
        }
    }
    firsts.erase(std::remove_if(firsts.begin(), firsts.end(), [](const First& f) { return f.part < 0; }),
                 firsts.end());
    auto before = [](const auto& a, const auto& b) {
        return Before(a.tick, a.track, a.offset, b.tick, b.track, b.offset);
    };
    std::sort(firsts.begin(), firsts.end(), before);
    // The program each first note's channel has: the last change the player sends before it.
    std::sort(programs_.begin(), programs_.end(), before);
    int program[16];
    std::fill(std::begin(program), std::end(program), -1);
    size_t next = 0;
    for (const First& f : firsts) {
        for (; next < programs_.size() && before(programs_[next], f); ++next) {
            program[programs_[next].channel] = programs_[next].program;
        }
        SongPart& p = song_.parts[f.part];
        p.track = f.track;
        p.channel = f.channel;
        p.program = program[f.channel];
        const std::string& name = tracks_[static_cast<size_t>(f.track)].name;
        std::memcpy(p.name, name.c_str(), name.size() + 1);
    }
}

std::vector<SmfParser::Cursor> SmfParser::MergeCursors() {
    std::vector<Cursor> cursors;
    // Each track read from a file has a window of its own, their share of the windows' memory.
    const size_t merged = static_cast<size_t>(
        std::count_if(tracks_.begin(), tracks_.end(), [](const TrackInfo& t) { return t.hasNotes; }));
    const size_t capacity =
        std::clamp(windowBytes_ / std::max<size_t>(merged, 1), TrackReader::kLeastWindow, kMostWindow);
    windows_.reset();
    if (file_ != nullptr) windows_.reset(new uint8_t[capacity * std::max<size_t>(merged, 1)]);
    for (size_t i = 0; i < tracks_.size(); ++i) {
        const TrackInfo& t = tracks_[i];
        if (!t.hasNotes) continue;
        uint8_t* window = file_ != nullptr ? windows_.get() + capacity * cursors.size() : nullptr;
        Cursor c{ReaderAt(t.start, t.length, t.runningStatus, window, capacity),
                 {},
                 static_cast<int32_t>(i),
                 false,
                 static_cast<float>(tempoMap_.Seconds(t.endTick)),
                 {}};
        for (int ch = 0; ch < 16; ++ch) {
            if (song_.reading == ReadingHands) {
                c.partOf[ch] = ch <= 2 ? HandOf(ch, t.notedBefore) : -1;
            } else {
                c.partOf[ch] = t.voiceOf[ch] >= 0 ? partOfVoice_[static_cast<size_t>(t.voiceOf[ch])] : -1;
            }
            // A channel with a voice has a note that sounds; a part keeps it unless the song's cap
            // leaves it out, in which case the merge finds out note by note.
            if (t.voiceOf[ch] >= 0 && c.partOf[ch] >= 0) c.stored = true;
        }
        if (c.reader.Next(c.event) == TrackStep::Event) cursors.push_back(c);
    }
    return cursors;
}

template <bool kCounting, bool kCapped>
void SmfParser::Run(RunOrder* order, Windows* windows, std::vector<int64_t>& counts) {
    Cursor* c = nullptr;  // the cursor whose events are being taken
    // Local copies of what each event updates, which the compiler can keep in registers.
    TempoMap::Walker clock = clock_;
    int64_t stored = stored_;
    bool storedAny = false;
    float latestEnd = 0.0f;
    NoteRecord** const lastOfKey = builder_.LastOfKey();
    // Events often share a tick (a chord, a note let go as the next strikes): its time is kept.
    int64_t tickTimed = INT64_MIN;
    float tickSeconds = 0.0f;
    auto seconds = [&](int64_t tick) {
        if (tick != tickTimed) {
            tickTimed = tick;
            tickSeconds = clock.SecondsOnward(tick);  // the merge gives the ticks in order
        }
        return tickSeconds;
    };
    auto take = [&](const MidiEvent& n) __attribute__((always_inline)) {
        // Every status here is at least 0x80: below 0xA0 are the note-offs and note-ons.
        const unsigned status = n.status;
        if (status < 0xA0 && n.data1 < 128) {
            const int channel = static_cast<int>(status & 0x0F);
            if (status >= 0x90 && n.data2 - 1u < 127u) {
                int part = c->partOf[channel];
                if (kCapped && part >= 0) {
                    if (stored < kMaxSongNotes) {
                        ++stored;
                    } else {
                        part = -1;
                    }
                }
                if (kCounting) {
                    if (part >= 0) ++counts[static_cast<size_t>(part)];
                } else {
                    if (kCapped) storedAny |= part >= 0;  // otherwise known from the first pass
                    builder_.NoteOn(channel, n.data1, n.data2, seconds(n.tick), part, c->endSeconds,
                                    latestEnd, lastOfKey);
                }
            } else if (status < 0x90 || n.data2 == 0) {  // a note-on above 127 is no event at all
                if (!kCounting) builder_.NoteOff(channel, n.data1, seconds(n.tick), latestEnd);
            }
        }
        return true;
    };
    if (windows != nullptr) {
        MidiEvent e{};
        while (windows->Fill()) {
            const int64_t base = windows->Base();
            for (const Windows::Note& n : windows->Notes()) {
                c = &windows->CursorOf(n);
                e.tick = base + n.tick;
                e.status = n.status;
                e.data1 = n.data1;
                e.data2 = n.data2;
                take(e);
                if (storedAny) c->stored = true;
                storedAny = false;
            }
        }
    }
    RunOrder::Start run = order != nullptr ? order->First() : RunOrder::Start{nullptr, 0};
    c = run.cursor;
    int64_t lastTick = run.lastTick;
    while (c != nullptr) {
        // The cursor's event comes first; the reader then takes the run on from its track.
        MidiEvent& e = c->event;
        take(e);
        bool more;
        if (lastTick == INT64_MAX) {
            // A track read to its end, as one that shares its channels with no other track is.
            more = c->reader.Walk(e, lastTick, take) == TrackStep::Event;
        } else {
            // A run up to another track's next event is often an event or two long, as tracks that
            // take turns give: the walk's setting up would cost more than it saves.
            while ((more = c->reader.Next(e) == TrackStep::Event) && e.tick <= lastTick) take(e);
        }
        if (storedAny) c->stored = true;
        storedAny = false;
        run = order->Next(c, more);
        c = run.cursor;
        lastTick = run.lastTick;
    }
    clock_ = clock;
    stored_ = stored;
    if (!kCounting) builder_.TakeLatestEnd(latestEnd);
}

template <bool kCounting>
void SmfParser::Merge(std::vector<int64_t>& counts) {
    std::vector<Cursor> cursors = MergeCursors();
    if (kCounting) std::fill(counts.begin(), counts.end(), 0);
    stored_ = 0;
    clock_ = TempoMap::Walker(tempoMap_);
    auto storedTracks = [](const std::vector<Cursor>& m) {
        return static_cast<int32_t>(
            std::count_if(m.begin(), m.end(), [](const Cursor& c) { return c.stored; }));
    };
    // Only a song with more notes than it keeps counts each note against the limit, as the count
    // that finds how many each part keeps does (so a count is always capped).
    //
    // A note event touches only what its own channel sounds, and a voice's notes come from one track
    // and channel. So when every note is kept and the parts are voices, tracks that share no channel
    // never meet: each set of tracks joined by their channels is merged on its own, and a track
    // whose channels no other track uses is read straight through, with no merging at all. A hand
    // gathers notes of several channels, so the hands take the one merge of all tracks.
    if (kCounting || song_.notesLeftOut != 0) {
        for (Cursor& c : cursors) c.stored = false;
        MergeRuns<kCounting, true>(cursors, counts);
        if (!kCounting) song_.noteTracks = storedTracks(cursors);
    } else if (song_.reading != ReadingVoices || cursors.size() < 2) {
        MergeRuns<kCounting, kCounting>(cursors, counts);
        if (!kCounting) song_.noteTracks = storedTracks(cursors);
    } else {
        song_.noteTracks = 0;
        // The channels joined by the tracks that use them together, each named by its lowest.
        int joined[16];
        for (int ch = 0; ch < 16; ++ch) joined[ch] = ch;
        auto root = [&](int ch) {
            while (joined[ch] != ch) ch = joined[ch];
            return ch;
        };
        auto lowest = [](unsigned mask) { return mask == 0 ? 0 : __builtin_ctz(mask); };
        for (const Cursor& c : cursors) {
            const unsigned mask = tracks_[static_cast<size_t>(c.track)].noteChannels;
            for (int ch = 0; ch < 16; ++ch) {
                if ((mask >> ch) & 1u) {
                    const int a = root(ch), b = root(lowest(mask));
                    joined[std::max(a, b)] = std::min(a, b);
                }
            }
        }
        std::vector<Cursor> group;
        group.reserve(cursors.size());
        for (int g = 0; g < 16; ++g) {
            if (root(g) != g) continue;
            group.clear();
            for (const Cursor& c : cursors) {
                if (root(lowest(tracks_[static_cast<size_t>(c.track)].noteChannels)) == g) group.push_back(c);
            }
            if (group.empty()) continue;
            clock_ = TempoMap::Walker(tempoMap_);  // each group starts from the song's start
            MergeRuns<kCounting, kCounting>(group, counts);
            song_.noteTracks += storedTracks(group);
        }
    }
}

template <bool kCounting, bool kCapped>
void SmfParser::MergeRuns(std::vector<Cursor>& cursors, std::vector<int64_t>& counts) {
    if (cursors.empty()) return;
    // Many tracks are merged a window of ticks at a time, a few run by run.
    if (cursors.size() > RunOrder::kMost) {
        Windows windows(cursors);
        Run<kCounting, kCapped>(nullptr, &windows, counts);
    } else {
        RunOrder order(cursors);
        Run<kCounting, kCapped>(&order, nullptr, counts);
    }
}

bool SmfParser::Parse() {
    const bool usable = ParseAll();
    windows_.reset();
    if (file_ == nullptr) return usable;
    // Reading a file: a read that failed is why, whatever it left the parse to find; and a track
    // that gave other notes the second time than the first was changed in between.
    if (file_->error == 0 && !changed_) return usable;
    song_.status = MidiReadError;
    song_.failureReason = file_->error > 0    ? ErrnoText(file_->error)
                          : file_->error != 0 ? "the file shrank while it was read"
                                              : "the file changed while it was read";
    return false;
}

bool SmfParser::ParseAll() {
    song_.duration = 0.0;
    if (!ReadHeader() || !ScanTracks()) return false;
    tempoMap_.Build(division_, std::move(tempo_));
    tempoMap_.SetMeters(std::move(meters_));
    if (!LayOutParts()) return false;
    std::vector<int64_t> unused;
    Merge<false>(unused);
    builder_.CountParts();
    for (int p = 0; file_ != nullptr && p < song_.partCount; ++p) {
        changed_ |= song_.parts[p].noteCount != counts_[static_cast<size_t>(p)];
    }
    builder_.Finish(tempoMap_, division_, song_.reading == ReadingHands && channel2Seen_);
    // One voice read as hands: the file gives its hands no tracks or channels of their own.
    if (voices_.size() == 1 && SplitOneHandByPitch(song_)) song_.handRule = HandsByPitch;
    if (song_.duration > kMaxSongSeconds) return Fail(MidiTooLong);
    song_.status = MidiOk;
    return true;
}

}  // namespace

bool ParseSong(SongData& song, const uint8_t* data, size_t size, TempoMap* tempo) {
    SmfParser parser(song, StandardMidiBytes(data, size));
    const bool usable = parser.Parse();
    if (tempo != nullptr) *tempo = parser.Tempo();
    return usable;
}

bool ParseSongIn(SongData& song, FileRegion& region, size_t windowBytes, TempoMap* tempo) {
    SmfParser parser(song, region, windowBytes);
    const bool usable = parser.Parse();
    if (tempo != nullptr) *tempo = parser.Tempo();
    return usable;
}
