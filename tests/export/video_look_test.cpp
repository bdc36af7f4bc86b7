// How a video looks, frame by frame in this process: the keyboard fitted to the song, labels that
// stay readable at every size, the themes' colours, the intro's length and the background picture.
#include "export/video_look.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "../midi/smf_builder.h"
#include "export/picture_size.h"
#include "export/video_scene.h"
#include "export_fixture.h"
#include "midi/midi_reader.h"
#include "platform/graphics_sdl.h"
#include "view/notes_view.h"

using namespace export_test;

namespace {

// Whether nothing failed, with the reason kept in `why` for the test's messages.
bool Ok(const Failure& failure, std::string& why) {
    why = failure.text;
    return failure.Ok();
}

// One hand's notes on the keys given, 0.25 s apart from `first` seconds on, each 0.2 s long
// (480 ticks a quarter at 120 beats a minute: 960 ticks a second).
std::unique_ptr<SongData> SongOn(std::initializer_list<int> keys, double first = 0.0) {
    using namespace smf;
    Bytes events;
    int at = 0, start = static_cast<int>(first * 960);
    for (const int key : keys) {
        const Bytes on = On(static_cast<uint32_t>(start - at), 0, key, 100);
        const Bytes off = Off(192, 0, key);
        events.insert(events.end(), on.begin(), on.end());
        events.insert(events.end(), off.begin(), off.end());
        at = start + 192;
        start += 240;
    }
    const Bytes end = EndOfTrack();
    events.insert(events.end(), end.begin(), end.end());
    const Bytes file = Song(480, {Track({Tempo(0, 500000), EndOfTrack()}), Chunk("MTrk", events)});
    auto song = NewSong();
    EXPECT_TRUE(ParseSong(*song, file.data(), file.size()));
    return song;
}

uint32_t Rgb(uint32_t argb) {
    return argb & 0xFFFFFF;
}

}  // namespace

