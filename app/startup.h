// Program start-up: buffers, console, time base, command line, hand-over to
// the tracker thread, then the render loop, which never returns.
#pragma once

inline constexpr const char* kConsoleTitle = "Ringwatch v0.1 - by corvel";

int RunProgram(int argc, char** argv);
