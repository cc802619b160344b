// The tests' child processes on Windows: CreateProcessA, suspended, put in a
// job object that kills it when its last handle closes (so a test binary that
// fails or is killed never leaves a stand-in behind), then resumed; its
// standard output on an anonymous pipe. Cues are the stand-in's named events.
//
// Under Wine the process list holds only the processes of the prefix, and its
// first entry, which the tracker never compares, is the oldest of them. A
// stand-in that were the first entry would be invisible: ChildStart refuses
// to go on in that case.
#include "e2e/child_process.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>

#include "emulator/core_layout.h"
#include "tools/standin/platform.h"

struct ChildProcess {
    HANDLE process;
    HANDLE job;         // JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE
    HANDLE output;      // read end of its standard output, null once closed
    uint32_t processId;
};

namespace {

// One argument as the C runtime splits a command line: in quotes, with the
// backslashes before a quote doubled.
std::string Quoted(const std::string& argument) {
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') quoted.append(backslashes * 2 + 1, '\\');
        else quoted.append(backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

uint32_t FirstProcessInList() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    uint32_t first = Process32First(snapshot, &entry) ? entry.th32ProcessID : 0;
    CloseHandle(snapshot);
    return first;
}

void Close(HANDLE& handle) {
    if (handle != nullptr) CloseHandle(handle);
    handle = nullptr;
}

void CloseAll(ChildProcess* child) {
    Close(child->output);
    Close(child->process);
    Close(child->job);   // kills it if it still runs
}

}  // namespace

ChildProcess* ChildStart(const std::string& program, const std::vector<std::string>& args) {
    auto* child = new ChildProcess{};
    child->job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (child->job == nullptr ||
        !SetInformationJobObject(child->job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        std::fprintf(stderr, "can't set up a job object: error %lu\n", GetLastError());
        CloseAll(child);
        delete child;
        return nullptr;
    }

    // The write end is inheritable only until the child has it: a later child
    // must not hold this one's pipe open.
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE write = nullptr;
    if (!CreatePipe(&child->output, &write, &inheritable, 0)) {
        CloseAll(child);
        delete child;
        return nullptr;
    }
    SetHandleInformation(child->output, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = write;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string commandLine = Quoted(program);
    for (const std::string& arg : args) commandLine += " " + Quoted(arg);
    PROCESS_INFORMATION started{};
    BOOL ok = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                             nullptr, &startup, &started);
    CloseHandle(write);
    if (!ok) {
        std::fprintf(stderr, "can't start %s: error %lu\n", program.c_str(), GetLastError());
        CloseAll(child);
        delete child;
        return nullptr;
    }
    child->process = started.hProcess;
    child->processId = started.dwProcessId;
    if (!AssignProcessToJobObject(child->job, started.hProcess)) {
        std::fprintf(stderr, "can't put %s in a job object: error %lu\n", program.c_str(), GetLastError());
        TerminateProcess(started.hProcess, 1);
        CloseHandle(started.hThread);
        CloseAll(child);
        delete child;
        return nullptr;
    }
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);

    if (FirstProcessInList() == child->processId) {
        std::fprintf(stderr, "%s is the first entry of the process list, which the tracker never compares\n",
                     program.c_str());
        ChildKill(child);
        return nullptr;
    }
    return child;
}

ChildRead ChildReadOutput(ChildProcess* child, std::string* text, int timeoutMs) {
    if (child->output == nullptr) return ChildRead::Ended;
    // Anonymous pipes can't be waited on: look every few milliseconds.
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(child->output, nullptr, 0, nullptr, &available, nullptr)) return ChildRead::Ended;
        if (available > 0) {
            char buffer[512];
            DWORD got = 0;
            if (!ReadFile(child->output, buffer, available < sizeof buffer ? available : sizeof buffer, &got,
                          nullptr) ||
                got == 0) {
                return ChildRead::Ended;
            }
            text->append(buffer, got);
            return ChildRead::Data;
        }
        if (GetTickCount64() >= deadline) return ChildRead::TimeUp;
        Sleep(5);
    }
}

uint32_t ChildProcessId(const ChildProcess* child) { return child->processId; }

void ChildCueMode(ChildProcess* child, bool game) {
    const std::string name = StandinCueEventName(child->processId, game ? ModeCue::Game : ModeCue::Menu);
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str());
    if (event == nullptr) {
        std::fprintf(stderr, "can't open %s: error %lu\n", name.c_str(), GetLastError());
        return;
    }
    SetEvent(event);
    CloseHandle(event);
}

void ChildEndLeavingUnreaped(ChildProcess* child) {
    TerminateProcess(child->process, 1);
    WaitForSingleObject(child->process, INFINITE);
}

