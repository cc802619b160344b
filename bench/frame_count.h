// Game frames that no decode saw, two ways, for the sampling figures: the
// bench's own count from the global frame counter of every decode its pass
// hook sees (split by whether the game was tracked at the pass before, the
// only frames the tracker counts), and the tracker's own count, the
// snapshot's framesUnseen, summed over runs since a new game starts it again
// at 0. Updated on the tracker thread, read after it ended.
#pragma once

#include <cmath>
#include <cstdint>

#include "tracking/game_snapshot.h"
#include "tracking/timeline.h"
#include "tracking/tracker_states.h"

struct FrameCount {
    bool sawFrame = false;
    uint32_t firstFrame = 0;
    uint32_t lastFrame = 0;              // global frame counter of the latest decode
    TrackerState previousState = TrackerState::SegaLogo;
    uint64_t skipped = 0;                // frames between two decodes that no decode saw
    uint64_t skippedTracked = 0;         // of those, the ones after a pass that found the game tracked
    uint32_t runCounted = 0;             // the snapshot's framesUnseen at the latest pass
    uint64_t counted = 0;                // the tracker's own count, over all runs
};

// The frame a pass saw: the one it decoded into `snapshot`, or the next frame
// when it holds a read of it that may not be written far enough to classify
// (not a read two frames or more ahead, which may be a run-ahead burst's).
inline uint32_t FrameSeen(const GameSnapshot& snapshot, const FrameWatch& watch) {
    const bool next = watch.held && watch.heldRam.globalFrame == watch.globalFrame + 1;
    return next ? watch.heldRam.globalFrame : snapshot.ram.globalFrame;
}

// After a pass that decoded `snapshot`.
inline void CountFrames(FrameCount& count, const GameSnapshot& snapshot, const FrameWatch& watch) {
    const uint32_t frame = FrameSeen(snapshot, watch);
    if (count.sawFrame && frame > count.lastFrame) {
        const uint32_t skipped = frame - count.lastFrame - 1;
        count.skipped += skipped;
        if (TrackingActive(count.previousState)) count.skippedTracked += skipped;
    }
    if (frame != 0) {
        if (!count.sawFrame) count.firstFrame = frame;
        count.sawFrame = true;
        count.lastFrame = frame;
    }
    const uint32_t runCounted = snapshot.stats.run.totals.framesUnseen;
    count.counted += runCounted >= count.runCounted ? runCounted - count.runCounted : runCounted;
    count.runCounted = runCounted;
    count.previousState = snapshot.stats.trackerState;
}

// Milliseconds below which `share` of the gaps lie, from a histogram of 0.1 ms
// buckets whose last holds everything longer.
inline double GapPercentileMs(const uint64_t* buckets, int bucketCount, double share) {
    uint64_t total = 0;
    for (int i = 0; i < bucketCount; ++i) total += buckets[i];
    const auto wanted = static_cast<uint64_t>(std::ceil(share * static_cast<double>(total)));
    uint64_t seen = 0;
    for (int i = 0; i < bucketCount; ++i) {
        seen += buckets[i];
        if (seen >= wanted) return (i + 1) * 0.1;
    }
    return bucketCount * 0.1;
}
