// One Connected pass against the stand-in emulator process (the window read,
// the signature check, the decode, the classifier and the Publish copy)
// against the bare read of the 24576-byte window from the same process, the
// floor of a pass: one system call. The stand-in plays its sample at 60 frames
// a second meanwhile, as an emulator would. BM_ConnectedPassLinked runs the
// same passes while a main thread collects 60 times a second and drives
// LiveSplit (a fake server on the loopback): the link is the main thread's,
// and a pass must not pay for it. BM_ConnectedPassServed: the main thread
// serves the overlay and LiveSplit One instead, an event stream and a
// LiveSplit One client connected.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <thread>

#include "livesplit/livesplit_link.h"
#include "app/shared_state.h"
#include "e2e/fake_livesplit.h"
#include "e2e/wire_client.h"
#include "stream/stream_server.h"
#include "e2e/child_process.h"
#include "e2e/e2e_support.h"
#include "emulator/emulator_connection.h"
#include "emulator/ram_decode.h"
#include "app/tracker_thread.h"
#include "platform/clock.h"

namespace {

// One stand-in for the whole run, started on first use and ended at exit.
Standin* SharedStandin(std::string* error) {
    static std::unique_ptr<Standin> standin;
    static std::string startError;
    if (standin == nullptr && startError.empty()) {
        std::string others = ForeignEmulators();
        if (!others.empty()) {
            startError = "another retroarch.exe is running:\n" + others;
        } else {
            standin = std::make_unique<Standin>();
            if (!standin->Start({"--loop", ScenarioPath("sample.txt")})) startError = "the stand-in did not start";
        }
    }
    *error = startError;
    return startError.empty() ? standin.get() : nullptr;
}

// A tracker attached to the stand-in and Connected, as after its first pass.
struct ConnectedTracker {
    std::unique_ptr<EmulatorLink> tracker = std::make_unique<EmulatorLink>();
    std::unique_ptr<GameSnapshot> snapshot = std::make_unique<GameSnapshot>();
    std::unique_ptr<LogBuffer> log = std::make_unique<LogBuffer>();

