#include "app/render_loop.h"

#include <gtest/gtest.h>

namespace {

constexpr double kDefault = 0.2;
constexpr double kDebug = 1.0 / 60.0;

TEST(ChooseFramePeriod, DebugPaceOnlyForATrackedDebugGameWithoutExplicitRate) {
    EXPECT_EQ(ChooseFramePeriod(false, false, 0, kDefault, kDebug), kDefault);
    EXPECT_EQ(ChooseFramePeriod(false, true, 0, kDefault, kDebug), kDefault);
    EXPECT_EQ(ChooseFramePeriod(false, true, 1, kDefault, kDebug), kDebug);
    EXPECT_EQ(ChooseFramePeriod(false, false, 1, kDefault, kDebug), kDefault) << "not ready: snapshot not valid";
    EXPECT_EQ(ChooseFramePeriod(true, true, 1, kDefault, kDebug), kDefault) << "-refresh wins";
    EXPECT_EQ(ChooseFramePeriod(true, true, 1, 1.0 / 30, kDebug), 1.0 / 30);
}

TEST(FrameSleepMs, FillsTheRestOfThePeriodTruncated) {
    EXPECT_EQ(FrameSleepMs(0.2, 0.030), 170u);
    EXPECT_EQ(FrameSleepMs(0.2, 0.0305), 169u);
    EXPECT_EQ(FrameSleepMs(0.2, 0.2), 0u);
    EXPECT_EQ(FrameSleepMs(0.2, 5.0), 0u);
}

}  // namespace
