#include "tracking/spindash_stats.h"

#include <gtest/gtest.h>

#include <initializer_list>

#include "support/tick_builder.h"

namespace {

// Charges P1's spindash through the given counts, one active frame each, then
// releases it at the last count.
void ChargeAndRelease(TickBuilder& play, std::initializer_list<uint32_t> counts) {
    uint32_t count = 0;
    for (uint32_t c : counts) {
        count = c;
        play.P1Spindash(1, count).Active();
    }
    play.P1Spindash(0, count).Active();
}

TEST(SpindashSpeedTable, Is2048Plus128PerChargeLevel) {
    const uint32_t speeds[kSpeedTableSize] = {2048, 2176, 2304, 2432, 2560, 2688, 2816, 2944, 3072};
    for (int k = 0; k < kSpeedTableSize; ++k) EXPECT_EQ(kSpindashSpeedTable[k], speeds[k]) << "charge level " << k;
}

TEST(SpindashRelease, SpeedFromTheChargeLevelAndPerfectAtTheTop) {
    struct Case {
        uint32_t count, speed;
        float fraction;
        uint32_t perfect;
    };
    const Case cases[] = {
        {0, 2048, 0.0f, 0},       {255, 2048, 0.0f, 0},   {1500, 2688, 0.625f, 0},
        {2047, 2944, 0.875f, 0},  {2048, 3072, 1.0f, 1},  {2303, 3072, 1.0f, 1},
    };
    for (const Case& c : cases) {
        TickBuilder play;
        play.StartGame();
        ChargeAndRelease(play, {c.count});
        EXPECT_EQ(play.stats().spindash.p1ReleaseSpeed, c.speed) << "count " << c.count;
        EXPECT_EQ(play.stats().spindash.p1SpeedFraction, c.fraction) << "count " << c.count;
        EXPECT_EQ(play.stats().run.totals.perfectSpindashes, c.perfect) << "count " << c.count;
        EXPECT_EQ(play.stats().spindash.p1TapCount, 0) << "count " << c.count;
    }
}

// Past the table's last charge level a release is skipped: the previous
// release stays on show and nothing is counted.
TEST(SpindashRelease, CountsPastTheTableAreSkipped) {
    for (uint32_t count : {2304u, 2560u, 65535u}) {
        TickBuilder play;
        play.StartGame();
        ChargeAndRelease(play, {0, 512, 1024, 1536, 2048, 1500});
        ASSERT_EQ(play.stats().spindash.p1ReleaseSpeed, 2688u);
        ASSERT_EQ(play.stats().run.sixTapAttempts, 1u);
        const float chargeSum = play.stats().run.chargeFractionSum;

        ChargeAndRelease(play, {0, 512, 1024, 1536, 2048, count});
        EXPECT_EQ(play.stats().spindash.p1ReleaseSpeed, 2688u) << "count " << count;
        EXPECT_EQ(play.stats().spindash.p1SpeedFraction, 0.625f) << "count " << count;
        EXPECT_EQ(play.stats().run.totals.perfectSpindashes, 0u) << "count " << count;
        EXPECT_EQ(play.stats().run.sixTapAttempts, 1u) << "count " << count;
        EXPECT_EQ(play.stats().run.chargeFractionSum, chargeSum) << "count " << count;
        EXPECT_EQ(play.stats().spindash.p1TapCount, 0) << "count " << count;

        play.P2Spindash(1, 1500).Active().P2Spindash(0, 1500).Active();
        play.P2Spindash(1, count).Active().P2Spindash(0, count).Active();
        EXPECT_EQ(play.stats().spindash.p2ReleaseSpeed, 2688u) << "count " << count;
        EXPECT_EQ(play.stats().spindash.p2SpeedFraction, 0.625f) << "count " << count;
    }
}

TEST(SpindashTaps, FiveTapsFromZeroCountTowardsTheAverages) {
    TickBuilder play;
    play.StartGame();
    const struct {
        uint32_t count;
        int32_t taps;
    } steps[] = {{0, 1}, {0, 1}, {512, 2}, {400, 2}, {400, 2}, {600, 3}, {800, 4}, {800, 4}, {1000, 5}};
    for (const auto& step : steps) {
        play.P1Spindash(1, step.count).Active();
        EXPECT_EQ(play.stats().spindash.p1TapCount, step.taps) << "count " << step.count;
    }
    // Repeated passes and frames that are not active see no rise.
    play.P1Spindash(1, 1200).Sample(2).Lag().Still();
    EXPECT_EQ(play.stats().spindash.p1TapCount, 5);

    play.P1Spindash(0, 1200).Active();
    EXPECT_EQ(play.stats().run.sixTapAttempts, 1u);
    EXPECT_EQ(play.stats().run.chargeFractionSum, 1200.0f / 2048.0f);
    EXPECT_EQ(play.stats().run.speedFractionSum, 0.5f);
    EXPECT_EQ(play.stats().spindash.p1ChargeFraction, 1000.0f / 2048.0f) << "from the last active charging frame";

    TickBuilder four;  // one rise short
    four.StartGame();
    ChargeAndRelease(four, {0, 512, 1024, 1536});
    EXPECT_EQ(four.stats().run.sixTapAttempts, 0u);
    EXPECT_EQ(four.stats().run.chargeFractionSum, 0.0f);
    EXPECT_EQ(four.stats().run.speedFractionSum, 0.0f);
}

TEST(SpindashTaps, ALowCountSpoilsTheAttemptButNotThePerfectRelease) {
    TickBuilder play;
    play.StartGame();
    ChargeAndRelease(play, {0, 100, 512, 1024, 1536, 1792, 2048, 2100, 2200});
    EXPECT_EQ(play.stats().run.totals.perfectSpindashes, 1u);
    EXPECT_EQ(play.stats().run.sixTapAttempts, 0u);
    EXPECT_EQ(play.stats().run.speedFractionSum, 0.0f);

    // A count of 0 on a later charging frame starts counting again.
    ChargeAndRelease(play, {100, 0, 512, 1024, 1536, 2048});
    EXPECT_EQ(play.stats().run.totals.perfectSpindashes, 2u);
    EXPECT_EQ(play.stats().run.sixTapAttempts, 1u);
}

TEST(SpindashRelease, NotSeenOnAFrameThatIsNotActive) {
    TickBuilder play;
    play.StartGame().P1Spindash(1, 2048).Active();
    play.P1Spindash(0, 2048).Still().Active();
    EXPECT_EQ(play.stats().run.totals.perfectSpindashes, 0u);
    EXPECT_EQ(play.stats().spindash.p1ReleaseSpeed, 0u);
}

TEST(SpindashChargeFractions, RefreshOnlyWhileP1Charges) {
    TickBuilder play;
    play.StartGame().P2Spindash(1, 1024).Active(3);
    EXPECT_EQ(play.stats().spindash.p2ChargeFraction, 0.0f);
    play.P1Spindash(1, 512).Active();
    EXPECT_EQ(play.stats().spindash.p2ChargeFraction, 0.5f);
    EXPECT_EQ(play.stats().spindash.p1ChargeFraction, 0.25f);
    play.P2Spindash(0, 1024).Active();
    EXPECT_EQ(play.stats().spindash.p2ReleaseSpeed, 2560u);
    play.P1Spindash(0, 512).P2Spindash(1, 2048).Active(2);
    EXPECT_EQ(play.stats().spindash.p2ChargeFraction, 0.5f);
    EXPECT_EQ(play.stats().spindash.p1ChargeFraction, 0.25f);
}

TEST(Hits, CountedWhenTheHitTimerJumpsFromZeroTo120OnAnActiveFrame) {
    struct Case {
        uint32_t before, after, hits;
    };
    const Case cases[] = {{0, 120, 1}, {0, 119, 0}, {5, 120, 0}};
    for (const Case& c : cases) {
        TickBuilder play;
        play.StartGame().P1HitTimer(c.before).P2HitTimer(c.before).Active();
        play.P1HitTimer(c.after).Active().P2HitTimer(c.after).Active();
        EXPECT_EQ(play.stats().run.totals.p1Hits, c.hits) << c.before << " -> " << c.after;
        EXPECT_EQ(play.stats().run.p2Hits, c.hits) << c.before << " -> " << c.after;
    }

    TickBuilder lagged;  // the jump falls on a lag frame and is gone by the next active one
    lagged.StartGame().P1HitTimer(120).Lag().P1HitTimer(119).Active();
    EXPECT_EQ(lagged.stats().run.totals.p1Hits, 0u);
}

}  // namespace