// Fitted, the song's lowest and highest keys lie inside the frame and the shown keys fill its
// width; the keyboard is then taller than a strip, yet leaves the notes most of a tall frame.
TEST(VideoLook, FittedKeyboardSpansTheSong) {
    const auto song = SongOn({55, 60, 64, 67, 72, 76});  // G3 to E5
    struct Case {
        int width, height;
        VideoFit fit;
        bool fitted;
    };
    for (const Case c : {Case{1080, 1920, VideoFit::Auto, true}, Case{1080, 1080, VideoFit::Auto, true},
                         Case{720, 1280, VideoFit::Auto, true}, Case{1920, 1080, VideoFit::Auto, false},
                         Case{1920, 1080, VideoFit::On, true}, Case{1080, 1920, VideoFit::Off, false}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        VideoScene scene;
        std::string error;
        VideoLook look;
        look.fit = c.fit;
        ASSERT_TRUE(Ok(
            scene.Create({song.get(), nullptr, "song", ""}, c.width, c.height, VideoView::Full, look), error))
            << error;
        scene.DrawAt(0.0);
        const NotesView& v = scene.Notes();
        if (!c.fitted) {
            EXPECT_EQ(v.whiteCount, 52);
            continue;
        }
        EXPECT_LT(v.whiteCount, 52);
        const RectF& low = v.keys[55 - kLowestKey].rect;
        const RectF& high = v.keys[76 - kLowestKey].rect;
        EXPECT_GE(low.left, v.whiteKeyWidth) << "a white key of room left of the lowest";
        EXPECT_LE(high.right, v.width - v.whiteKeyWidth) << "and right of the highest";
        EXPECT_NEAR(v.keys[0].rect.left + v.firstWhite * v.whiteKeyWidth, 0.0f, 1.0f)
            << "the first shown white key starts at the left edge";
        EXPECT_GT(v.keyboardHeight, v.width * 0.125f) << "the wider keys are taller too";
        EXPECT_LE(v.keyboardHeight, v.height / 3.0f + 0.5f);
    }
}

// Bar numbers and the card's smaller line are at least 2% of the frame's height at every size,
// whatever the design scale rounds to.
TEST(VideoLook, LabelsReadableAtEverySize) {
    for (const auto& [w, h] : {std::pair{1280, 720}, std::pair{1920, 1080}, std::pair{1080, 1920},
                               std::pair{3840, 2160}, std::pair{640, 360}, std::pair{1080, 1080}}) {
        VideoScene scene;
        std::string error;
        ASSERT_TRUE(Ok(scene.Create({}, w, h, VideoView::Full), error)) << error;
        EXPECT_GE(scene.LabelPixels(), kLeastLabelShare * static_cast<float>(h) - 0.01f) << w << "x" << h;
        EXPECT_LE(scene.LabelPixels(), 0.03f * static_cast<float>(h)) << "and not a headline";
    }
}

// The intro: the card's whole frames, then a lead-in long enough for the first note to fall the
// whole notes area, shortened by the rests the song opens with.
TEST(VideoLook, IntroLetsTheFirstNoteFall) {
    struct Case {
        double first;
        bool title, leadIn;
        int fps;
        int64_t titleFrames, leadFrames;
    };
    for (const Case c : {Case{0.0, true, true, 30, 60, 90}, Case{1.0, true, true, 60, 120, 120},
                         Case{0.5, false, true, 30, 0, 75}, Case{5.0, true, true, 30, 60, 0},
                         Case{0.0, false, false, 30, 0, 0}}) {
        SCOPED_TRACE("first note at " + std::to_string(c.first));
        const auto song = SongOn({60}, c.first);
        VideoLook look;
        look.titleCard = c.title;
        look.leadIn = c.leadIn;
        const VideoIntro intro = PlanIntro(look, song.get(), kLookAheadSeconds, c.fps);
        EXPECT_EQ(intro.titleFrames, c.titleFrames);
        EXPECT_EQ(intro.leadFrames, c.leadFrames);
    }
}

// Each theme paints the notes area its own background, and the flat themes draw a falling note
// in the theme's colour for its part.
TEST(VideoLook, ThemesPaintTheirColours) {
    const auto song = SongOn({60, 62, 64, 65, 67});
    for (const VideoTheme theme : {VideoTheme::Dark, VideoTheme::Light, VideoTheme::Contrast}) {
        SCOPED_TRACE(static_cast<int>(theme));
        VideoScene scene;
        std::string error;
        VideoLook look;
        look.theme = theme;
        const AudioOverview overview{};  // notes are drawn once the song's sound is there
        ASSERT_TRUE(
            Ok(scene.Create({song.get(), &overview, "song", ""}, 640, 360, VideoView::Full, look), error))
            << error;
        scene.DrawAt(-1.0);  // the first note is a second above its key
        const uint32_t* pixels = scene.Pixels();
        ASSERT_NE(pixels, nullptr);
        const uint32_t clear = ThemePalette(theme).colour[PalClear];
        const float scale = ChooseVideoLayout(640, 360, VideoView::Full).scale;
        const NotesView& v = scene.Notes();
        // Away from the lines and numbers the notes area is the theme's background, or its octave
        // shade in the columns that alternate with the bars.
        const uint32_t ground = Rgb(pixels[static_cast<int>(v.notesHeight * scale * 0.5f) * 640 + 637]);
        EXPECT_TRUE(ground == clear || ground == ThemePalette(theme).colour[16]) << std::hex << ground;
        const RectF& key = v.keys[60 - kLowestKey].rect;
        const float y = (v.topTime - 0.1f) * v.notesHeight / v.lookAhead;  // 0.1 s into the note
        const uint32_t note = Rgb(pixels[static_cast<int>(y * scale) * 640 +
                                         static_cast<int>((key.left + key.right) * 0.5f * scale)]);
        if (const uint32_t* colours = ThemeNoteColours(theme)) {
            EXPECT_EQ(note, colours[0]) << std::hex << "got " << note;
        } else {
            EXPECT_NE(note, clear) << "a note falls there";
        }
    }
}

// A picture behind the notes shows through, veiled; one that is no picture is refused with its
// name, before any frame is drawn.
TEST(VideoLook, BackgroundPicture) {
    ScratchFolder dir;
    const std::string jpeg = dir / "red.jpg";
    RunCommand("ffmpeg -v error -f lavfi -i color=c=red:s=64x48 -frames:v 1 -y " + Quote(jpeg));
    const std::string text = dir / "notes.png";
    WriteFile(text, {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'});

    // A few bytes that declare a picture of gigabytes are refused on their header alone.
    const std::string huge = dir / "huge.png";
    WriteFile(huge, {0x89, 'P', 'N', 'G',  '\r', '\n', 0x1A, '\n', 0,    0, 0, 13, 'I', 'H', 'D',
                     'R',  0,   0,   0xEA, 0x60, 0,    0,    0xEA, 0x60, 8, 6, 0,  0,   0});
    PictureSize size;
    const std::vector<uint8_t> jpegBytes = ReadFile(jpeg);
    ASSERT_TRUE(ReadPictureSize(jpegBytes.data(), jpegBytes.size(), size));
    EXPECT_EQ(size.width, 64);
    EXPECT_EQ(size.height, 48);
    EXPECT_FALSE(ReadPictureSize(jpegBytes.data(), 20, size)) << "a header cut short";

    std::string error;
    EXPECT_TRUE(Ok(CheckVideoBackground(jpeg), error)) << error;
    EXPECT_FALSE(Ok(CheckVideoBackground(huge), error));
    EXPECT_NE(error.find("60000x60000"), std::string::npos) << error;
    for (const std::string& bad : {text, dir / "missing.png"}) {
        error.clear();
        EXPECT_FALSE(Ok(CheckVideoBackground(bad), error));
        EXPECT_NE(error.find(bad), std::string::npos) << error;
    }

    VideoScene scene;
    VideoLook look;
    look.background = jpeg;
    ASSERT_TRUE(Ok(scene.Create({}, 320, 180, VideoView::Full, look), error)) << error;
    const auto song = SongOn({60});
    VideoScene withSong;
    ASSERT_TRUE(
        Ok(withSong.Create({song.get(), nullptr, "song", ""}, 320, 180, VideoView::Full, look), error));
    withSong.DrawAt(-2.9);
    const uint32_t p = Rgb(withSong.Pixels()[20 * 320 + 300]);
    const int r = static_cast<int>(p >> 16), g = static_cast<int>((p >> 8) & 0xFF);
    EXPECT_GT(r, 60) << "the red shows";
    EXPECT_LT(r, 160) << "darkened under the notes";
    EXPECT_LT(g, 40);
    look.background = text;
    VideoScene refused;
    EXPECT_FALSE(Ok(refused.Create({}, 320, 180, VideoView::Full, look), error));
}

// A JPEG the decoder would draw grey in part, or work on for minutes, is refused before it is
// decoded: cut short, without picture data, or in more scans than a picture needs.
TEST(VideoLook, DamagedOrCostlyJpegsAreRefused) {
    ScratchFolder dir;
    const std::string jpeg = dir / "red.jpg";
    RunCommand("ffmpeg -v error -f lavfi -i color=c=red:s=64x48 -frames:v 1 -y " + Quote(jpeg));
    const std::vector<uint8_t> whole = ReadFile(jpeg);
    // The picture's segments up to its one scan, the scan, and the end marker.
    size_t scan = 2;
    while (scan + 4 <= whole.size() && whole[scan + 1] != 0xDA)
        scan += 2 + static_cast<size_t>((whole[scan + 2] << 8) | whole[scan + 3]);
    ASSERT_LT(scan + 4, whole.size());
    const std::vector<uint8_t> head(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(scan));
    const std::vector<uint8_t> oneScan(whole.begin() + static_cast<std::ptrdiff_t>(scan), whole.end() - 2);
    const auto scans = [&](int n) {
        std::vector<uint8_t> out = head;
        for (int i = 0; i < n; ++i) out.insert(out.end(), oneScan.begin(), oneScan.end());
        out.insert(out.end(), {0xFF, 0xD9});
        return out;
    };
    std::vector<uint8_t> cut = whole;
    cut.resize(whole.size() * 6 / 10);
    std::vector<uint8_t> headers = head;
    headers.insert(headers.end(), {0xFF, 0xD9});
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* refusal;  // nullptr when the picture is taken
    };
    const Case cases[] = {
        {"whole", whole, nullptr},
        {"in 64 scans", scans(64), nullptr},
        {"cut at 60%", cut, "cut short or damaged"},
        {"headers only", headers, "no picture data"},
        {"headers without an end", head, "no picture data"},
        {"in 8000 scans", scans(8000), "8000 scans"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / "picture.jpg";
        WriteFile(path, c.bytes);
        std::string error;
        EXPECT_EQ(Ok(CheckVideoBackground(path), error), c.refusal == nullptr) << error;
        if (c.refusal != nullptr) {
            EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
        }
        // The repeated scans make no picture a decoder would take; the layout alone is judged.
        if (c.bytes.size() > 2 * whole.size()) continue;
        VideoLook look;
        look.background = path;
        VideoScene scene;
        EXPECT_EQ(Ok(scene.Create({}, 64, 36, VideoView::Full, look), error), c.refusal == nullptr) << error;
    }
}

// However long the title, it stays in its own space on the card: above the instruments' line,
// set smaller or cut short, and never gone.
TEST(VideoLook, LongTitlesKeepToTheirSpace) {
    const std::string words = "A Very Long Title Of A Piano Piece That Goes On And On ";
    const std::string titles[] = {"Short", words + words, words + words + words + words + words + words,
                                  std::string(84, 'W') + ".mid"};
    for (const auto& [width, height] : {std::pair{180, 320}, std::pair{320, 180}}) {
        for (const std::string& title : titles) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + ": " + title);
            VideoLook look;
            look.titleCard = true;
            look.title = title;
            VideoScene scene;
            std::string error;
            ASSERT_TRUE(Ok(scene.Create({}, width, height, VideoView::Full, look), error)) << error;
            const VideoIntro intro = scene.Intro(30);
            scene.DrawVideoFrame(30, 30, intro);  // a second in: the card stands whole
            const uint32_t* pixels = scene.Pixels();
            ASSERT_NE(pixels, nullptr);
            const uint32_t plate = pixels[0];
            // The instruments' line starts half its text size under the middle; its size is half
            // the heading's, which is three label sizes.
            const float big = std::ceil(3.0f * scene.LabelPixels());
            const int below = static_cast<int>(height * 0.5f + big * 0.25f);
            int inkAbove = 0, inkBelow = 0;
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    if (Rgb(pixels[y * width + x]) == Rgb(plate)) continue;
                    ++(y < below ? inkAbove : inkBelow);
                }
            }
            EXPECT_GT(inkAbove, 20) << "the title shows";
            EXPECT_EQ(inkBelow, 0) << "the title runs into the instruments' line";
        }
    }
}

