#include "tracking/spindash_stats.h"

#include <cstdint>

namespace {

// Below this charge count a charging pass restarts the tap count (to 1 when the
// count is 0, else to 0); at or above it every rise of the count is a tap.
constexpr uint32_t kTapCountFloor = 150;

// The game's release speed for a charge count: the speed table indexed by the
// count's high byte. False for counts past the table's last charge level.
bool ReleaseSpeedFor(uint32_t chargeCount, uint32_t* speed) {
    const uint32_t level = chargeCount >> 8;
    if (level >= static_cast<uint32_t>(kSpeedTableSize)) return false;
    *speed = kSpindashSpeedTable[level];
    return true;
}

// Where a release speed lies between the slowest and the fastest entry, 0 to 1.
float SpeedFraction(uint32_t speed) {
    const uint32_t* table = kSpindashSpeedTable;
    const int32_t above = static_cast<int32_t>(speed - table[0]);
    const int32_t range = static_cast<int32_t>(table[kSpeedTableSize - 1] - table[0]);
    return static_cast<float>(above) / static_cast<float>(range);
}

void CountHit(uint32_t timer, uint32_t timerPrev, uint32_t* hits) {
    if (timer == kHitTimerOnHit && timerPrev == 0) ++*hits;
}

}  // namespace

void ActiveTickStatistics(GameSnapshot& snapshot, const RamMirror& last) {
    TrackerStats& stats = snapshot.stats;
    const RamMirror& ram = snapshot.ram;
    const uint32_t* table = kSpindashSpeedTable;

    CountHit(ram.p1HitTimer, last.p1HitTimer, &stats.run.totals.p1Hits);
    CountHit(ram.p2HitTimer, last.p2HitTimer, &stats.run.p2Hits);

    uint32_t speed = 0;
    if (last.p1SpindashFlag == 1 && ram.p1SpindashFlag == 0 &&
        ReleaseSpeedFor(ram.p1SpindashCount, &speed)) {
        stats.spindash.p1ReleaseSpeed = speed;
        if (speed == table[kSpeedTableSize - 1]) ++stats.run.totals.perfectSpindashes;
        stats.spindash.p1SpeedFraction = SpeedFraction(speed);
        if (stats.spindash.p1TapCount >= kCountedTapCount) {
            stats.run.chargeFractionSum +=
                static_cast<float>(ram.p1SpindashCount) / static_cast<float>(table[0]);
            stats.run.speedFractionSum += stats.spindash.p1SpeedFraction;
            ++stats.run.sixTapAttempts;
        }
    }

    if (ram.p1SpindashFlag != 0) {
        const float perSpeedUnit = 1.0f / static_cast<float>(table[0]);
        stats.spindash.p2ChargeFraction = static_cast<float>(ram.p2SpindashCount) * perSpeedUnit;
        stats.spindash.p1ChargeFraction = static_cast<float>(ram.p1SpindashCount) * perSpeedUnit;

        // A spindash counts when the tracker saw it start from a count of 0 and
        // then saw the count rise at least four times at 150 or above.
        if (ram.p1SpindashCount < kTapCountFloor) {
            stats.spindash.p1TapCount = ram.p1SpindashCount == 0 ? 1 : 0;
        } else if (stats.spindash.p1TapCount != 0 && last.p1SpindashCount < ram.p1SpindashCount) {
            ++stats.spindash.p1TapCount;
        }
    } else {
        stats.spindash.p1TapCount = 0;
    }

    if (last.p2SpindashFlag == 1 && ram.p2SpindashFlag == 0 &&
        ReleaseSpeedFor(ram.p2SpindashCount, &speed)) {
        stats.spindash.p2ReleaseSpeed = speed;
        stats.spindash.p2SpeedFraction = SpeedFraction(speed);
    }
}
