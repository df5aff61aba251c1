// CreateProcessAsUserW's resolution of a command line, what it records, and
// waits for processes on the virtual clock.
#include "support/machine_fixture.h"

#include "platform/winsim/api_support.h"
#include "platform/winsim/status_codes.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using winsim::TokenKind;
using winsim::test::MachineTest;

const char kTray[] = "C:\\Program Files\\Sablewick\\Sablewick Remote\\SablewickTrayAgent.exe";
const char kPackage[] = "C:\\Users\\alice\\AppData\\Local\\Temp\\sablewick_remote_4242_1.msi";

class Processes : public MachineTest {
protected:
    nlohmann::json profile() override {
        auto p = MachineTest::profile();
        p["security"]["token"] = "local_system";
        return p;
    }

    // The console user's primary token, as the tray program start makes it.
    HANDLE user_token() {
        HANDLE session = nullptr, primary = nullptr;
        EXPECT_TRUE(WTSQueryUserToken(machine().sessions.console_session, &session));
        EXPECT_TRUE(DuplicateTokenEx(session, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &primary));
        CloseHandle(session);
        return primary;
    }

    // Starts `line` (Windows paths mapped to the sandbox as the product sees
    // them); the started process, or null with the error.
    std::shared_ptr<winsim::Process> start(std::wstring line, DWORD& error) {
        HANDLE token = user_token();
        STARTUPINFOW si{};
        si.cb = sizeof si;
        std::wstring desktop = L"WinSta0\\Default";
        si.lpDesktop = desktop.data();
        PROCESS_INFORMATION pi{};
        std::vector<wchar_t> cmd(line.begin(), line.end());
        cmd.push_back(L'\0');
        BOOL ok = CreateProcessAsUserW(token, nullptr, cmd.data(), nullptr, nullptr, FALSE, 0x420, nullptr,
                                       nullptr, &si, &pi);
        error = ok ? 0 : GetLastError();
        CloseHandle(token);
        if (!ok) return nullptr;
        auto p = machine().processes.by_handle(machine(), pi.hProcess);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return p;
    }

    std::wstring host(const std::string& windows_path) { return machine().host_wpath(windows_path); }

    HANDLE run_installer() {
        write_file(kPackage, std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + "package");
        std::wstring file = host(kPackage), params = L" /qn /norestart";
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.lpVerb = L"open";
        info.lpFile = file.c_str();
        info.lpParameters = params.c_str();
        EXPECT_TRUE(ShellExecuteExW(&info));
        return info.hProcess;
    }
};

TEST_F(Processes, UnquotedCommandLineTriesEachBlankSeparatedBeginning) {
    const struct {
        const char* name;
        bool quoted;
        std::vector<std::string> planted;
        const char* started;  // null: ERROR_FILE_NOT_FOUND
    } cases[] = {
        {"unquoted, nothing planted", false, {}, kTray},
        {"unquoted, C:\\Program.exe planted", false, {"C:\\Program.exe"}, "C:\\Program.exe"},
        {"unquoted, a program at the second beginning", false, {"C:\\Program Files\\Sablewick\\Sablewick.exe"},
         "C:\\Program Files\\Sablewick\\Sablewick.exe"},
        {"quoted, C:\\Program.exe planted", true, {"C:\\Program.exe"}, kTray},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset(profile());
        for (const auto& p : c.planted) write_file(p, "planted\r\n");
        std::wstring line = host(kTray);
        if (c.quoted) line = L"\"" + line + L"\"";
        DWORD error = 0;
        auto p = start(line, error);
        ASSERT_TRUE(p) << "error " << error;
        EXPECT_EQ(p->path, host_path(c.started).string());
        EXPECT_EQ(p->command_line, winsim::to_utf8(line));
        expect_no_leaks();
    }
}