void ChildKill(ChildProcess* child) {
    if (child == nullptr) return;
    if (child->process != nullptr) {
        TerminateProcess(child->process, 1);
        WaitForSingleObject(child->process, 10000);
    }
    CloseAll(child);
    delete child;
}

// The handles of this process, from the system's handle table (Wine's
// GetProcessHandleCount always reports 0).
int OpenHandleCount() {
    struct HandleEntry {
        ULONG processId;
        UCHAR objectType;
        UCHAR flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    constexpr ULONG kSystemHandleInformation = 16;
    auto query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) return -1;
    std::vector<char> buffer(1u << 20);
    ULONG needed = 0;
    LONG status;
    while ((status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
           static_cast<LONG>(0xC0000004)) {   // STATUS_INFO_LENGTH_MISMATCH
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) return -1;
    ULONG count = 0;
    std::memcpy(&count, buffer.data(), sizeof count);
    const auto* entries = reinterpret_cast<const HandleEntry*>(buffer.data() + sizeof(void*));
    const DWORD self = GetCurrentProcessId();
    int mine = 0;
    for (ULONG i = 0; i < count; ++i) {
        if (entries[i].processId == self) ++mine;
    }
    return mine;
}

std::string ForeignEmulators() {
    std::string found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return found;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (std::strcmp(entry.szExeFile, kEmulatorProcessName) == 0 &&
            entry.th32ParentProcessID != GetCurrentProcessId()) {
            found += std::to_string(entry.th32ProcessID) + " " + entry.szExeFile + " (parent " +
                     std::to_string(entry.th32ParentProcessID) + ")\n";
        }
    }
    CloseHandle(snapshot);
    return found;
}

std::string CanonicalPath(const std::string& path) {
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return length > 0 && length < sizeof full ? std::string(full, length) : path;
}

std::string MakeTemporaryDirectory() {
    char base[MAX_PATH];
    DWORD length = GetTempPathA(sizeof base, base);
    if (length == 0 || length >= sizeof base) return std::string();
    static int serial = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string directory = CanonicalPath(std::string(base) + ProcessUniqueName("ringwatch-e2e-") + "-" +
                                              std::to_string(++serial));
        if (CreateDirectoryA(directory.c_str(), nullptr)) return directory + "\\";
    }
    return std::string();
}

bool MoveAsideWhileRunning(const std::string& path) {
    return MoveFileExA(path.c_str(), (path + ".old").c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

// Wine starts a host program named by its Unix path, but hands it neither a
// process handle nor our pipes: the shell writes the output and then the exit
// status into files in the working directory, the status file last.
bool RunShell(const std::string& command, std::string* output) {
    if (command.find('"') != std::string::npos) return false;
    static int serial = 0;
    const std::string name = ProcessUniqueName("ringwatch-shell-") + "-" + std::to_string(++serial);
    const std::string out = name + ".out";
    const std::string status = name + ".status";
    std::string commandLine = "/bin/sh -c \"{ " + command + " ; } >" + out + " 2>&1; echo $? >" + name +
                              ".part; mv " + name + ".part " + status + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
        return false;
    }
    if (started.hProcess != nullptr) CloseHandle(started.hProcess);
    if (started.hThread != nullptr) CloseHandle(started.hThread);

    const ULONGLONG deadline = GetTickCount64() + 30000;
    int exitStatus = -1;
    while (GetTickCount64() < deadline) {
        if (FILE* file = std::fopen(status.c_str(), "r")) {
            if (std::fscanf(file, "%d", &exitStatus) != 1) exitStatus = -1;
            std::fclose(file);
            break;
        }
        Sleep(10);
    }
    if (FILE* file = std::fopen(out.c_str(), "rb")) {
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) output->append(buffer, got);
        std::fclose(file);
    }
    DeleteFileA(out.c_str());
    DeleteFileA(status.c_str());
    return exitStatus == 0;
}

// The process ID and the moment the name was first asked for: tests side by
// side under Wine, each with a wineserver of its own, get the same IDs.
std::string ProcessUniqueName(const char* prefix) {
    static const std::string unique = [] {
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        return std::to_string(GetCurrentProcessId()) + "-" + std::to_string(now.QuadPart);
    }();
    return prefix + unique;
}

std::string ProgramWithDataIn(const std::string& program, const std::string& folder, std::string* dataFolder) {
    const size_t slash = program.find_last_of("/\\");
    const std::string copy = folder + program.substr(slash == std::string::npos ? 0 : slash + 1);
    if (!CopyFileA(CanonicalPath(program).c_str(), copy.c_str(), FALSE)) return std::string();
    *dataFolder = folder;
    return copy;
}
