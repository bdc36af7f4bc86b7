#include "midi/midi_writer.h"

#include <algorithm>
#include <cmath>

#include "core/file_access.h"
#include "platform/atomic_file.h"

namespace {

// The longest wait one delta time can say (four bytes of seven bits). A longer pause is bridged
// by empty text events, which every reader passes over.
constexpr uint64_t kMaxDelta = 0x0FFFFFFF;

void AppendVlq(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t groups[4];
    int count = 0;
    do {
        groups[count++] = value & 0x7F;
        value >>= 7;
    } while (value != 0);
    while (count > 1) out.push_back(groups[--count] | 0x80);
    out.push_back(groups[0]);
}

void AppendBigEndian(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

void AppendDelta(std::vector<uint8_t>& out, uint64_t delta) {
    while (delta > kMaxDelta) {
        AppendVlq(out, static_cast<uint32_t>(kMaxDelta));
        out.insert(out.end(), {0xFF, 0x01, 0x00});
        delta -= kMaxDelta;
    }
    AppendVlq(out, static_cast<uint32_t>(delta));
}

}  // namespace

uint64_t WriterTick(double seconds) {
    if (!(seconds > 0)) return 0;
    return static_cast<uint64_t>(std::llround(seconds * kWriterTicksPerSecond));
}

std::vector<uint8_t> MidiFileBytes(const std::vector<TimedMidiMessage>& messages, double endSeconds) {
    std::vector<uint8_t> track;
    track.reserve(16 + messages.size() * 5);
    // Tempo at tick 0, so that no reader has to assume one.
    track.insert(track.end(), {0x00, 0xFF, 0x51, 0x03});
    AppendBigEndian(track, kWriterMicrosPerQuarter, 3);
    uint64_t at = 0;
    for (const TimedMidiMessage& m : messages) {
        const uint64_t tick = std::max(at, WriterTick(m.seconds));
        AppendDelta(track, tick - at);
        at = tick;
        track.insert(track.end(), m.bytes, m.bytes + (m.size == 2 ? 2 : 3));
    }
    const uint64_t end = std::max(at, WriterTick(endSeconds));
    AppendDelta(track, end - at);
    track.insert(track.end(), {0xFF, 0x2F, 0x00});

    std::vector<uint8_t> file{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1};
    AppendBigEndian(file, kWriterTicksPerQuarter, 2);
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    AppendBigEndian(file, static_cast<uint32_t>(track.size()), 4);
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

Failure SaveMidiFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    platform::AtomicFile file;
    if (Failure opened = file.Open(path); !opened.Ok()) return opened;
    // A failed write leaves `file` to throw the unfinished file away.
    if (Failure written = WriteAll(file.Fd(), bytes.data(), bytes.size()); !written.Ok()) return written;
    return file.Commit();
}
