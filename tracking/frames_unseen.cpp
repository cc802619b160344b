#include "tracking/frames_unseen.h"

#include "tracking/tracker_states.h"

uint32_t UnseenFrames(const RamMirror& ram, uint32_t trackerState, bool chained, uint32_t previousGlobalFrame,
                      double elapsedSeconds) {
    if (!chained || !TrackingActive(trackerState)) return 0;
    if (ram.globalFrame <= previousGlobalFrame) return 0;   // the same frame, or the counter went back
    const uint32_t advance = ram.globalFrame - previousGlobalFrame;
    if (advance == 1) return 0;
    const double seconds = elapsedSeconds > 0.0 ? elapsedSeconds : 0.0;
    const double possible = seconds * kGameFramesPerSecond * kGameFrameRateMargin + kGameFrameSlack;
    if (static_cast<double>(advance) > possible) return 0;
    return advance - 1;
}

void AddUnseenFrames(GameSnapshot& snapshot, uint32_t frames) { snapshot.stats.totals.framesUnseen += frames; }
