#include "midi/take.h"

#include <algorithm>
#include <bitset>

#include "platform/midi_input.h"

namespace {

constexpr uint8_t kSustainPedal = 64;
constexpr uint8_t kSostenutoPedal = 66;

// Whether `bytes` is one whole channel message: a status of 0x80 to 0xEF and as many data bytes as
// it takes, each below 0x80.
bool WholeChannelMessage(const uint8_t* bytes, size_t size) {
    if (bytes == nullptr || size == 0) return false;
    const size_t data = platform::ChannelDataBytes(bytes[0]);
    if (data == 0 || size != data + 1) return false;
    return std::all_of(bytes + 1, bytes + size, [](uint8_t b) { return b < 0x80; });
}

}  // namespace

bool Take::Add(double seconds, const uint8_t* bytes, size_t size) {
    if (!WholeChannelMessage(bytes, size) || messages_.size() >= kMaxTakeMessages) return false;
    TimedMidiMessage m;
    m.seconds = std::max(seconds > 0 ? seconds : 0.0, LastSeconds());
    m.size = static_cast<uint8_t>(size);
    std::copy(bytes, bytes + size, m.bytes);
    messages_.push_back(m);
    if ((bytes[0] & 0xF0) == 0x90 && bytes[2] > 0) ++notes_;
    return true;
}

bool Take::AddFromFirstKey(double clockSeconds, const uint8_t* bytes, size_t size) {
    if (firstKey_ >= 0) return Add(clockSeconds - firstKey_, bytes, size);
    if (!WholeChannelMessage(bytes, size)) return false;
    const uint8_t kind = bytes[0] & 0xF0;
    const bool keyDown = kind == 0x90 && bytes[2] > 0;
    if (!keyDown) {
        if (kind == 0x80 || kind == 0x90) return true;  // the end of a key struck before the take
        if (beforeFirstKey_.size() >= kMaxTakeMessages) return false;
        TimedMidiMessage m;
        m.size = static_cast<uint8_t>(size);
        std::copy(bytes, bytes + size, m.bytes);
        beforeFirstKey_.push_back(m);
        return true;
    }
    firstKey_ = clockSeconds;
    for (const TimedMidiMessage& m : beforeFirstKey_) (void)Add(0.0, m.bytes, m.size);
    beforeFirstKey_.clear();
    beforeFirstKey_.shrink_to_fit();
    return Add(0.0, bytes, size);
}

std::vector<uint8_t> Take::FileBytes(double endSeconds) const {
    // What is still down when the take ends, per channel.
    std::bitset<128> held[16];
    bool sustain[16] = {};
    bool sostenuto[16] = {};
    for (const TimedMidiMessage& m : messages_) {
        const int channel = m.bytes[0] & 0x0F;
        switch (m.bytes[0] & 0xF0) {
            case 0x90:
                held[channel][m.bytes[1]] = m.bytes[2] > 0;
                break;
            case 0x80:
                held[channel][m.bytes[1]] = false;
                break;
            case 0xB0:
                if (m.bytes[1] == kSustainPedal) sustain[channel] = m.bytes[2] >= 64;
                if (m.bytes[1] == kSostenutoPedal) sostenuto[channel] = m.bytes[2] >= 64;
                break;
            default:
                break;
        }
    }
    const double end = std::max(endSeconds, LastSeconds());
    std::vector<TimedMidiMessage> closed = messages_;
    for (int channel = 0; channel < 16; ++channel) {
        const auto status = [&](uint8_t kind) { return static_cast<uint8_t>(kind | channel); };
        for (int key = 0; key < 128; ++key) {
            if (held[channel][key]) closed.push_back({end, 3, {status(0x80), static_cast<uint8_t>(key), 0}});
        }
        if (sustain[channel]) closed.push_back({end, 3, {status(0xB0), kSustainPedal, 0}});
        if (sostenuto[channel]) closed.push_back({end, 3, {status(0xB0), kSostenutoPedal, 0}});
    }
    return MidiFileBytes(closed, end);
}
