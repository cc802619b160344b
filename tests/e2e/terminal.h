// A detached tmux session on a socket of its own, for the tests that run the
// whole program on a terminal. On Windows the tests run under Wine, and tmux
// and the program's launcher are the host's.
#pragma once

#include <string>

#include "e2e/child_process.h"

class Terminal {
  public:
    Terminal() : socket_(ProcessUniqueName("ringwatch-e2e-")) {}
    ~Terminal() {
        std::string ignored;
        RunShell("tmux -L " + socket_ + " kill-server", &ignored);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    static bool Available() {
        std::string version;
        return RunShell("tmux -V", &version);
    }
    bool Start(const std::string& command, int columns, int rows) {
        std::string output;
        return RunShell("tmux -L " + socket_ + " new-session -d -s screen -x " + std::to_string(columns) + " -y " +
                            std::to_string(rows) + " '" + command + "'",
                        &output);
    }
    std::string Capture() {
        std::string screen;
        RunShell("tmux -L " + socket_ + " capture-pane -p -t screen", &screen);
        return screen;
    }

  private:
    std::string socket_;
};
