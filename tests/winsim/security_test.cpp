// Tokens, SIDs, membership of Administrators and the consent prompt of
// "runas", as the model answers them.
#include "support/machine_fixture.h"

#include "platform/winsim/api_support.h"
#include "platform/winsim/status_codes.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

using winsim::TokenKind;
using winsim::test::MachineTest;

class Security : public MachineTest {
protected:
    PSID administrators() {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        PSID sid = nullptr;
        EXPECT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                             0, 0, 0, 0, &sid));
        return sid;
    }

    // The process token's answer for Administrators, the SID released.
    BOOL is_admin() {
        PSID sid = administrators();
        BOOL member = 2;
        EXPECT_TRUE(CheckTokenMembership(nullptr, sid, &member));
        EXPECT_EQ(FreeSid(sid), nullptr);
        return member;
    }

    struct Request {
        std::wstring verb, file, parameters;
        SHELLEXECUTEINFOW info{};
        Request(std::wstring v, std::wstring f, std::wstring p) : verb(std::move(v)), file(std::move(f)), parameters(std::move(p)) {
            info.cbSize = sizeof info;
            info.lpVerb = verb.c_str();
            info.lpFile = file.c_str();
            info.lpParameters = parameters.c_str();
            info.nShow = SW_SHOWNORMAL;
        }
    };
};

TEST_F(Security, AdministratorsMembershipPerTokenKind) {
    const struct {
        TokenKind token;
        BOOL member;
    } cases[] = {
        {TokenKind::elevated_administrator, TRUE},
        // the filtered token holds the group for deny only: absent
        {TokenKind::filtered_administrator, FALSE},
        {TokenKind::standard_user, FALSE},
        {TokenKind::local_system, TRUE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(winsim::token_kind_name(c.token));
        machine().security.process_token = c.token;
        EXPECT_EQ(is_admin(), c.member);
    }
    expect_no_leaks();
}

TEST_F(Security, MembershipThroughAnImpersonationTokenOnly) {
    machine().security.process_token = TokenKind::local_system;
    HANDLE user = nullptr, primary = nullptr, impersonation = nullptr;
    ASSERT_TRUE(WTSQueryUserToken(machine().sessions.console_session, &user));
    ASSERT_TRUE(DuplicateTokenEx(user, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &primary));
    ASSERT_TRUE(DuplicateTokenEx(user, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenImpersonation, &impersonation));
    PSID sid = administrators();
    BOOL member = 2;
    EXPECT_FALSE(CheckTokenMembership(primary, sid, &member));
    EXPECT_EQ(GetLastError(), winsim::kErrorNoImpersonationToken);
    ASSERT_TRUE(CheckTokenMembership(impersonation, sid, &member));
    EXPECT_FALSE(member);  // the console user is a standard user by default
    FreeSid(sid);
    for (HANDLE h : {impersonation, primary, user}) EXPECT_TRUE(CloseHandle(h));
    expect_no_leaks();
}

TEST_F(Security, SidLeakAndDoubleFreeAreSeen) {
    PSID sid = administrators();
    auto leaks = machine().leaks();
    ASSERT_EQ(leaks.size(), 1u);
    EXPECT_NE(leaks[0].find("S-1-5-32-544"), std::string::npos);

    EXPECT_EQ(FreeSid(sid), nullptr);
    EXPECT_TRUE(machine().leaks().empty());
    EXPECT_EQ(FreeSid(sid), sid);  // the failure return: the SID itself
    auto problems = machine().problems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("double FreeSid"), std::string::npos);
}

TEST_F(Security, InjectedFailuresReturnWhatWindowsReturns) {
    machine().faults.fail("AllocateAndInitializeSid", ERROR_NOT_ENOUGH_MEMORY, 1);
    machine().faults.fail("CheckTokenMembership", ERROR_ACCESS_DENIED, 1);
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    EXPECT_FALSE(AllocateAndInitializeSid(&nt, 2, 32, 544, 0, 0, 0, 0, 0, 0, &sid));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(sid, nullptr);
    EXPECT_EQ(machine().security.live_sids(), 0u);

    sid = administrators();
    BOOL member = 2;
    EXPECT_FALSE(CheckTokenMembership(nullptr, sid, &member));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(member, 2);
    FreeSid(sid);
    auto log = calls("CheckTokenMembership");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].injected);
}

