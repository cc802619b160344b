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
    ProcessHandle process = ProcessOpen(standin.pid());
    ASSERT_NE(process, nullptr) << "error " << ProcessLastError();
    // Query rights bring the limited query right with them; nothing else.
    EXPECT_EQ(GrantedAccess(process),
              static_cast<ACCESS_MASK>(PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ));

    ModuleHandle modules[1024];
    uint32_t needed = 0;
    ASSERT_TRUE(ProcessEnumModules(process, modules, sizeof modules, &needed)) << "error " << ProcessLastError();
    ModuleHandle core = 0;
    char path[260];
    for (uint32_t i = 0; i < needed / sizeof(ModuleHandle) && i < 1024 && core == 0; ++i) {
        ASSERT_GT(ProcessModuleFileName(process, modules[i], path, sizeof path), 0u) << "module " << i;
        if (std::strcmp(std::strrchr(path, '\\') + 1, kCoreModuleName) == 0) core = modules[i];
    }
    ASSERT_NE(core, 0u) << "no " << kCoreModuleName << " among " << needed / sizeof(ModuleHandle) << " modules";
    EXPECT_EQ(std::string(path), StandinPath(kCoreModuleName));
    ModuleInfo info{};
    ASSERT_TRUE(ProcessModuleInformation(process, core, &info)) << "error " << ProcessLastError();
    EXPECT_EQ(info.baseOfDll, core);

    // The stand-in's cartridge: its header at 0x100 of the ROM it maps at 0x60000000.
    const uint64_t header = 0x60000000ull + 0x100;
    MemoryRegion region{};
    ASSERT_TRUE(ProcessQueryRegion(process, header, &region)) << "error " << ProcessLastError();
    EXPECT_EQ(region.state, kMemCommit);
    EXPECT_LE(region.baseAddress, header);
    char bytes[kHeaderPatternSize];
    ASSERT_TRUE(ProcessReadMemory(process, header, bytes, sizeof bytes)) << "error " << ProcessLastError();
    EXPECT_EQ(std::memcmp(bytes, kHeaderPattern, kHeaderPatternSize), 0);

    // The same bytes written back: refused, and the stand-in goes on running.
    SIZE_T written = 0;
    EXPECT_FALSE(WriteProcessMemory(process, reinterpret_cast<void*>(header), bytes, sizeof bytes, &written));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(TerminateProcess(process, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(ProcessReadMemory(process, header, bytes, sizeof bytes)) << "the stand-in still runs";
    ProcessClose(process);
}

}  // namespace
