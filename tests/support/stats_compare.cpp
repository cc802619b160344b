#include "support/stats_compare.h"

#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

// Names are built only for a field that differs: a comparison of equal
// records allocates nothing.
class Differences {
public:
    template <typename T>
    void Field(const char* name, const T& a, const T& b, int index = -1) {
        if (a != b) Name(name, index) << +a << " != " << +b << "\n";
    }
    void Field(const char* name, float a, float b, int index = -1) {
        if (std::memcmp(&a, &b, sizeof(float)) != 0) Name(name, index) << a << " != " << b << "\n";
    }
    std::string str() const { return out_.str(); }

private:
    std::ostream& Name(const char* name, int index) {
        if (index >= 0) out_ << "records[" << index << "].";
        return out_ << name << ": ";
    }
    std::ostringstream out_;
};

// The counts field by field, named by their place in LevelCounts.
void CompareCounts(Differences& d, const char* name, const LevelCounts& a, const LevelCounts& b, int index = -1) {
    const LevelCountArray left = CountArray(a);
    const LevelCountArray right = CountArray(b);
    char field[32];
    for (int i = 0; i < kLevelCountFields; ++i) {
        if (left[i] == right[i]) continue;
        std::snprintf(field, sizeof field, "%s[%d]", name, i);
        d.Field(field, left[i], right[i], index);
    }
}

void CompareRecord(Differences& d, int i, const LevelRecord& a, const LevelRecord& b) {
#define RECORD_FIELD(name) d.Field(#name, a.name, b.name, i)
    RECORD_FIELD(levelIndex);
    RECORD_FIELD(minutes);
    RECORD_FIELD(seconds);
    RECORD_FIELD(centiseconds);
    RECORD_FIELD(closed);
#undef RECORD_FIELD
    CompareCounts(d, "counts", a.counts, b.counts, i);
}

}  // namespace

std::string StatsDifferences(const TrackerStats& a, const TrackerStats& b, StatsCompareOptions options) {
    Differences d;
#define FIELD(name) d.Field(#name, a.name, b.name)
    if (options.state) {
        FIELD(trackerState);
        FIELD(levelEndSeen);
    }
    FIELD(p1TapCount);
    FIELD(p1ReleaseSpeed);
    FIELD(p1ChargeFraction);
    FIELD(p1SpeedFraction);
    FIELD(p2ReleaseSpeed);
    FIELD(p2ChargeFraction);
    FIELD(p2SpeedFraction);
    FIELD(chargeFractionSum);
    FIELD(speedFractionSum);
    FIELD(sixTapAttempts);
    FIELD(levelClosed);
    FIELD(specialPauseStamp);
    FIELD(pauseLatch);
    FIELD(p2Hits);
    FIELD(totalMinutes);
    FIELD(totalSeconds);
    FIELD(totalTimerFrames);
    FIELD(levelEndTicks);
    FIELD(specialStageSeen);
    FIELD(runNumber);
    FIELD(levelIndex);
    FIELD(recordCount);
#undef FIELD
    CompareCounts(d, "totals", a.totals, b.totals);
    for (int i = 0; i < kLevelRecordCapacity; ++i) CompareRecord(d, i, a.records[i], b.records[i]);
    return d.str();
}
