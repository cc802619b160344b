#include "app/screen_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Grid {
    ScreenBuffer screen{};
    Grid(int width, int height) {
        ScreenResize(screen, width, height);
        ScreenFillBlank(screen);
    }
    ~Grid() { delete[] screen.cells; }
    std::string Row(int row) const { return std::string(screen.cells + row * screen.width, screen.width); }
};

TEST(ScreenPrintLine, CutsAtWidthAndNeverWraps) {
    Grid grid(8, 3);
    ScreenPrintLine(grid.screen, "%s", "0123456789ABC");
    EXPECT_EQ(grid.Row(0), "01234567");
    EXPECT_EQ(grid.Row(1), "        ");
    EXPECT_EQ(grid.screen.row, 1);
}

TEST(ScreenPrintLine, EmptyLineAdvancesAndShortLineKeepsBlanks) {
    Grid grid(8, 3);
    ScreenPrintLine(grid.screen, "%s", "");
    ScreenPrintLine(grid.screen, "ab%d", 1);
    EXPECT_EQ(grid.screen.row, 2);
    EXPECT_EQ(grid.Row(0), "        ");
    EXPECT_EQ(grid.Row(1), "ab1     ");
}

TEST(ScreenPrintLine, RowsPastTheLastAreDropped) {
    Grid grid(4, 2);
    ScreenPrintLine(grid.screen, "a");
    ScreenPrintLine(grid.screen, "b");
    ScreenPrintLine(grid.screen, "c");
    EXPECT_EQ(grid.screen.row, 2);
    EXPECT_EQ(grid.Row(0), "a   ");
    EXPECT_EQ(grid.Row(1), "b   ");
}

TEST(ScreenPrintLine, WideGridIsLimitedByTheLineBuffer) {
    Grid grid(1100, 1);
    std::string longLine(1100, 'x');
    ScreenPrintLine(grid.screen, "%s", longLine.c_str());
    EXPECT_EQ(grid.Row(0), std::string(1023, 'x') + std::string(77, ' '));
}

TEST(ScreenResize, NoCellsMeansNothingIsTouched) {
    ScreenBuffer screen{};
    EXPECT_FALSE(ScreenResize(screen, 0, 10));
    EXPECT_EQ(screen.cells, nullptr);
    EXPECT_EQ(screen.width, 0);
    ScreenPrintLine(screen, "anything");
    ScreenFillBlank(screen);
    EXPECT_EQ(screen.row, 0);
}

}  // namespace
