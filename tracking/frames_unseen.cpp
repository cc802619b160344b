#include "tracking/frames_unseen.h"

void AddUnseenFrames(GameSnapshot& snapshot, uint32_t frames) { snapshot.stats.run.totals.framesUnseen += frames; }