TEST_F(Security, RunasAsksForConsentWithoutFullRights) {
    const std::wstring own = machine().kernel.module_path;
    const struct {
        TokenKind token;
        bool accept;
        BOOL launched;
        unsigned prompts;
    } cases[] = {
        {TokenKind::filtered_administrator, true, TRUE, 1},
        {TokenKind::standard_user, true, TRUE, 1},
        {TokenKind::filtered_administrator, false, FALSE, 1},
        {TokenKind::elevated_administrator, true, TRUE, 0},  // already elevated: no prompt
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(winsim::token_kind_name(c.token)) + (c.accept ? " accepts" : " declines"));
        reset(winsim::Machine::default_profile());
        machine().security.process_token = c.token;
        machine().security.consent_accepted = c.accept;
        Request r(L"runas", own, L"--company_id A B ");
        EXPECT_EQ(ShellExecuteExW(&r.info), c.launched);
        EXPECT_EQ(machine().security.consent_prompts, c.prompts);
        EXPECT_EQ(r.info.hProcess, nullptr);  // fMask 0: no handle
        auto started = machine().processes.started();
        if (!c.launched) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));
            EXPECT_TRUE(started.empty());
            continue;
        }
        ASSERT_EQ(started.size(), 1u);
        EXPECT_EQ(started[0]->token, TokenKind::elevated_administrator);
        EXPECT_EQ(started[0]->parameters, "--company_id A B ");
        EXPECT_EQ(started[0]->command_line, "\"" + winsim::to_utf8(own) + "\" --company_id A B ");
        EXPECT_EQ(started[0]->details["elevated_copy"], true);
    }
    expect_no_leaks();
}

// In a host run an accepted "runas" starts the program once more, for
// real: an elevated administrator over the same sandbox, appending to the
// same trace, with the command line Windows would give it.
TEST_F(Security, HostRunStartsTheElevatedCopyForReal) {
    auto profile = winsim::Machine::default_profile();
    profile["security"]["token"] = "filtered_administrator";
    auto run = winsim::test::run_host_program(profile, {"--company_id", "A B"}, temp_dir() / "host");
    EXPECT_EQ(run.exit_code, 0) << run.err;
    std::map<int, std::vector<nlohmann::json>> by_pid;
    for (const auto& line : run.trace) by_pid[line.value("pid", 0)].push_back(line);
    ASSERT_EQ(by_pid.size(), 2u) << run.out;
    const auto& first = by_pid.begin()->second;
    const auto& copy = std::next(by_pid.begin())->second;
    auto runas = std::find_if(first.begin(), first.end(), [](const nlohmann::json& l) {
        return l["call"] == "ShellExecuteExW" && l["args"]["pExecInfo"]["lpVerb"] == "runas";
    });
    ASSERT_NE(runas, first.end());
    EXPECT_EQ((*runas)["result"], 1);
    const std::string program = (*runas)["args"]["pExecInfo"]["lpFile"];
    const std::string parameters = (*runas)["args"]["pExecInfo"]["lpParameters"];
    ASSERT_FALSE(copy.empty());
    auto line = std::find_if(copy.begin(), copy.end(), [](const nlohmann::json& l) { return l["call"] == "GetCommandLineW"; });
    ASSERT_NE(line, copy.end());
    EXPECT_EQ((*line)["result"], "\"" + program + "\" " + parameters);
    // The copy's profile, written for it alone, is gone again.
    for (const auto& e : std::filesystem::directory_iterator(run.sandbox))
        EXPECT_EQ(e.path().filename().string().rfind(".winsim-elevated-", 0), std::string::npos);
}

}  // namespace
