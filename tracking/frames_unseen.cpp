#include "tracking/frames_unseen.h"

void AddUnseenFrames(GameSnapshot& snapshot, uint32_t frames) { snapshot.stats.totals.framesUnseen += frames; }
