// The frame on a real Windows console whose size changes between frames. The
// program runs in a terminal (tmux under Wine, see run_in_tmux.sh), and the
// test itself changes the console's buffer and window: Wine's console does not
// follow a resize of the terminal around it. What the frame wrote is read back
// from the console's cells.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>

#include "app/render_loop.h"
#include "app/shared_state.h"
#include "log/log_buffer.h"
#include "platform/clock.h"

namespace {

class ConsoleFrame : public ::testing::Test {
  protected:
    void SetUp() override {
        output_ = GetStdHandle(STD_OUTPUT_HANDLE);
        CONSOLE_SCREEN_BUFFER_INFO info;
        ASSERT_TRUE(GetConsoleScreenBufferInfo(output_, &info))
            << "standard output is not a console: run this in a terminal (tests/console/run_in_tmux.sh)";
        original_ = info;

        shared_.sharedLog = sharedLog_.get();
        shared_.sharedSnapshot = sharedSnapshot_.get();
        FrameTiming timing{};
        timing.startStamp = ClockNow();
        timing.counterFrequency = static_cast<double>(ClockFrequency());
        timing.framePeriod = 0.2;
        timing.debugFramePeriod = 1.0 / 60.0;
        context_ = RenderContext{&screen_, output_, mainLog_.get(), mainSnapshot_.get(), &shared_, timing};

        // Newest last: the frame draws it on the top row. The long one is
        // longer than any width used here.
        const uint64_t now = ClockNow();
        LogAppend(*mainLog_, now, "older message");
        LogAppend(*mainLog_, now, "a long message %s", std::string(200, 'x').c_str());
        LogAppend(*mainLog_, now, "newest message");
    }

    void TearDown() override {
        if (original_.dwSize.X > 0) Resize(original_.dwSize.X, original_.dwSize.Y);
        delete[] screen_.cells;
    }

    // Buffer and window of `columns` x `rows`, window at the buffer's top-left.
    // The window must always fit inside the buffer, so the order depends on
    // whether the console shrinks or grows.
    bool Resize(int columns, int rows) {
        const SMALL_RECT window{0, 0, static_cast<SHORT>(columns - 1), static_cast<SHORT>(rows - 1)};
        const COORD size{static_cast<SHORT>(columns), static_cast<SHORT>(rows)};
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (!GetConsoleScreenBufferInfo(output_, &info)) return false;
        const SMALL_RECT smaller{0, 0, static_cast<SHORT>(std::min<int>(columns, info.dwSize.X) - 1),
                                 static_cast<SHORT>(std::min<int>(rows, info.dwSize.Y) - 1)};
        return SetConsoleWindowInfo(output_, TRUE, &smaller) && SetConsoleScreenBufferSize(output_, size) &&
               SetConsoleWindowInfo(output_, TRUE, &window);
    }

    std::string Row(int row, int columns) {
        std::string text(static_cast<size_t>(columns), '\0');
        DWORD read = 0;
        ReadConsoleOutputCharacterA(output_, text.data(), static_cast<DWORD>(columns),
                                    COORD{0, static_cast<SHORT>(row)}, &read);
        text.resize(read);
        return text;
    }

    static std::string Padded(std::string text, int columns) {
        text.resize(static_cast<size_t>(columns), ' ');
        return text;
    }

    HANDLE output_ = nullptr;
    CONSOLE_SCREEN_BUFFER_INFO original_{};
    std::unique_ptr<LogBuffer> mainLog_ = std::make_unique<LogBuffer>();
    std::unique_ptr<LogBuffer> sharedLog_ = std::make_unique<LogBuffer>();
    std::unique_ptr<GameSnapshot> mainSnapshot_ = std::make_unique<GameSnapshot>();
    std::unique_ptr<GameSnapshot> sharedSnapshot_ = std::make_unique<GameSnapshot>();
    SharedState shared_{};
    ScreenBuffer screen_{};
    RenderContext context_{};
};

TEST_F(ConsoleFrame, FollowsTheConsoleAsItShrinksAndGrows) {
    const struct {
        int columns;
        int rows;
    } kSizes[] = {{100, 30}, {60, 20}, {110, 35}, {40, 12}};
    const std::string longLine = "a long message " + std::string(200, 'x');
    for (const auto& size : kSizes) {
        SCOPED_TRACE(std::to_string(size.columns) + "x" + std::to_string(size.rows));
        ASSERT_TRUE(Resize(size.columns, size.rows)) << "error " << GetLastError();
        // Text in the last row, where no line of this frame goes: the grid
        // written must cover the whole console at its new size.
        for (int column = 0; column < size.columns; column += 7) {
            DWORD written;
            WriteConsoleOutputCharacterA(output_, "stale", 5, COORD{static_cast<SHORT>(column),
                                                                    static_cast<SHORT>(size.rows - 1)}, &written);
        }

        DrawFrame(context_);

        EXPECT_EQ(screen_.width, size.columns);
        EXPECT_EQ(screen_.height, size.rows);
        EXPECT_EQ(screen_.size, size.columns * size.rows);
        // Each line in a row of its own, newest first, cut at the width and
        // not wrapped; writing the last cell did not scroll the top row away.
        const char* const kTexts[] = {"newest message", nullptr, "older message"};
        for (int row = 0; row < 3; ++row) {
            const std::string line = Row(row, size.columns);
            const size_t start = line.find("] ");
            ASSERT_NE(start, std::string::npos) << "row " << row << ": " << line;
            const int room = size.columns - static_cast<int>(start + 2);
            const std::string expected = kTexts[row] != nullptr ? Padded(kTexts[row], room) : longLine.substr(0, room);
            EXPECT_EQ(line.substr(start + 2), expected) << "row " << row;
        }
        for (int row = 3; row < size.rows; ++row) {
            EXPECT_EQ(Row(row, size.columns), std::string(static_cast<size_t>(size.columns), ' ')) << "row " << row;
        }
    }
}

// The same size twice: the grid is kept, not allocated again.
TEST_F(ConsoleFrame, KeepsItsGridWhileTheSizeStays) {
    ASSERT_TRUE(Resize(80, 25));
    DrawFrame(context_);
    const char* cells = screen_.cells;
    DrawFrame(context_);
    EXPECT_EQ(screen_.cells, cells);
    EXPECT_EQ(screen_.width, 80);
    EXPECT_EQ(screen_.height, 25);
}

}  // namespace
