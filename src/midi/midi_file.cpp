// Reading a MIDI file from its path: the whole of it for a caller that keeps its bytes, or a window
// at a time for one that needs only the song; and the bytes the synthesiser is given.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "core/file_access.h"
#include "core/memory_limit.h"
#include "midi/midi_reader.h"
#include "midi/track_merge.h"
#include "midi/track_reader.h"

namespace {

uint32_t LittleEndian32(const uint8_t* p) {
    return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | uint32_t{p[0]};
}

// Where the Standard MIDI File lies in a file of `size` bytes: the data chunk of a RIFF MIDI file,
// otherwise the whole. `copy(pos, n, out)` gives n bytes from pos, or false.
struct Region {
    size_t offset;
    size_t size;
};
template <typename Copy>
Region StandardMidiRegion(size_t size, Copy copy) {
    uint8_t head[12];
    if (size < 12 || !copy(0, 12, head) || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "RMID", 4) != 0) {
        return {0, size};
    }
    // RIFF chunks: a name, a little-endian length, the data padded to an even length.
    size_t pos = 12;
    while (pos <= size && size - pos >= 8) {
        uint8_t chunk[8];
        if (!copy(pos, 8, chunk)) break;
        const uint32_t length = LittleEndian32(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0) {
            const size_t start = pos + 8;
            return {start, std::min<size_t>(length, size - start)};
        }
        pos += 8 + static_cast<size_t>(length) + (length & 1u);
    }
    return {size, 0};  // a RIFF MIDI file without its MIDI data
}

}  // namespace

MidiBytes StandardMidiBytes(const uint8_t* data, size_t size) {
    const Region r = StandardMidiRegion(size, [&](size_t pos, size_t n, uint8_t* out) {
        std::memcpy(out, data + pos, n);
        return true;
    });
    return {data + r.offset, r.size, r.offset};
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
        if (!FindTrackChunk(d, n, pos, &skipped)) return whole;
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
    // The player takes at most 127 tracks: more are merged into that many.
    if (declared > kMaxPlayerTracks) return MergeTracks(skipped ? kept : whole, kMaxPlayerTracks);
    return skipped ? kept : whole;
}

int64_t SongMemoryNeeded(int64_t fileBytes, int64_t notes) {
    return fileBytes + notes * kSongBytesPerNote;
}

namespace {

// The file's bytes, or the system's error number of why not and the kind of failure it is. A file
// over the limit is refused with EFBIG, before any of it is read if it is over already.
struct BytesRead {
    int error = 0;
    FailureKind kind = FailureKind::None;
};

BytesRead ReadBytes(const std::string& path, std::vector<uint8_t>& bytes) {
    // The size is looked at before anything is read: a file too large is refused unread.
    const size_t largest =
        static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(kMaxMidiFileBytes), SongMemoryLimit()));
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && IsRegularFile(info) &&
        static_cast<uint64_t>(info.st_size) > largest) {
        return {EFBIG, FailureKind::SourceFormat};
    }
    errno = 0;
    const Failure failure = ReadRegularFile(path, largest, bytes);
    if (failure.Ok()) return {};
    // The failure's own words are replaced by the system's reason: what a song that cannot be
    // loaded says of itself is made from that reason alone.
    if (failure.kind == FailureKind::SourceFormat) return {EFBIG, failure.kind};  // it grew past the limit
    if (errno != 0) return {errno, failure.kind};
    return {stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? EISDIR : EINVAL, failure.kind};
}

}  // namespace

Failure ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes) {
    const BytesRead read = ReadBytes(path, bytes);
    if (read.error == 0) return Failure::None();
    return Failure::Because(read.kind, path + ": " + ErrnoText(read.error));
}

namespace {

// Leaves in `song` why the file could not be read: the system's error number `error` (EFBIG for
// a file over the limit, whose size `fileBytes` is given then).
bool ReadRefused(SongData& song, int error, int64_t fileBytes) {
    song.status = error == ENOMEM ? MidiOutOfMemory : error == EFBIG ? MidiTooLarge : MidiReadError;
    song.failureReason = ErrnoText(error);
    if (error == EFBIG) song.failureOffset = fileBytes;
    return false;
}

int64_t FileSizeOf(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : 0;
}

}  // namespace

bool ReadMidiFile(SongData& song, const std::string& path, std::vector<uint8_t>* read, TempoMap* tempo) {
    // A caller that needs only the song has the file read a window at a time.
    if (read == nullptr) return StreamMidiFile(song, path, kMidiWindowBytes, tempo);
    std::vector<uint8_t> bytes;
    if (const BytesRead refused = ReadBytes(path, bytes); refused.error != 0) {
        return ReadRefused(song, refused.error, refused.error == EFBIG ? FileSizeOf(path) : 0);
    }
    const bool usable = ParseSong(song, bytes.data(), bytes.size(), tempo);
    *read = std::move(bytes);
    return usable;
}

bool StreamMidiFile(SongData& song, const std::string& path, size_t windowBytes, TempoMap* tempo) {
    // Refused as ReadMidiFile refuses a file it would read whole, so that both ways of reading a
    // file take the same songs.
    const size_t largest =
        static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(kMaxMidiFileBytes), SongMemoryLimit()));
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && IsRegularFile(info) &&
        static_cast<uint64_t>(info.st_size) > largest) {
        return ReadRefused(song, EFBIG, static_cast<int64_t>(info.st_size));
    }
    // O_NONBLOCK: opening a pipe would otherwise wait for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return ReadRefused(song, errno, 0);
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    if (fstat(fd, &info) != 0) return ReadRefused(song, errno, 0);
    if (S_ISDIR(info.st_mode)) return ReadRefused(song, EISDIR, 0);
    if (!IsRegularFile(info)) return ReadRefused(song, EINVAL, 0);
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    if (size > largest) return ReadRefused(song, EFBIG, static_cast<int64_t>(size));

    FileRegion file{fd, 0, static_cast<size_t>(size), 0};
    const Region r = StandardMidiRegion(file.size, [&](size_t pos, size_t n, uint8_t* out) {
        return pread(fd, out, n, static_cast<off_t>(pos)) == static_cast<ssize_t>(n);
    });
    file.offset = r.offset;
    file.size = r.size;
    bool usable = ParseSongIn(song, file, windowBytes, tempo);
    // A file written to while it was read may have given its tracks' events from two versions:
    // what was read is no song.
    struct stat after {};
    if (fstat(fd, &after) != 0 || after.st_size != info.st_size ||
        after.st_mtim.tv_sec != info.st_mtim.tv_sec || after.st_mtim.tv_nsec != info.st_mtim.tv_nsec) {
        song.status = MidiReadError;
        song.failureReason = "the file changed while it was read";
        usable = false;
    }
    return usable;
}

bool SongHasNotes(const SongData& song) {
    if (song.percussionNotes > 0 || song.voicesLeftOut > 0 || song.notesLeftOut > 0) return true;
    for (int p = 0; p < std::clamp(song.partCount, 0, kMaxParts); ++p) {
        if (song.parts[p].noteCount > 0) return true;
    }
    return false;
}
