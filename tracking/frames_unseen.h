// Game frames that no read of the tracker saw. The tracker reads the RAM
// several times a game frame; a machine too busy to run it that often lets
// frames pass unread, and a one-frame event in them (a lag frame, a pause, a
// spindash release) is then missed. The game's global frame counter tells
// how many: it goes up by one every frame the console shows.
#pragma once

#include <cstdint>

// The console's frame rate (NTSC).
inline constexpr double kGameFramesPerSecond = 59.92;
// How far the counter may run ahead of that rate in the time between two
// reads before the advance is taken for a fast-forward or a jump of the
// timeline (tracking/timeline.h): a quarter faster, plus the frame that may
// begin between the two stamps and the read, and one more.
inline constexpr double kGameFrameRateMargin = 1.25;
inline constexpr uint32_t kGameFrameSlack = 2;
