// The one block both threads reach, holding only what crosses between them.
// The tracker publishes its snapshot and its pending messages at the end of
// every pass; the main thread collects them at the top of every frame. Both
// touch the shared buffers only under `lock`.
#pragma once

#include <cstdint>
#include <mutex>

#include "log/log_buffer.h"
#include "tracking/game_snapshot.h"

struct SharedState {
    std::mutex lock;              // guards running, ready, sharedLog, sharedSnapshot
    bool running;                 // the tracker thread continues while set
    bool ready;                   // tracker attached and game identified
    LogBuffer* sharedLog;         // the batch on its way to the main thread
    GameSnapshot* sharedSnapshot; // the last published snapshot
    const char* emulator;         // -emulator's name, or null for every emulator; set before the tracker
                                  // thread starts, then only read by it
};

// Tracker thread, end of every pass: copies the snapshot, hands over the
// pass's messages (behind any batch not yet collected, as far as the shared
// log has room; the tracker log keeps its number series), sets
// ready = attached && identified. Returns `running`.
// The caller sleeps afterwards (PassSleepMs, app/tracker_thread.h).
bool Publish(SharedState& shared, const GameSnapshot& trackerSnapshot, LogBuffer& trackerLog,
             bool attached, bool identified);

// Main thread, top of every frame: copies the snapshot, merges a waiting batch
// into the main log and clears the shared log. Returns `ready`.
bool Collect(SharedState& shared, GameSnapshot& mainSnapshot, LogBuffer& mainLog);
