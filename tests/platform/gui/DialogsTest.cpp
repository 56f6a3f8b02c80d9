#include "Dialogs.h"

#include <gtest/gtest.h>

TEST(ApplicationTitle, FileNameUpToTheFirstDotWithTheRestInLowerCase) {
    EXPECT_EQ(platform::TitleFromFileName("Brindlewick"), "Brindlewick");
    EXPECT_EQ(platform::TitleFromFileName("BRINDLEWICK.bin.old"), "Brindlewick");
    EXPECT_EQ(platform::TitleFromFileName("brindleWick.exe"), "brindlewick");
    EXPECT_EQ(platform::TitleFromFileName("B"), "B");
    EXPECT_EQ(platform::TitleFromFileName(".hidden"), "");
}
