// A POSIX terminal given the meaning of the Win32 console: the size comes from
// TIOCGWINSZ on stdout, the grid is sent in one write from the home position
// inside synchronized-output markers, and the terminal is restored on exit.
#include "platform/console.h"

#include <csignal>
#include <initializer_list>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct TerminalState {
    bool inputSaved;
    termios savedInput;
    bool screenEntered;     // alternate screen on, cursor hidden
    char* frame;            // escape codes plus the grid, reused across frames
    size_t frameCapacity;
};

TerminalState g_terminal{};

int FdOf(ConsoleHandle handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)); }

void WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t written = ::write(fd, data, length);
        if (written <= 0) return;
        data += written;
        length -= static_cast<size_t>(written);
    }
}

void WriteText(int fd, const char* text) { WriteAll(fd, text, std::strlen(text)); }

// Async-signal-safe: only write and tcsetattr.
void RestoreTerminal() {
    if (g_terminal.screenEntered) {
        WriteText(STDOUT_FILENO, "\x1b[?2026l\x1b[?25h\x1b[?1049l");
        g_terminal.screenEntered = false;
    }
    if (g_terminal.inputSaved) {
        tcsetattr(STDIN_FILENO, TCSANOW, &g_terminal.savedInput);
        g_terminal.inputSaved = false;
    }
}

void OnTerminatingSignal(int signalNumber) {
    RestoreTerminal();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

}  // namespace

ConsoleStdHandles ConsoleGetStdHandles() {
    return ConsoleStdHandles{reinterpret_cast<ConsoleHandle>(intptr_t{STDOUT_FILENO}),
                             reinterpret_cast<ConsoleHandle>(intptr_t{STDIN_FILENO})};
}

void ConsolePrepare(ConsoleHandle input, ConsoleHandle output) {
    const int inputFd = FdOf(input);
    const int outputFd = FdOf(output);
    if (isatty(inputFd) && tcgetattr(inputFd, &g_terminal.savedInput) == 0) {
        g_terminal.inputSaved = true;
        termios raw = g_terminal.savedInput;
        raw.c_lflag &= static_cast<tcflag_t>(~(ECHO | ICANON));
        tcsetattr(inputFd, TCSANOW, &raw);
    }
    if (isatty(outputFd)) {
        WriteText(outputFd, "\x1b[?1049h\x1b[?25l");
        g_terminal.screenEntered = true;
    }
    std::atexit(RestoreTerminal);
    struct sigaction action {};
    action.sa_handler = OnTerminatingSignal;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) sigaction(signalNumber, &action, nullptr);
}

void ConsoleSetTitle(const char* title) {
    if (!isatty(STDOUT_FILENO)) return;
    WriteText(STDOUT_FILENO, "\x1b]0;");
    WriteText(STDOUT_FILENO, title);
    WriteText(STDOUT_FILENO, "\x07");
}

bool ConsoleQuerySize(ConsoleHandle output, int32_t* width, int32_t* height) {
    winsize size{};
    if (ioctl(FdOf(output), TIOCGWINSZ, &size) != 0) return false;
    *width = size.ws_col;
    *height = size.ws_row;
    return true;
}

void ConsoleClear(ConsoleHandle output) { WriteText(FdOf(output), "\x1b[H\x1b[2J"); }

void ConsoleHideCursor(ConsoleHandle output) {
    // The grid write hides the cursor in the same write; nothing to send apart.
    (void)output;
}

void ConsoleWriteGrid(ConsoleHandle output, const char* cells, int32_t size, int32_t width) {
    (void)width;
    if (cells == nullptr || size <= 0) return;
    static const char kBegin[] = "\x1b[?2026h\x1b[?25l\x1b[H";
    static const char kEnd[] = "\x1b[?2026l";
    const size_t needed = sizeof(kBegin) - 1 + static_cast<size_t>(size) + sizeof(kEnd) - 1;
    if (needed > g_terminal.frameCapacity) {
        char* frame = new (std::nothrow) char[needed];
        if (frame == nullptr) return;
        delete[] g_terminal.frame;
        g_terminal.frame = frame;
        g_terminal.frameCapacity = needed;
    }
    char* out = g_terminal.frame;
    std::memcpy(out, kBegin, sizeof(kBegin) - 1);
    out += sizeof(kBegin) - 1;
    for (int32_t i = 0; i < size; ++i) {
        // Control bytes (from a module path, say) would move the terminal's cursor.
        unsigned char c = static_cast<unsigned char>(cells[i]);
        *out++ = (c < 0x20 || c == 0x7f) ? '?' : static_cast<char>(c);
    }
    std::memcpy(out, kEnd, sizeof(kEnd) - 1);
    WriteAll(FdOf(output), g_terminal.frame, needed);
}
