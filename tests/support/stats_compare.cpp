#include "support/stats_compare.h"

#include <sstream>

namespace {

// The run's statistics but its records, which are printed one by one.
void PrintRunTotals(std::ostream& out, const RunStats& run) {
    out << "{chargeFractionSum " << run.chargeFractionSum << ", speedFractionSum " << run.speedFractionSum
        << ", sixTapAttempts " << run.sixTapAttempts << ", p2Hits " << run.p2Hits << ", totals " << run.totals
        << ", totalMinutes " << run.totalMinutes << ", totalSeconds " << run.totalSeconds << ", totalTimerFrames "
        << run.totalTimerFrames << ", recordCount " << run.recordCount << "}";
}

template <typename T>
void Part(std::ostringstream& out, const char* name, const T& a, const T& b) {
    if (!(a == b)) out << name << ": " << a << " != " << b << "\n";
}

}  // namespace

std::ostream& operator<<(std::ostream& out, TrackerState state) {
    const uint32_t number = static_cast<uint32_t>(state);
    out << number;
    return number < static_cast<uint32_t>(kTrackerStateCount) ? out << " (" << TrackerStateName(state) << ")" : out;
}

std::ostream& operator<<(std::ostream& out, const LevelCounts& counts) {
    const char* separator = "{";
    for (uint32_t count : CountArray(counts)) {
        out << separator << count;
        separator = ", ";
    }
    return out << "}";
}

std::ostream& operator<<(std::ostream& out, const LevelRecord& record) {
    return out << "{levelIndex " << record.levelIndex << ", " << record.minutes << ":" << record.seconds << " + "
               << record.centiseconds << ", counts " << record.counts << ", closed " << +record.closed
               << ", specialStage " << +record.specialStage << "}";
}

std::ostream& operator<<(std::ostream& out, const ClassifierLatches& latches) {
    return out << "{levelClosed " << +latches.levelClosed << ", specialPauseStamp " << latches.specialPauseStamp
               << ", pauseLatch " << +latches.pauseLatch << ", levelEndTicks " << latches.levelEndTicks
               << ", levelEndSeen " << +latches.levelEndSeen << ", specialStageSeen " << +latches.specialStageSeen
               << "}";
}

std::ostream& operator<<(std::ostream& out, const LastSpindash& spindash) {
    return out << "{p1TapCount " << spindash.p1TapCount << ", p1ReleaseSpeed " << spindash.p1ReleaseSpeed
               << ", p1ChargeFraction " << spindash.p1ChargeFraction << ", p1SpeedFraction "
               << spindash.p1SpeedFraction << ", p2ReleaseSpeed " << spindash.p2ReleaseSpeed << ", p2ChargeFraction "
               << spindash.p2ChargeFraction << ", p2SpeedFraction " << spindash.p2SpeedFraction << "}";
}

std::string StatsDifferences(const TrackerStats& a, const TrackerStats& b, StatsCompareOptions options) {
    TrackerStats right = b;
    if (!options.state) {
        right.trackerState = a.trackerState;
        right.latches.levelEndSeen = a.latches.levelEndSeen;
    }
    if (a == right) return "";   // equal records allocate nothing
    std::ostringstream out;
    Part(out, "trackerState", a.trackerState, right.trackerState);
    Part(out, "levelIndex", a.levelIndex, right.levelIndex);
    Part(out, "runNumber", a.runNumber, right.runNumber);
    Part(out, "latches", a.latches, right.latches);
    Part(out, "spindash", a.spindash, right.spindash);
    RunStats leftRun = a.run;
    RunStats rightRun = right.run;
    for (int i = 0; i < kLevelRecordCapacity; ++i) {
        if (a.run.records[i] != right.run.records[i])
            out << "records[" << i << "]: " << a.run.records[i] << " != " << right.run.records[i] << "\n";
        leftRun.records[i] = rightRun.records[i] = LevelRecord{};
    }
    if (leftRun != rightRun) {
        out << "run: ";
        PrintRunTotals(out, a.run);
        out << " != ";
        PrintRunTotals(out, right.run);
        out << "\n";
    }
    return out.str();
}
