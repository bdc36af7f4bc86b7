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
