#include "midi/song_tags.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "midi/midi_reader.h"
#include "midi/track_reader.h"

namespace {

constexpr uint8_t kTextMeta = 0x01;
constexpr uint8_t kCopyrightMeta = 0x02;
constexpr uint8_t kTrackNameMeta = 0x03;

// The bytes of one UTF-8 character starting with `lead`; 0 when it cannot start one.
size_t Utf8Length(uint8_t lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead < 0xE0) return 2;
    if (lead >= 0xE0 && lead < 0xF0) return 3;
    if (lead >= 0xF0 && lead < 0xF5) return 4;
    return 0;
}

bool IsUtf8(const uint8_t* text, size_t length) {
    for (size_t i = 0; i < length;) {
        const size_t n = Utf8Length(text[i]);
        if (n == 0 || n > length - i) return false;
        for (size_t k = 1; k < n; ++k) {
            if ((text[i + k] & 0xC0) != 0x80) return false;
        }
        i += n;
    }
    return true;
}

// The name after one of the words that credit a composer, at the start of a text event; "" when
// the text credits nobody. "Composer: Erik Satie" and "Music by Erik Satie" both give the name.
std::string ComposerOf(const std::string& text) {
    static constexpr std::string_view kCredits[] = {"composer:", "composed by ", "music by "};
    for (const std::string_view credit : kCredits) {
        if (text.size() <= credit.size()) continue;
        bool same = true;
        for (size_t i = 0; i < credit.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(text[i])) == credit[i];
        if (!same) continue;
        const size_t start = text.find_first_not_of(' ', credit.size());
        return start == std::string::npos ? std::string() : text.substr(start);
    }
    return {};
}

}  // namespace

std::string MidiTextAsUtf8(const uint8_t* text, size_t length) {
    const bool utf8 = IsUtf8(text, length);
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length;) {
        const uint8_t c = text[i];
        if (c < 0x80) {
            out.push_back(static_cast<char>(c < 0x20 || c == 0x7F ? ' ' : c));
            ++i;
        } else if (utf8) {
            const size_t n = Utf8Length(c);
            out.append(reinterpret_cast<const char*>(text + i), n);
            i += n;
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
            ++i;
        }
    }
    const size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

MidiTags ReadMidiTags(const uint8_t* data, size_t size) {
    MidiTags tags;
    const MidiBytes in = StandardMidiBytes(data, size);
    if (in.size < 14 || std::memcmp(in.data, "MThd", 4) != 0) return tags;
    // Chunks: a name, a big-endian length, the data. Only track chunks are read; others are passed.
    uint64_t pos = 8 + uint64_t{BigEndian32(in.data + 4)};
    bool first = true;
    uint8_t runningStatus = 0;
    while (pos + 8 <= in.size) {
        const uint32_t length = BigEndian32(in.data + pos + 4);
        const size_t start = static_cast<size_t>(pos + 8);
        if (std::memcmp(in.data + pos, "MTrk", 4) != 0) {
            pos = start + uint64_t{length};
            continue;
        }
        TrackReader reader(in.data, in.size, start, length, runningStatus);
        MidiEvent e{};
        TrackStep step;
        while ((step = reader.Next(e)) == TrackStep::Event) {
            if (e.status != 0xFF) continue;
            if (e.data1 == kTrackNameMeta && first && tags.title.empty()) {
                tags.title = MidiTextAsUtf8(e.meta, e.metaLength);
            } else if (e.data1 == kCopyrightMeta && tags.copyright.empty()) {
                tags.copyright = MidiTextAsUtf8(e.meta, e.metaLength);
            } else if (e.data1 == kTextMeta && tags.composer.empty()) {
                tags.composer = ComposerOf(MidiTextAsUtf8(e.meta, e.metaLength));
            }
        }
        if (step != TrackStep::End) break;  // what follows damage cannot be trusted to be events
        // The first track names the song; a name given to a later track names that track's part.
        first = false;
        runningStatus = reader.RunningStatus();
        // A track whose last event ran past its stated length goes on straight after that event,
        // as the synthesiser reads it.
        pos = std::max<uint64_t>(start + uint64_t{length}, reader.Position());
    }
    return tags;
}

void CopyTrackName(const uint8_t* text, uint32_t length, char (&out)[kPartNameBytes]) {
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
