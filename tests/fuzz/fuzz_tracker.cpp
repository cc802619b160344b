// Arbitrary bytes become a sequence of RAM windows that go through the decode,
// the classifier and the level records; every few ticks a screen is composed
// into a small grid. ASan and UBSan catch any table indexed out of range.
//
// Input: 4-byte commands [op, a, b, c].
//   op % 8 == 0: end of tick: decode the window and classify.
//   op % 8 == 1: a tick whose signature check failed: classify only.
//   op % 8 == 2: compose the screen from a copy of the snapshot.
//   otherwise:   write b (and c into the neighbouring byte) at the offset of
//                decoded source a % 38 (object ids: record c % 150).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/layout.h"
#include "app/screen_buffer.h"
#include "emulator/contract.h"
#include "emulator/ram_decode.h"
#include "tracking/classifier.h"

namespace {

void CheckInvariants(const GameSnapshot& snapshot) {
    const TrackerStats& stats = snapshot.stats;
    if (stats.trackerState > 14) std::abort();
    if (stats.levelIndex > 20) std::abort();
    if (stats.recordCount < 0 || stats.recordCount > kLevelRecordCapacity) std::abort();
    for (int i = 0; i < stats.recordCount; ++i)
        if (stats.records[i].levelIndex > 20) std::abort();
    for (int i = 0; i < kSpeedTableSize; ++i)
        if (stats.spindashSpeedTable[i] != 2048u + 128u * static_cast<uint32_t>(i)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static uint8_t window[kWindowSize];
    static GameSnapshot snapshot;
    static GameSnapshot copy;
    static char cells[64 * 48];

    std::memset(window, 0, sizeof(window));
    std::memcpy(window + kSignatureWindowOffset, kRamSignature, kSignatureSize);
    InitRamDecode(snapshot);
    const WindowOffsetTable& table = WindowOffsets();

    for (size_t i = 0; i + 4 <= size; i += 4) {
        const uint8_t op = data[i], a = data[i + 1], b = data[i + 2], c = data[i + 3];
        switch (op % 8) {
            case 0:
                DecodeRamWindow(window, snapshot);
                ClassifyTick(snapshot);
                CheckInvariants(snapshot);
                break;
            case 1:
                ClassifyTick(snapshot);
                CheckInvariants(snapshot);
                break;
            case 2: {
                copy = snapshot;
                ScreenBuffer screen{};
                screen.width = 64;
                screen.height = 48;
                screen.size = 64 * 48;
                screen.cells = cells;
                ScreenFillBlank(screen);
                ComposeScreenLayout(screen, copy);
                break;
            }
            default: {
                int entry = a % kOffsetSignature;
                uint32_t offset = table.offset[entry];
                if (entry == kOffsetObjectIds) offset += kObjectRecordStride * (c % kObjectIdsSampled);
                window[offset] = b;
                window[offset ^ 1] = c;
                break;
            }
        }
    }
    return 0;
}
