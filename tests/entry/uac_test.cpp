// Elevation: the administrator check for each kind of token and its failed
// calls, and the "runas" re-launch with its request, its refusals and a
// program path longer than MAX_PATH.
#include "uac.h"
#include "support/machine_fixture.h"

#include "platform/winsim/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using winsim::TokenKind;

class UacTest : public winsim::test::MachineTest {
protected:
    // Records every text the signal carries in announced_.
    void Listen(sablewick::UAC& uac) {
        uac.errorSignal.connect([this](const std::string& text) { announced_.push_back(text); });
    }
    std::vector<std::string> announced_;
};

struct TokenCase {
    TokenKind token;
    BOOL admin;
};

class IsAdminByToken : public UacTest, public ::testing::WithParamInterface<TokenCase> {};

TEST_P(IsAdminByToken, OnlyAFullAdministratorTokenCounts) {
    machine().security.process_token = GetParam().token;
    sablewick::UAC uac;
    EXPECT_EQ(uac.IsAdmin() != FALSE, GetParam().admin != FALSE);

    const auto alloc = calls("AllocateAndInitializeSid");
    ASSERT_EQ(alloc.size(), 1u);
    EXPECT_EQ(alloc[0].args["pSid"]["sid"], "S-1-5-32-544");
    const auto check = calls("CheckTokenMembership");
    ASSERT_EQ(check.size(), 1u);
    EXPECT_TRUE(check[0].args["TokenHandle"].is_null());
    EXPECT_EQ(calls("FreeSid").size(), 1u);
    expect_no_leaks();
}

INSTANTIATE_TEST_SUITE_P(Tokens, IsAdminByToken,
                         ::testing::Values(TokenCase{TokenKind::elevated_administrator, TRUE},
                                           TokenCase{TokenKind::filtered_administrator, FALSE},
                                           TokenCase{TokenKind::standard_user, FALSE},
                                           TokenCase{TokenKind::local_system, TRUE}));

TEST_F(UacTest, FailedSidAllocationAnswersNoAndFreesNothing) {
    machine().faults.fail("AllocateAndInitializeSid", ERROR_NOT_ENOUGH_MEMORY);
    sablewick::UAC uac;
    EXPECT_FALSE(uac.IsAdmin());
    EXPECT_EQ(calls("CheckTokenMembership").size(), 0u);
    EXPECT_EQ(calls("FreeSid").size(), 0u);
    expect_no_leaks();
}

TEST_F(UacTest, FailedMembershipCheckAnswersNoAndFreesTheSid) {
    machine().faults.fail("CheckTokenMembership", ERROR_ACCESS_DENIED);
    sablewick::UAC uac;
    EXPECT_FALSE(uac.IsAdmin());
    EXPECT_EQ(calls("FreeSid").size(), 1u);
    EXPECT_EQ(machine().security.live_sids(), 0u);
    expect_no_leaks();
}

// ---------------------------------------------------------------- RunElevated

class RunElevatedTest : public UacTest {
protected:
    nlohmann::json profile() override {
        auto p = MachineTest::profile();
        p["security"]["token"] = "standard_user";
        return p;
    }
};

TEST_F(RunElevatedTest, AsksTheShellForRunasOfTheProgramItself) {
    for (const std::wstring parameters : {L"", L"--company_id \"A B\" "}) {
        machine().log.clear();
        sablewick::UAC uac;
        Listen(uac);
        uac.RunElevated(parameters);

        const auto launches = calls("ShellExecuteExW");
        ASSERT_EQ(launches.size(), 1u);
        const auto& info = launches[0].args["pExecInfo"];
        EXPECT_TRUE(info["hwnd"].is_null());
        EXPECT_EQ(info["lpVerb"], "runas");
        EXPECT_EQ(info["lpFile"], winsim::to_utf8(machine().kernel.module_path));
        // Never a null pointer, also when there is nothing to pass on.
        EXPECT_EQ(info["lpParameters"], winsim::to_utf8(parameters));
        EXPECT_TRUE(info["lpDirectory"].is_null());
        EXPECT_EQ(info["nShow"], SW_SHOWNORMAL);
        // The elevated copy runs on its own: no handle to it is asked for.
        EXPECT_TRUE(info["hProcess"].is_null());
    }
    EXPECT_TRUE(announced_.empty());
    ASSERT_EQ(machine().processes.started().size(), 2u);
    EXPECT_EQ(machine().processes.started()[0]->token, TokenKind::elevated_administrator);
    expect_no_leaks();
}

