#include "midi/lyrics.h"

#include <algorithm>
#include <cstring>

#include "midi/midi_reader.h"
#include "midi/note_timeline.h"
#include "midi/track_reader.h"

namespace {

constexpr uint8_t kTextEvent = 0x01;
constexpr uint8_t kLyricEvent = 0x05;
// The most words kept: far beyond any song's, so that a file made of nothing but text events
// cannot make the reader hold more than a few megabytes of it.
constexpr size_t kMostEvents = 65536;

struct RawWord {
    int64_t tick;
    int32_t track;
    size_t order;  // the order read, to keep a track's words in file order at one tick
    std::string bytes;
};

uint32_t Big32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

bool ValidUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t extra = 0;
        uint32_t code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (s.size() - i <= extra) return false;
        for (size_t k = 1; k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            code = (code << 6) | (d & 0x3F);
        }
        // Overlong forms, surrogates and code points past Unicode are not UTF-8 a program writes.
        const uint32_t least[4] = {0, 0x80, 0x800, 0x10000};
        if (code < least[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

std::string Latin1ToUtf8(const std::string& s) {
    std::string out;
    out.reserve(s.size() * 2);
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// A control character other than the line marks says nothing to a reader: it is dropped.
std::string Printable(const std::string& s) {
    std::string out;
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c != 0x7F) out += ch;
    }
    return out;
}

}  // namespace

std::string SongLyrics::LineText(size_t line) const {
    std::string text;
    if (line >= lines.size()) return text;
    for (size_t i = 0; i < lines[line].count; ++i) text += syllables[lines[line].first + i].text;
    return text;
}

LyricPlace SongLyrics::PlaceAt(double seconds) const {
    LyricPlace place;
    if (lines.empty()) return place;
    const auto begun = std::upper_bound(syllables.begin(), syllables.end(), seconds,
                                        [](double t, const LyricSyllable& s) { return t < s.seconds; });
    if (begun == syllables.begin()) {
        place.line = 0;
        return place;
    }
    const size_t last = static_cast<size_t>(begun - syllables.begin()) - 1;
    size_t line = 0;
    while (line + 1 < lines.size() && lines[line + 1].first <= last) ++line;
    const LyricLine& current = lines[line];
    const size_t sung = last - current.first + 1;
    if (sung == current.count && line + 1 < lines.size()) {
        // The line is sung through: the next is shown once it is nearer than the last syllable.
        const double lastStart = syllables[last].seconds;
        const double nextStart = syllables[lines[line + 1].first].seconds;
        if (nextStart - seconds < seconds - lastStart) {
            place.line = static_cast<int32_t>(line + 1);
            return place;
        }
    }
    place.line = static_cast<int32_t>(line);
    place.sung = static_cast<int32_t>(sung);
    return place;
}

SongLyrics ReadLyrics(const uint8_t* data, size_t size) {
    SongLyrics lyrics;
    const MidiBytes in = StandardMidiBytes(data, size);
    const uint8_t* d = in.data;
    const size_t n = in.size;
    if (n < 14 || std::memcmp(d, "MThd", 4) != 0 || Big32(d + 4) != 6) return lyrics;
    const uint32_t tracks = (uint32_t{d[10]} << 8) | d[11];
    const int32_t division = (int32_t{d[12]} << 8) | d[13];
    if ((d[12] & 0x80) != 0 || division == 0) return lyrics;

    std::vector<TempoChange> tempo;
    std::vector<RawWord> words[2];  // text events, lyric events
    size_t pos = 14;
    size_t order = 0;
    uint8_t running = 0;
    for (uint32_t t = 0; t < tracks; ++t) {
        bool found = false;
        while (!found) {
            if (pos > n || n - pos < 8) break;
            const uint32_t length = Big32(d + pos + 4);
            if (length > 0x7FFFFFFFu) break;
            if (std::memcmp(d + pos, "MTrk", 4) == 0) {
                found = true;
                break;
            }
            if (n - pos - 8 < length) break;
            pos += 8 + static_cast<size_t>(length);
        }
        if (!found) break;
        const uint32_t length = Big32(d + pos + 4);
        TrackReader reader(d, n, pos + 8, length, running);
        MidiEvent e{};
        TrackStep step;
        while ((step = reader.Next(e)) == TrackStep::Event) {
            if (e.status != 0xFF) continue;
            if (e.data1 == 0x51 && e.metaLength == 3) {
                tempo.push_back(
                    {e.tick, (uint32_t{e.meta[0]} << 16) | (uint32_t{e.meta[1]} << 8) | e.meta[2]});
            } else if ((e.data1 == kTextEvent || e.data1 == kLyricEvent) && e.metaLength > 0) {
                std::vector<RawWord>& list = words[e.data1 == kLyricEvent ? 1 : 0];
                if (list.size() >= kMostEvents) continue;
                list.push_back({e.tick, static_cast<int32_t>(t), order++,
                                std::string(reinterpret_cast<const char*>(e.meta), e.metaLength)});
            }
        }
        running = reader.RunningStatus();
        if (step != TrackStep::End) break;  // what follows damage cannot be trusted to be where it says
        pos = static_cast<size_t>(std::max<uint64_t>(reader.Position(), reader.StatedEnd()));
    }

    // Lyric events are there to be sung; text events are read only when a file has none, and then
    // only from the track that holds most of them, which in a karaoke file is its words' own track
    // (the others hold titles and remarks).
    std::vector<RawWord> chosen;
    if (!words[1].empty()) {
        chosen = std::move(words[1]);
    } else {
        lyrics.fromTextEvents = true;
        std::vector<RawWord>& text = words[0];
        text.erase(
            std::remove_if(text.begin(), text.end(), [](const RawWord& w) { return w.bytes[0] == '@'; }),
            text.end());
        std::vector<int32_t> perTrack(tracks, 0);
        for (const RawWord& w : text) ++perTrack[static_cast<size_t>(w.track)];
        const auto most = std::max_element(perTrack.begin(), perTrack.end());
        if (most == perTrack.end() || *most == 0) return lyrics;
        const int32_t track = static_cast<int32_t>(most - perTrack.begin());
        for (RawWord& w : text)
            if (w.track == track) chosen.push_back(std::move(w));
    }
    std::stable_sort(chosen.begin(), chosen.end(), [](const RawWord& a, const RawWord& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });

    bool utf8 = true;
    for (const RawWord& w : chosen) utf8 = utf8 && ValidUtf8(w.bytes);
    lyrics.latin1 = !utf8;

    TempoMap map;
    map.Build(division, std::move(tempo));
    bool lineOpen = false;
    auto endLine = [&] { lineOpen = false; };
    for (RawWord& w : chosen) {
        std::string bytes = utf8 ? std::move(w.bytes) : Latin1ToUtf8(w.bytes);
        bool startsLine = false;
        while (!bytes.empty() && (bytes[0] == '/' || bytes[0] == '\\')) {
            startsLine = true;
            bytes.erase(0, 1);
        }
        bool endsLine = false;
        while (!bytes.empty() && (bytes.back() == '\r' || bytes.back() == '\n')) {
            endsLine = true;
            bytes.pop_back();
        }
        // A break inside one event ("line one\rline two") splits it where it stands.
        size_t start = 0;
        for (;;) {
            size_t cut = bytes.find_first_of("\r\n", start);
            std::string piece =
                Printable(bytes.substr(start, cut == std::string::npos ? std::string::npos : cut - start));
            if (startsLine) endLine();
            startsLine = false;
            if (!piece.empty()) {
                if (!lineOpen) {
                    lyrics.lines.push_back({lyrics.syllables.size(), 0});
                    lineOpen = true;
                }
                lyrics.syllables.push_back({map.Seconds(w.tick), std::move(piece)});
                ++lyrics.lines.back().count;
            }
            if (cut == std::string::npos) break;
            endLine();
            start = bytes.find_first_not_of("\r\n", cut);
            if (start == std::string::npos) break;
        }
        if (endsLine) endLine();
    }
    return lyrics;
}
