#include "tracking/level_names.h"

#include <gtest/gtest.h>

TEST(LevelName, BothSpellingsAndOutOfRangeGivesTheBlankName) {
    EXPECT_STREQ(LevelScreenName(17), "SC ");
    EXPECT_STREQ(LevelScreenName(18), "WF ");
    EXPECT_STREQ(LevelScreenName(19), "DE ");
    EXPECT_STREQ(LevelScreenName(20), "  ");
    EXPECT_STREQ(LevelScreenName(21), "  ");
    EXPECT_STREQ(LevelScreenName(0xFFFFFFFFu), "  ");
    EXPECT_STREQ(LevelName(16), "MZ3");
    EXPECT_STREQ(LevelName(17), "SC");
    EXPECT_STREQ(LevelName(21), "");
    for (int i = 0; i < kLevelNameCount; ++i) {
        EXPECT_EQ(LevelIndexByName(LevelName(i)), i);
        EXPECT_EQ(LevelIndexByName(LevelScreenName(i)), i);
    }
    EXPECT_EQ(LevelIndexByName("Total"), -1);
}
