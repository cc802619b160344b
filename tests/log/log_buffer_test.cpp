#include "log/log_buffer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

constexpr double kFreq = 1000.0;  // one tick per millisecond keeps stamps readable

std::unique_ptr<LogBuffer> NewLog() { return std::make_unique<LogBuffer>(); }

std::string FormatLine(const LogEntry& entry, uint64_t start = 0) {
    char line[kLogTextSize];
    EXPECT_GE(LogFormatLine(line, sizeof(line), entry, start, kFreq), 0);
    return line;
}

TEST(LogAppend, NumbersFromOneAndDropsTheAppendPastCapacity) {
    auto log = NewLog();
    for (int i = 0; i < kLogCapacity; ++i) LogAppend(*log, 0, "m%d", i);
    EXPECT_EQ(log->count, 218);
    EXPECT_EQ(log->entries[0].sequence, 1);
    EXPECT_EQ(log->entries[217].sequence, 218);

    LogAppend(*log, 0, "dropped");
    EXPECT_EQ(log->count, 218);
    EXPECT_EQ(log->sequence, 218) << "a dropped message must not use a number";

    // Free space by expiring everything, then the next number follows on.
    EXPECT_EQ(LogExpire(*log, 20000, kFreq), 218);
    LogAppend(*log, 20000, "next");
    EXPECT_EQ(log->entries[0].sequence, 219);
    EXPECT_STREQ(log->entries[0].text, "next");
}

TEST(LogAppend, CutsTextAt519Characters) {
    auto log = NewLog();
    std::string exact(519, 'a');
    std::string longer(600, 'b');
    LogAppend(*log, 0, "%s", exact.c_str());
    LogAppend(*log, 0, "%s", longer.c_str());
    EXPECT_EQ(std::string(log->entries[0].text), exact);
    EXPECT_EQ(std::string(log->entries[1].text), std::string(519, 'b'));
}

TEST(LogFormatLine, PrefixWithHoursMinutesSecondsAndMilliseconds) {
    LogEntry entry{};
    entry.sequence = 7;
    entry.stamp = 100 + (3600 + 2 * 60 + 5) * 1000 + 500;  // 1 h 2 min 5.5 s after start
    std::snprintf(entry.text, sizeof(entry.text), "hello");
    EXPECT_EQ(FormatLine(entry, 100), "[007 - 01:02:05.500] hello");

    // The precision is a minimum number of digits: big values widen the prefix.
    entry.sequence = 1234;
    entry.stamp = 123ull * 3600 * 1000;
    EXPECT_EQ(FormatLine(entry), "[1234 - 123:00:00.000] hello");
}

TEST(LogExpire, RemovesAtExactlyTwentySecondsAndStopsAtFirstYoungerEntry) {
    auto log = NewLog();
    LogAppend(*log, 0, "old");          // 20.0 s old at 20000
    LogAppend(*log, 5000, "young");     // 15 s old
    LogAppend(*log, 0, "older behind");  // older, but behind a younger one
    EXPECT_EQ(LogExpire(*log, 20000, kFreq), 1);
    ASSERT_EQ(log->count, 2);
    EXPECT_STREQ(log->entries[0].text, "young");
    EXPECT_STREQ(log->entries[1].text, "older behind");
    EXPECT_EQ(log->entries[2].sequence, 0) << "freed entries are cleared";
    EXPECT_EQ(log->sequence, 3);

    EXPECT_EQ(LogExpire(*log, 19999 + 5000, kFreq), 0) << "19.999 s is still shown";
}

TEST(LogMerge, AppendsBatchKeepingNumbersAndClearsShared) {
    auto mainLog = NewLog();
    auto shared = NewLog();
    LogAppend(*mainLog, 10, "main one");
    LogAppend(*shared, 20, "tracker one");
    LogAppend(*shared, 30, "tracker two");
    LogMerge(*mainLog, *shared);
    ASSERT_EQ(mainLog->count, 3);
    EXPECT_EQ(mainLog->sequence, 1) << "merging does not advance the main series";
    EXPECT_EQ(mainLog->entries[2].sequence, 2);
    EXPECT_EQ(mainLog->entries[2].stamp, 30u);
    EXPECT_EQ(shared->count, 0);
    EXPECT_EQ(shared->sequence, 0);
}

TEST(LogMerge, BatchThatDoesNotFitKeepsWhatFitsInOrder) {
    auto mainLog = NewLog();
    auto shared = NewLog();
    for (int i = 0; i < 216; ++i) LogAppend(*mainLog, 0, "main");
    for (int i = 0; i < 5; ++i) LogAppend(*shared, 0, "t%d", i);
    LogMerge(*mainLog, *shared);
    EXPECT_EQ(mainLog->count, 218);
    EXPECT_STREQ(mainLog->entries[216].text, "t0");
    EXPECT_STREQ(mainLog->entries[217].text, "t1");
    EXPECT_EQ(shared->count, 0);
}

}  // namespace