    bool Connect(benchmark::State& state) {
        std::string error;
        if (SharedStandin(&error) == nullptr) {
            state.SkipWithError(error.c_str());
            return false;
        }
        InitRamDecode(snapshot->ram);
        EmulatorLinkReset(*tracker, kPlatformProcessApi);
        Attach(*tracker, *log);
        if (!tracker->identified) {
            state.SkipWithError("could not connect to the stand-in (ptrace permission?)");
            return false;
        }
        return true;
    }
    ~ConnectedTracker() {
        if (tracker->attached) Disconnect(*tracker);
    }
};

void BM_BareWindowRead(benchmark::State& state) {
    ConnectedTracker connected;
    if (!connected.Connect(state)) return;
    EmulatorConnection& connection = connected.tracker->connection;
    for (auto _ : state) {
        if (ProcessRead(connection.process, connection.ramBase, connection.window, kWindowSize).status !=
            ProcessStatus::Ok) {
            state.SkipWithError("the window read failed");
            break;
        }
        benchmark::DoNotOptimize(connection.window);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWindowSize);
}
BENCHMARK(BM_BareWindowRead)->Unit(benchmark::kMicrosecond);

enum class MainThread { Idle, Linked, Served };

void ConnectedPasses(benchmark::State& state, MainThread mode) {
    const bool linked = mode == MainThread::Linked, served = mode == MainThread::Served;
    ConnectedTracker connected;
    if (!connected.Connect(state)) return;
    // The shared side of the hand-off, as the main thread sets it up.
    SharedState shared{};
    auto sharedLog = std::make_unique<LogBuffer>();
    auto sharedSnapshot = std::make_unique<GameSnapshot>();
    shared.running = true;
    shared.sharedLog = sharedLog.get();
    shared.sharedSnapshot = sharedSnapshot.get();
    // The main thread's frames, 60 a second, each a collect and a LiveSplit step.
    FakeLiveSplit server;
    std::atomic<bool> framing{linked || served};
    std::thread frames;
    std::atomic<uint16_t> ports[2] = {0, 0};
    if (linked) {
        if (!server.Start()) return state.SkipWithError("no loopback listener");
        frames = std::thread([&] {
            auto link = std::make_unique<LiveSplitLink>();
            auto mainSnapshot = std::make_unique<GameSnapshot>();
            auto mainLog = std::make_unique<LogBuffer>();
            LiveSplitLinkInit(*link, "127.0.0.1", server.port());
            while (framing) {
                Collect(shared, *mainSnapshot, *mainLog);
                LogClear(*mainLog);
                LiveSplitFrame(*link, *mainSnapshot, *mainLog, ClockNow(), static_cast<double>(ClockFrequency()));
                ClockSleepMs(16);
            }
        });
        // Timed once the link is made: LiveSplit has its first command.
        for (int wait = 0; wait < 300 && server.Lines().empty(); ++wait) ClockSleepMs(10);
        if (server.Lines().empty()) state.SkipWithError("LiveSplit was never connected");
    }
    // The overlay and LiveSplit One at 60 frames a second, each with a client that reads what it is sent.
    FakeLiveSplitOne timer;
    WireClient events;
    std::thread eventReader;
    if (served) {
        frames = std::thread([&] {
            auto overlay = std::make_unique<StreamServer>(), one = std::make_unique<StreamServer>();
            auto mainSnapshot = std::make_unique<GameSnapshot>();
            auto mainLog = std::make_unique<LogBuffer>();
            StreamServerInit(*overlay, StreamServerKind::Overlay, "127.0.0.1", 0);
            StreamServerInit(*one, StreamServerKind::LiveSplitOne, "127.0.0.1", 0);
            while (framing) {
                Collect(shared, *mainSnapshot, *mainLog);
                LogClear(*mainLog);
                const double frequency = static_cast<double>(ClockFrequency());
                StreamServerFrame(*one, *mainSnapshot, "", *mainLog, ClockNow(), frequency);
                StreamServerFrame(*overlay, *mainSnapshot, "", *mainLog, ClockNow(), frequency);
                ports[0] = overlay->boundPort;
                ports[1] = one->boundPort;
                ClockSleepMs(16);
            }
        });
        for (int wait = 0; wait < 300 && ports[1] == 0; ++wait) ClockSleepMs(10);
        timer.Start(ports[1]);
        if (!events.Connect(ports[0]) || !events.Send("GET /events HTTP/1.1\r\n\r\n"))
            state.SkipWithError("the overlay did not answer");
        events.ReadUntil([&] { return events.received().find("data: ") != std::string::npos; }, std::chrono::seconds(3));
        eventReader = std::thread([&] { events.ReadUntil([&] { return !framing; }, std::chrono::hours(1)); });
    }
    EmulatorLink& tracker = *connected.tracker;
    FrameWatch watch{};
    watch.counterFrequency = static_cast<double>(ClockFrequency());
    for (auto _ : state) {
        TrackerPass(tracker, *connected.snapshot, *connected.log, watch, ClockNow);
        Publish(shared, *connected.snapshot, *connected.log, tracker.attached, tracker.identified);
        if (!tracker.identified) {
            state.SkipWithError("the connection was lost");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWindowSize);
    framing = false;
    if (frames.joinable()) frames.join();
    if (eventReader.joinable()) eventReader.join();
    timer.Stop();
}

void BM_ConnectedPass(benchmark::State& state) { ConnectedPasses(state, MainThread::Idle); }
BENCHMARK(BM_ConnectedPass)->Unit(benchmark::kMicrosecond);

void BM_ConnectedPassLinked(benchmark::State& state) { ConnectedPasses(state, MainThread::Linked); }
BENCHMARK(BM_ConnectedPassLinked)->Unit(benchmark::kMicrosecond);

void BM_ConnectedPassServed(benchmark::State& state) { ConnectedPasses(state, MainThread::Served); }
BENCHMARK(BM_ConnectedPassServed)->Unit(benchmark::kMicrosecond);

}  // namespace