// The card names the song after its one track when a single track holds every note, and lists
// each instrument once; a song of several tracks keeps its file's name.
TEST(VideoLook, CardNamesTheSong) {
    using namespace smf;
    auto read = [](const Bytes& file) {
        auto song = NewSong();
        EXPECT_TRUE(ParseSong(*song, file.data(), file.size()));
        return song;
    };
    const Bytes oneTrack = Song(480, {Track({Tempo(0, 500000), EndOfTrack()}),
                                      Track({Name("Moonlight"), On(0, 0, 60), Off(240, 0, 60), On(0, 0, 40),
                                             Off(240, 0, 40), EndOfTrack()})});
    const Bytes band =
        Song(480, {Track({Name("Strings"), Program(0, 0, 40), On(0, 0, 67), Off(480, 0, 67),
                          Program(0, 0, 40), On(0, 0, 69), Off(480, 0, 69), EndOfTrack()}),
                   Track({Name("Kit"), On(0, 9, 36), Off(120, 9, 36), EndOfTrack()}),
                   Track({Name("Bass"), Program(0, 1, 33), On(0, 1, 40), Off(480, 1, 40), EndOfTrack()})});
    const auto piano = read(oneTrack);
    EXPECT_EQ(SongTitle(*piano, "file"), "Moonlight");
    EXPECT_EQ(SongInstruments(*piano), "Acoustic Grand Piano");
    const auto strings = read(band);
    EXPECT_EQ(SongTitle(*strings, "file"), "file");
    EXPECT_EQ(SongInstruments(*strings), "Violin, Electric Bass (finger), Drums");
}
