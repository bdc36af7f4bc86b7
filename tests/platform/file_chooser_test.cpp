#include "platform/file_chooser.h"

#include <gtest/gtest.h>

TEST(FileChooser, PatternsMatchEitherCase) {
    const struct {
        const char* pattern;
        const char* expected;
    } cases[] = {
        {"*.mid", "*.[mM][iI][dD]"},
        {"*.sf2", "*.[sS][fF]2"},
        {"*", "*"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::CaseInsensitivePattern(c.pattern), c.expected) << "pattern " << c.pattern;
    }
}

// A caller that already gave its name the type's extension is not given it twice.
TEST(FileChooser, AProposedNameGetsItsExtensionOnce) {
    const struct {
        const char *name, *ext, *expected;
    } cases[] = {
        {"Song (my take)", "mid", "Song (my take).mid"},
        {"Song (my take).mid", "mid", "Song (my take).mid"},
        {"Song.MID", "mid", "Song.MID"},
        {"Song.mid", "flac", "Song.mid.flac"},  // another type's extension is part of the name
        {"", "mid", ""},
        {"take", "", "take"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::ProposedSaveName(c.name, c.ext), c.expected) << c.name << " as " << c.ext;
}
