// The emulator is opened for querying and reading only: every call the
// tracker makes on it works through that handle, and a write or a kill
// through it is refused.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "e2e/e2e_support.h"
#include "e2e/standin_test.h"
#include "emulator/core_layout.h"
#include "platform/process_memory.h"

namespace {

class LeastPrivilege : public StandinTest {};

// The rights the system recorded for the handle (NtQueryObject, basic information).
ACCESS_MASK GrantedAccess(HANDLE handle) {
    struct BasicInformation {
        ULONG attributes;
        ACCESS_MASK grantedAccess;
        ULONG handleCount;
        ULONG pointerCount;
        ULONG reserved[10];
    } info{};
    using QueryObject = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryObject>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
    if (query == nullptr || query(handle, 0, &info, sizeof info, nullptr) != 0) return 0;
    return info.grantedAccess;
}

TEST_F(LeastPrivilege, EveryCallWorksWithReadAndQueryRightsAndAWriteIsRefused) {
    ASSERT_TRUE(standin.Start({"--mode", "game"}));
    ProcessHandle process = nullptr;
    const ProcessResult opened = ProcessOpen(standin.pid(), &process);
    ASSERT_EQ(opened.status, ProcessStatus::Ok) << "error " << opened.error;
    // Query rights bring the limited query right with them; nothing else.
    EXPECT_EQ(GrantedAccess(process),
              static_cast<ACCESS_MASK>(PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ));

    ModuleImage core{};
    const ProcessResult module = ProcessFindModule(process, kCoreModuleName, &core);
    ASSERT_EQ(module.status, ProcessStatus::Ok) << "error " << module.error;
    ASSERT_NE(core.base, 0u) << "no " << kCoreModuleName;
    EXPECT_EQ(std::string(core.path), StandinPath(kCoreModuleName));
    EXPECT_GT(core.size, 0u);
    for (uint64_t bits : core.unnamed) EXPECT_EQ(bits, 0u) << "every module's name could be had";

    // The stand-in's cartridge: its header at 0x100 of the ROM it maps at 0x60000000.
    const uint64_t header = 0x60000000ull + 0x100;
    MemoryRange range{};
    int count = 0;
    const ProcessResult listed = ProcessListReadable(process, header, header + 1, &range, 1, &count);
    ASSERT_EQ(listed.status, ProcessStatus::Ok) << "error " << listed.error;
    ASSERT_EQ(count, 1) << "the header lies in readable memory";
    EXPECT_EQ(range.base, header);
    char bytes[kHeaderPatternSize];
    const ProcessResult read = ProcessRead(process, header, bytes, sizeof bytes);
    ASSERT_EQ(read.status, ProcessStatus::Ok) << "error " << read.error;
    EXPECT_EQ(std::memcmp(bytes, kHeaderPattern, kHeaderPatternSize), 0);

    // The same bytes written back: refused, and the stand-in goes on running.
    SIZE_T written = 0;
    EXPECT_FALSE(WriteProcessMemory(process, reinterpret_cast<void*>(header), bytes, sizeof bytes, &written));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(TerminateProcess(process, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(ProcessRead(process, header, bytes, sizeof bytes).status, ProcessStatus::Ok) << "the stand-in still runs";
    ProcessClose(process);
}

}  // namespace
