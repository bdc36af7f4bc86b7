// The tags read from a song file's meta events: which event gives which tag, text in the encodings
// files are written in, and files that are not whole.
#include "midi/song_tags.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "smf_builder.h"

namespace {

using smf::Bytes;

Bytes Meta(uint8_t type, const std::string& text) {
    Bytes out = {0x00, 0xFF, type};
    const Bytes length = smf::Vlq(static_cast<uint32_t>(text.size()));
    out.insert(out.end(), length.begin(), length.end());
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

struct TagCase {
    const char* what;
    Bytes file;
    MidiTags want;
};

TEST(MidiTags, EachTagFromItsEvent) {
    const Bytes notes = smf::Track({smf::On(0, 0, 60), smf::Off(480, 0, 60), smf::EndOfTrack()});
    const Bytes song = smf::Song(
        480, {smf::Track({Meta(0x03,
                               "Gymnop\xE9"
                               "die"),
                          Meta(0x02, "(c) 1888"), Meta(0x01, "Composer: Erik Satie"), smf::EndOfTrack()}),
              notes});
    // The same song wrapped as RIFF MIDI.
    Bytes rmi = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'R', 'M', 'I', 'D', 'd', 'a', 't', 'a'};
    for (int shift = 0; shift < 32; shift += 8) rmi.push_back(static_cast<uint8_t>(song.size() >> shift));
    rmi.insert(rmi.end(), song.begin(), song.end());
    // Cut inside the second track: what came before it stands.
    const Bytes cut(song.begin(), song.end() - 6);

    const TagCase cases[] = {
        {"Latin-1 text becomes UTF-8",
         song,
         {"Gymnop\xC3\xA9"
          "die",
          "(c) 1888", "Erik Satie"}},
        {"RIFF MIDI",
         rmi,
         {"Gymnop\xC3\xA9"
          "die",
          "(c) 1888", "Erik Satie"}},
        {"cut short",
         cut,
         {"Gymnop\xC3\xA9"
          "die",
          "(c) 1888", "Erik Satie"}},
        {"UTF-8 is kept, blanks and control characters go",
         smf::Song(480, {smf::Track({Meta(0x03, "  \xE6\x9C\x88\tLight \n"), Meta(0x01, "Music by  Someone "),
                                     smf::EndOfTrack()}),
                         notes}),
         {"\xE6\x9C\x88 Light", "", "Someone"}},
        {"a later track's name names its part, not the song; a copyright anywhere counts",
         smf::Song(480, {smf::Track({smf::EndOfTrack()}),
                         smf::Track({Meta(0x03, "Piano"), Meta(0x02, "CC0"), smf::On(0, 0, 60),
                                     smf::Off(9, 0, 60), smf::EndOfTrack()})}),
         {"", "CC0", ""}},
        {"text that credits nobody, and only the first of each",
         smf::Song(480, {smf::Track({Meta(0x01, "Composed in 1888"), Meta(0x01, "composed by A"),
                                     Meta(0x01, "Composer: B"), Meta(0x02, "first"), Meta(0x02, "second"),
                                     smf::EndOfTrack()})}),
         {"", "first", "A"}},
        {"not a MIDI file", Bytes{'R', 'I', 'F', 'F', '0', '0'}, {}},
    };
    for (const TagCase& c : cases) {
        const MidiTags got = ReadMidiTags(c.file.data(), c.file.size());
        EXPECT_EQ(got.title, c.want.title) << c.what;
        EXPECT_EQ(got.copyright, c.want.copyright) << c.what;
        EXPECT_EQ(got.composer, c.want.composer) << c.what;
    }
}

}  // namespace
