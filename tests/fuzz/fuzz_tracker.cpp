// Arbitrary bytes become a sequence of RAM windows that go through the decode,
// the classifier and the level records; now and then a screen is composed into
// a grid of the input's size. ASan and UBSan catch any table indexed out of
// range; the input language is in tests/support/tracker_fuzz_input.h.
#include <cstdint>
#include <cstdlib>

#include "support/tracker_fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!PlayTrackerInput(data, size, nullptr)) std::abort();
    return 0;
}