TEST_F(RunElevatedTest, AnAdministratorLaunchesNothing) {
    machine().security.process_token = TokenKind::elevated_administrator;
    sablewick::UAC uac;
    Listen(uac);
    uac.RunElevated(L"--silent ");
    EXPECT_EQ(calls("ShellExecuteExW").size(), 0u);
    EXPECT_TRUE(announced_.empty());
}

TEST_F(RunElevatedTest, DeclinedConsentAnnouncesNothing) {
    machine().security.consent_accepted = false;
    sablewick::UAC uac;
    Listen(uac);
    uac.RunElevated(L"");
    EXPECT_EQ(machine().security.consent_prompts, 1u);
    EXPECT_TRUE(announced_.empty());
    EXPECT_TRUE(machine().processes.started().empty());
}

TEST_F(RunElevatedTest, RefusedLaunchIsAnnouncedOnceWithItsCode) {
    for (DWORD error : {DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_FILE_NOT_FOUND}}) {
        announced_.clear();
        machine().faults.fail("ShellExecuteExW", error);
        sablewick::UAC uac;
        Listen(uac);
        uac.RunElevated(L"");
        ASSERT_EQ(announced_.size(), 1u);
        const std::string suffix = "[windows:" + std::to_string(error) + "]";
        EXPECT_TRUE(announced_[0].size() > suffix.size() &&
                    announced_[0].compare(announced_[0].size() - suffix.size(), suffix.size(), suffix) == 0)
            << announced_[0];
        machine().faults.clear();
    }
}

TEST_F(RunElevatedTest, UnreadableProgramPathIsAnnouncedAndNothingLaunched) {
    machine().faults.fail("GetModuleFileNameW", ERROR_ACCESS_DENIED);
    sablewick::UAC uac;
    Listen(uac);
    uac.RunElevated(L"");
    ASSERT_EQ(announced_.size(), 1u);
    EXPECT_NE(announced_[0].find("[windows:5]"), std::string::npos) << announced_[0];
    EXPECT_EQ(calls("ShellExecuteExW").size(), 0u);
}

// GetModuleFileNameW cuts a path that does not fit and still returns a
// length; the launch must name the whole path all the same.
class LongProgramPath : public RunElevatedTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(LongProgramPath, LaunchesTheFullPath) {
    std::wstring path = L"/opt/";
    while (path.size() < GetParam() - 4) path += L"d/";
    path.resize(GetParam() - 4, L'x');
    path += L".exe";
    ASSERT_EQ(path.size(), GetParam());
    machine().kernel.module_path = path;

    sablewick::UAC uac;
    Listen(uac);
    uac.RunElevated(L"");
    EXPECT_TRUE(announced_.empty());
    const auto launches = calls("ShellExecuteExW");
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].args["pExecInfo"]["lpFile"], winsim::to_utf8(path));
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongProgramPath, ::testing::Values(259u, 260u, 261u, 1000u));

// Whatever impersonation the thread was left in, the object's end gives it
// back its own token: the next check is the process's, not the impersonated
// user's.
TEST_F(UacTest, DestructorLeavesTheThreadWithTheProcessToken) {
    machine().security.thread_token = TokenKind::standard_user;
    {
        sablewick::UAC uac;
        EXPECT_FALSE(uac.IsAdmin());
    }
    EXPECT_FALSE(machine().security.thread_token.has_value());
    sablewick::UAC uac;
    EXPECT_TRUE(uac.IsAdmin());
}

}  // namespace
