// dorvik-midi score: the song as sheet music, written as MusicXML for notation programs or
// engraved as PDF pages or an SVG page.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/score_pages.h"
#include "core/file_access.h"
#include "midi/meter_events.h"
#include "midi/midi_reader.h"
#include "midi/note_timeline.h"
#include "notation/measure_layout.h"
#include "notation/musicxml_writer.h"
#include "notation/page_engraving.h"
#include "platform/atomic_file.h"
#include "settings/song_hands.h"
#include "settings/song_memory.h"

namespace cli {
namespace {

enum class ScoreFormat { MusicXml, Svg, Pdf, Png };

bool EndsWith(const std::string& s, const char* tail) {
    const size_t n = std::strlen(tail);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != tail[i]) return false;
    }
    return true;
}

// Writes `bytes` to `target` whole, or leaves it as it was.
int WriteWhole(const std::string& target, const std::string& bytes) {
    platform::AtomicFile file;
    Failure failed = file.Open(target);
    if (failed.Ok()) failed = WriteAll(file.Fd(), bytes.data(), bytes.size());
    if (failed.Ok()) failed = file.Commit();
    return failed.Ok() ? 0 : Fail("cannot write " + target + ": " + failed.text);
}

}  // namespace

int RunScore(int argc, char** argv) {
    const char* path = nullptr;
    std::string output;
    LayoutChoice choice;
    int firstBar = 0, lastBar = 0;  // the bars engraved, counted from 1; 0: all of them
    for (int i = 0; i < argc; ++i) {
        // --output as the other commands (and the shell's completion) spell it.
        if (std::strcmp(argv[i], "-o") == 0 || std::strcmp(argv[i], "--output") == 0) {
            if (++i == argc) return UsageError(std::string(argv[i - 1]) + " needs a file name");
            output = argv[i];
        } else if (std::strcmp(argv[i], "--part") == 0) {
            // A staff for each part named: "--part 2,5" or "--part 2 --part 5".
            if (++i == argc) return UsageError("--part needs a part number");
            if (!ParsePartList(argv[i], choice.parts))
                return UsageError(std::string("--part takes parts from 1, split by commas (2,5), not ") +
                                  argv[i]);
        } else if (std::strcmp(argv[i], "--bars") == 0) {
            if (++i == argc) return UsageError("--bars needs FIRST-LAST");
            int first = 0, last = 0;
            char tail = 0;
            if (std::sscanf(argv[i], "%d-%d%c", &first, &last, &tail) != 2 || first < 1 || last < first)
                return UsageError(std::string("--bars takes FIRST-LAST counted from 1, not ") + argv[i]);
            firstBar = first;
            lastBar = last;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return UsageError(std::string("unknown option ") + argv[i]);
        } else if (path == nullptr) {
            path = argv[i];
        } else {
            return UsageError("score takes one MIDI file");
        }
    }
    if (path == nullptr) return UsageError("score needs a MIDI file");
    if (output.empty()) return UsageError("score needs -o OUT.musicxml, OUT.svg or OUT.pdf");
    ScoreFormat format;
    if (EndsWith(output, ".musicxml") || EndsWith(output, ".xml")) {
        format = ScoreFormat::MusicXml;
    } else if (EndsWith(output, ".svg")) {
        format = ScoreFormat::Svg;
    } else if (EndsWith(output, ".pdf")) {
        format = ScoreFormat::Pdf;
    } else if (EndsWith(output, ".png")) {
        format = ScoreFormat::Png;
    } else {
        return UsageError("cannot tell the format of " + output +
                          ": the name must end in .musicxml, .svg, .pdf or .png");
    }
    if (NotARegularFile(path)) return Fail(std::string(path) + ": not a regular file");
    std::string target;
    if (Failure refused = CheckOutput(output, path, "", target); !refused.Ok())
        return Fail("cannot write " + output + ": " + refused.text);

    std::vector<uint8_t> bytes;
    auto song = std::make_unique<SongData>();
    TempoMap tempo;
    if (!ReadMidiFile(*song, path, &bytes, &tempo))
        return Fail(std::string(path) + ": " + MidiLoadFailureText(*song));
    if (!SongHasNotes(*song)) return Fail(std::string(path) + " has no notes");
    // A part the song does not have is refused rather than quietly swapped for another or left out.
    if (const std::string problem = NoSuchPart(*song, choice.parts, path); !problem.empty())
        return UsageError(problem);
    // The hands as the player mended them in the window: each note on its hand's staff.
    (void)ApplyHandEdits(*song, ReadHandEditsOf(*song, bytes.data(), bytes.size()));
    const SongMeters meters = ReadSongMeters(bytes.data(), bytes.size());
    const ScoreLayout layout = LayOutScore(ScoreSongFrom(*song, tempo, meters), choice);
    const std::string title = FileTitleFromPath(path);

    std::string written;
    if (format == ScoreFormat::MusicXml) {
        written = MusicXmlOf(layout, title);
    } else {
        EngraveOptions options;
        options.onePage = format != ScoreFormat::Pdf;  // a picture or an SVG page is as tall as the music
        if (firstBar > 0) {
            options.firstMeasure = firstBar - 1;
            options.lastMeasure = lastBar;
        }
        const PageFormat pages = format == ScoreFormat::Svg   ? PageFormat::Svg
                                 : format == ScoreFormat::Pdf ? PageFormat::Pdf
                                                              : PageFormat::Png;
        const Failure drawn = DrawScorePages(EngraveScore(layout, title, options), pages, written);
        if (!drawn.Ok()) return Fail(drawn.text);
    }
    return WriteWhole(target, written);
}

}  // namespace cli
