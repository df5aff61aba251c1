// The kernel services every area shares: the handle table, memory
// tracking, the virtual clock, fault injection and the call log.
#include "support/machine_fixture.h"

#include <gmock/gmock.h>

namespace {

using winsim::test::MachineTest;
using testing::HasSubstr;

class Kernel : public MachineTest {};

TEST_F(Kernel, HandleTableReportsLeakAndDoubleClose) {
    auto& m = machine();
    HANDLE a = m.handles.open("process", nullptr, "taskkill.exe");
    HANDLE b = m.handles.open("thread");
    EXPECT_NE(a, b);
    EXPECT_TRUE(CloseHandle(b));

    auto leaks = m.leaks();
    ASSERT_EQ(leaks.size(), 1u);
    EXPECT_THAT(leaks[0], HasSubstr("process handle"));
    EXPECT_THAT(leaks[0], HasSubstr("taskkill.exe"));

    EXPECT_FALSE(CloseHandle(b));
    EXPECT_EQ(m.last_error(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    ASSERT_EQ(m.problems().size(), 1u);
    EXPECT_THAT(m.problems()[0], HasSubstr("double close of thread handle"));

    EXPECT_TRUE(CloseHandle(a));
    EXPECT_TRUE(m.leaks().empty());
}

TEST_F(Kernel, MemoryReportsLeaksDoubleAndForeignFrees) {
    auto& m = machine();
    HLOCAL a = LocalAlloc(LPTR, 16);
    void* c = CoTaskMemAlloc(8);
    EXPECT_EQ(static_cast<unsigned char*>(a)[15], 0);
    EXPECT_EQ(m.leaks().size(), 2u);

    EXPECT_EQ(LocalFree(c), c);  // a CoTaskMem block: refused, handed back
    EXPECT_EQ(LocalFree(a), nullptr);
    EXPECT_EQ(LocalFree(a), a);  // the second time
    CoTaskMemFree(c);
    auto problems = m.problems();
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_THAT(problems[0], HasSubstr("made by CoTaskMemAlloc"));
    EXPECT_THAT(problems[1], HasSubstr("double LocalFree"));
    EXPECT_TRUE(m.leaks().empty());
}

TEST_F(Kernel, VirtualClockAdvancesOnlyBySleep) {
    DWORD t0 = GetTickCount();
    EXPECT_EQ(t0, 5000000u);  // the default profile's start
    EXPECT_EQ(GetTickCount(), t0);
    Sleep(30 * 60 * 1000);  // half an hour, at once
    EXPECT_EQ(GetTickCount() - t0, 1800000u);
    // GetTickCount wraps after 49.7 days, as on Windows.
    machine().clock().set(0xFFFFFFFFull + 10);
    EXPECT_EQ(GetTickCount(), 9u);
}

TEST_F(Kernel, FaultAtNthOccurrenceAndAtEvery) {
    auto& m = machine();
    m.faults.fail("LocalAlloc", ERROR_NOT_ENOUGH_MEMORY, 2);
    HLOCAL a = LocalAlloc(LPTR, 4);
    HLOCAL b = LocalAlloc(LPTR, 4);
    HLOCAL c = LocalAlloc(LPTR, 4);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(b, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_NE(c, nullptr);
    LocalFree(a);
    LocalFree(c);

    // Every occurrence, with an HRESULT for a call that returns one.
    m.faults.fail_status("SHGetKnownFolderPath", E_ACCESSDENIED);
    for (int i = 0; i < 2; ++i) {
        PWSTR path = reinterpret_cast<PWSTR>(1);
        EXPECT_EQ(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path), E_ACCESSDENIED);
        EXPECT_EQ(path, nullptr);
    }
    // An LSTATUS call returns the error it was given.
    m.faults.fail("RegOpenKeyExW", ERROR_ACCESS_DENIED, 1);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", 0, KEY_READ, &key),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);

    auto injected = m.log.named("LocalAlloc");
    ASSERT_EQ(injected.size(), 3u);
    EXPECT_FALSE(injected[0].injected);
    EXPECT_TRUE(injected[1].injected);
    EXPECT_EQ(m.faults.occurrences("SHGetKnownFolderPath"), 2u);
    expect_no_leaks();
}

TEST_F(Kernel, FaultsFromTheProfile) {
    auto p = winsim::Machine::default_profile();
    p["faults"] = {{{"call", "GetModuleFileNameW"}, {"error", 5}}};
    reset(p);
    wchar_t buf[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameW(nullptr, buf, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), 5u);
}

// Windows fails a release only for a handle that is no longer valid: a
// release made to fail reports the failure, yet leaves nothing to leak, and
// a second release is still misuse.
TEST_F(Kernel, ReleaseMadeToFailStillLetsGo) {
    auto& m = machine();
    HANDLE process = m.handles.open("process", nullptr, "taskkill.exe");
    HLOCAL block = LocalAlloc(LPTR, 16);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                         0, 0, 0, 0, &sid));
    for (const char* call : {"CloseHandle", "LocalFree", "RegCloseKey", "FreeSid"})
        m.faults.fail(call, ERROR_INVALID_HANDLE, 1);

    EXPECT_FALSE(CloseHandle(process));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(LocalFree(block), block);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(FreeSid(sid), sid);
    EXPECT_TRUE(m.leaks().empty());
    EXPECT_TRUE(m.problems().empty());

    EXPECT_FALSE(CloseHandle(process));
    EXPECT_EQ(m.problems().size(), 1u);
}

TEST_F(Kernel, LogRecordsArgsResultAndLastError) {
    SetLastError(0);
    wchar_t buf[4];
    GetModuleFileNameW(nullptr, buf, 4);
    auto rec = machine().log.named("GetModuleFileNameW").at(0);
    EXPECT_EQ(rec.args["nSize"], 4);
    EXPECT_EQ(rec.result, 4);
    EXPECT_EQ(rec.lastError, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    auto j = rec.to_json();
    for (const char* key : {"call", "args", "result", "lastError"}) EXPECT_TRUE(j.contains(key)) << key;
}

TEST_F(Kernel, OneMachineAtATime) {
    EXPECT_EQ(&winsim::Machine::current(), &machine());
    EXPECT_THROW(winsim::Machine second, std::logic_error);
    EXPECT_EQ(&winsim::Machine::current(), &machine());
}

TEST_F(Kernel, TemporaryFolderIsInTheSandbox) {
    auto tmp = std::filesystem::temp_directory_path();
    EXPECT_TRUE(machine().sandbox.contains(tmp)) << tmp;
    EXPECT_EQ(machine().sandbox.windows_path(tmp), "C:\\Users\\alice\\AppData\\Local\\Temp");
}

// GetSystemDirectoryW's buffer protocol: a buffer without room for the NUL
// gets nothing and the size needed, NUL included; one with room gets the
// path and its length.
TEST_F(Kernel, SystemDirectoryAndItsBuffer) {
    const std::wstring system = machine().host_wpath("C:\\Windows\\System32");
    const auto length = static_cast<UINT>(system.size());
    std::vector<wchar_t> buf(length + 8, L'#');

    EXPECT_EQ(GetSystemDirectoryW(nullptr, 0), length + 1);
    EXPECT_EQ(GetSystemDirectoryW(buf.data(), length), length + 1);
    EXPECT_EQ(buf[0], L'#');
    ASSERT_EQ(GetSystemDirectoryW(buf.data(), length + 1), length);
    EXPECT_EQ(std::wstring(buf.data()), system);

    machine().faults.fail("GetSystemDirectoryW", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(GetSystemDirectoryW(buf.data(), length + 1), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

// A relative path resolves against the process's current folder; the host
// process works in it while the machine is current, and no longer after.
TEST_F(Kernel, CurrentFolderIsTheHostsWorkingFolder) {
    EXPECT_EQ(std::filesystem::current_path(), host_path("C:\\Windows\\System32"))
        << "a program outside the machine starts in the system folder";

    auto p = profile();
    p["process"]["module_path"] = "C:\\Users\\alice\\Downloads\\SablewickAgentSetup.exe";
    reset(p);
    EXPECT_EQ(std::filesystem::current_path(), host_path("C:\\Users\\alice\\Downloads"))
        << "a program of the machine starts in its own folder";

    p["process"]["current_directory"] = "C:\\Sablewick";
    reset(p);
    EXPECT_EQ(std::filesystem::current_path(), host_path("C:\\Sablewick"));
    write_file("C:\\Sablewick\\a.txt", "a");
    EXPECT_TRUE(std::filesystem::exists("a.txt"));
}

TEST(KernelCurrentFolder, HostWorkingFolderComesBack) {
    const auto before = std::filesystem::current_path();
    {
        winsim::test::TempFolder temp;
        winsim::Machine m(winsim::Machine::default_profile(), temp.path() / "sandbox");
        EXPECT_NE(std::filesystem::current_path(), before);
    }
    EXPECT_EQ(std::filesystem::current_path(), before);
}

TEST_F(Kernel, CriticalSectionsAndComAreBalanced) {
    CRITICAL_SECTION cs;
    ASSERT_TRUE(InitializeCriticalSectionAndSpinCount(&cs, 4000));
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);  // recursion on the one thread
    LeaveCriticalSection(&cs);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), static_cast<HRESULT>(0x80010106u));
    CoUninitialize();
    EXPECT_EQ(machine().leaks().size(), 2u);  // the section, one COM reference
    LeaveCriticalSection(&cs);
    DeleteCriticalSection(&cs);
    CoUninitialize();
    expect_no_leaks();
    CoUninitialize();
    EXPECT_EQ(machine().problems().size(), 1u);
}

}  // namespace
