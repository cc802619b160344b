#include "emulator/tracker_thread.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "app/shared_state.h"
#include "platform/clock.h"

int TrackerThreadMain(SharedState* shared) {
    GameSnapshot* snapshot = new (std::nothrow) GameSnapshot();
    bool running;
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        running = shared->running;
    }
    LogBuffer* log = new (std::nothrow) LogBuffer();
    if (snapshot == nullptr || log == nullptr) {
        std::fputs("ringwatch: out of memory for the tracker's buffers\n", stderr);
        std::exit(1);
    }
    if (!running) return 0;

    bool attached = false;
    bool identified = false;
    for (;;) {
        running = Publish(*shared, *snapshot, *log, attached, identified);
        ClockSleepMs(PassSleepMs(attached, identified));
        if (!running) return 0;
    }
}