TEST_F(Processes, MissingProgramAndWrongTokens) {
    DWORD error = 0;
    EXPECT_FALSE(start(host("C:\\Program Files\\Nothing Here\\tray.exe"), error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    HANDLE session = nullptr, impersonation = nullptr;
    ASSERT_TRUE(WTSQueryUserToken(machine().sessions.console_session, &session));
    ASSERT_TRUE(DuplicateTokenEx(session, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenImpersonation,
                                 &impersonation));
    std::wstring line = host(kTray);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const struct {
        HANDLE token;
        DWORD error;
    } cases[] = {{impersonation, winsim::kErrorBadTokenType}, {nullptr, ERROR_INVALID_HANDLE}};
    for (const auto& c : cases) {
        EXPECT_FALSE(CreateProcessAsUserW(c.token, nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                          &si, &pi));
        EXPECT_EQ(GetLastError(), c.error);
    }
    CloseHandle(impersonation);
    CloseHandle(session);
    EXPECT_TRUE(machine().processes.started().empty());
    expect_no_leaks();
}

TEST_F(Processes, RecordsWhatTheProcessWasGiven) {
    HANDLE token = user_token();
    LPVOID env = nullptr;
    ASSERT_TRUE(CreateEnvironmentBlock(&env, token, TRUE));
    const std::wstring folder = host("C:\\Program Files\\Sablewick\\Sablewick Remote");
    std::wstring line = host(kTray);
    std::wstring desktop = L"WinSta0\\Default";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.lpDesktop = desktop.data();
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessAsUserW(token, nullptr, line.data(), nullptr, nullptr, FALSE, 0x420, env, folder.c_str(),
                                     &si, &pi));
    auto p = machine().processes.by_handle(machine(), pi.hProcess);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->id, pi.dwProcessId);
    EXPECT_EQ(p->image, "SablewickTrayAgent.exe");
    EXPECT_EQ(p->desktop, "WinSta0\\Default");
    EXPECT_EQ(p->creation_flags, 0x420u);
    EXPECT_EQ(p->current_directory, winsim::to_utf8(folder));
    EXPECT_EQ(p->user, "alice");
    EXPECT_EQ(p->session, 1u);
    EXPECT_NE(std::find(p->environment.begin(), p->environment.end(), "USERNAME=alice"), p->environment.end());
    EXPECT_TRUE(p->running_at(machine().clock().now()));  // the tray program runs on

    for (HANDLE h : {pi.hThread, pi.hProcess, token}) CloseHandle(h);
    DestroyEnvironmentBlock(env);
    expect_no_leaks();
}

TEST_F(Processes, WaitsRunOnTheVirtualClock) {
    const DWORD thirty_minutes = 1800000;
    const struct {
        const char* name;
        std::uint64_t duration;
        bool hang;
        DWORD wait, exit_code;
        std::uint64_t advanced;
    } cases[] = {
        {"ends within the time-out", 42000, false, WAIT_OBJECT_0, 1603, 42000},
        {"ends after the time-out", 2000000, false, WAIT_TIMEOUT, winsim::kStillActive, thirty_minutes},
        {"hangs", 0, true, WAIT_TIMEOUT, winsim::kStillActive, thirty_minutes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset(profile());
        machine().programs.installer.duration_ms = c.duration;
        machine().programs.installer.hang = c.hang;
        machine().programs.installer.exit_code = 1603;
        HANDLE h = run_installer();
        ASSERT_NE(h, nullptr);
        const auto before = machine().clock().now();
        EXPECT_EQ(WaitForSingleObject(h, thirty_minutes), c.wait);
        EXPECT_EQ(machine().clock().now() - before, c.advanced);
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeProcess(h, &code));
        EXPECT_EQ(code, c.exit_code);
        if (c.wait == WAIT_OBJECT_0) {  // an ended process is signalled at once
            EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
            EXPECT_EQ(machine().clock().now() - before, c.advanced);
        }
        EXPECT_TRUE(CloseHandle(h));
        EXPECT_EQ(WaitForSingleObject(h, 1000), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    EXPECT_EQ(WaitForSingleObject(nullptr, 1000), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
