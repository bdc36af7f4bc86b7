// Text in scripts the interface's face lacks: the face found for its characters, and the glyphs
// drawn with it rather than boxes. Skipped with a message where no such face is installed.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/font_files.h"
#include "platform/graphics_sdl.h"

namespace platform {
namespace {

constexpr ColourF kBlack{0, 0, 0, 1};
constexpr ColourF kWhite{1, 1, 1, 1};
const TextFormat kSmall{14.0f, 700, TextAlign::Centre, true, false, true};
const TextFormat kMedium{24.0f, 400, TextAlign::Centre, true, true, true};

std::unique_ptr<OffscreenRenderTarget> MakeTarget(int w, int h) {
    Made<OffscreenRenderTarget> made = OffscreenRenderTarget::Create(w, h);
    EXPECT_NE(made.value, nullptr) << made.failure.text;
    return std::move(made.value);
}

TEST(FontFiles, AFaceIsFoundOnlyForCharactersSomeFaceHas) {
    const std::optional<FontFace> latin = FaceCovering(U"Ab", false);
    ASSERT_TRUE(latin.has_value()) << "the interface's own face has ASCII";
    EXPECT_FALSE(latin->file.empty());
    EXPECT_FALSE(FaceCovering(U"", false).has_value());
    // Noncharacters: no face may have a glyph for them.
    EXPECT_FALSE(FaceCovering(U"\U0010FFFF", false).has_value());
    EXPECT_FALSE(FaceCovering(U"A\uFFFF", true).has_value()) << "every character must be covered";
}

// Two different characters the interface's face lacks come out as the same box unless another
// face draws them: distinct ink proves real glyphs.
TEST(OffscreenTarget, ChineseAndJapaneseNamesAreDrawnWithRealGlyphs) {
    struct Case {
        const char* script;
        std::u32string characters;
        std::string first, second;  // one character each
    };
    const Case cases[] = {
        {"Chinese", U"\u6B4C\u66F2", "\xE6\xAD\x8C", "\xE6\x9B\xB2"},        // 歌 曲
        {"Japanese kana", U"\u3046\u305F", "\xE3\x81\x86", "\xE3\x81\x9F"},  // う た
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        if (!FaceCovering(c.characters, false)) {
            GTEST_SKIP() << "no installed font has " << c.script
                         << " characters (setup.sh installs fonts-wqy-microhei)";
        }
        auto draw = [](const std::string& text, const TextFormat& format) {
            auto target = MakeTarget(160, 40);
            target->BeginDraw();
            target->Clear(kBlack);
            target->DrawText(text, format, RectF{0, 0, 160, 40}, kWhite);
            target->EndDraw();
            return target->ReadPixels();
        };
        for (const TextFormat& format : {kSmall, kMedium}) {
            const std::vector<uint32_t> a = draw("song " + c.first + ".mid", format);
            const std::vector<uint32_t> b = draw("song " + c.second + ".mid", format);
            EXPECT_NE(a, b) << "both characters were drawn as the same box";
            EXPECT_NE(a, draw("song .mid", format)) << "the character was left out";
        }
    }
}

}  // namespace
}  // namespace platform
