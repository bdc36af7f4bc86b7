// The window draws the music font's glyphs by character, the pages by name: both must be the same
// glyph, or the window would show a sharp where the page has a flat.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <gtest/gtest.h>

#include "notation/page_engraving.h"
#include "platform/music_font.h"

TEST(MusicFont, EachGlyphsCharacterIsTheGlyphOfItsName) {
    const std::string file = platform::MusicFontFile();
    if (file.empty()) GTEST_SKIP() << "the music font (lilypond-fonts) is not installed";
    FT_Library library = nullptr;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    FT_Face face = nullptr;
    ASSERT_EQ(FT_New_Face(library, file.c_str(), 0, &face), 0) << file;
    for (int g = 0; g < static_cast<int>(Glyph::Count); ++g) {
        const auto glyph = static_cast<Glyph>(g);
        const FT_UInt byName = FT_Get_Name_Index(face, const_cast<char*>(GlyphName(glyph)));
        EXPECT_NE(byName, 0u) << GlyphName(glyph);
        EXPECT_EQ(FT_Get_Char_Index(face, GlyphCharacter(glyph)), byName) << GlyphName(glyph);
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);
}
