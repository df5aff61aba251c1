// The console session, the user token it gives whom, and environment blocks.
#include "support/machine_fixture.h"

#include "platform/winsim/api_support.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using winsim::test::MachineTest;

class Sessions : public MachineTest {};

TEST_F(Sessions, UserTokenOnlyForLocalSystemWithAUserLoggedOn) {
    const struct {
        const char* token;
        nlohmann::json user;
        DWORD error;  // 0: a token
    } cases[] = {
        {"local_system", "alice", 0},
        {"local_system", nullptr, ERROR_NO_TOKEN},  // the logon screen
        {"elevated_administrator", "alice", ERROR_PRIVILEGE_NOT_HELD},
        {"filtered_administrator", "alice", ERROR_PRIVILEGE_NOT_HELD},
        {"standard_user", "alice", ERROR_PRIVILEGE_NOT_HELD},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.token) + " / " + c.user.dump());
        auto p = winsim::Machine::default_profile();
        p["security"]["token"] = c.token;
        p["sessions"]["user"] = c.user;
        reset(p);
        const DWORD session = WTSGetActiveConsoleSessionId();
        EXPECT_EQ(session, 1u);
        HANDLE token = nullptr;
        BOOL ok = WTSQueryUserToken(session, &token);
        EXPECT_EQ(ok, c.error == 0);
        if (ok) {
            auto t = machine().handles.object<winsim::Token>(token, "token");
            ASSERT_TRUE(t);
            EXPECT_EQ(t->user, "alice");
            EXPECT_EQ(t->type, TokenPrimary);
            EXPECT_TRUE(CloseHandle(token));
        } else {
            EXPECT_EQ(GetLastError(), c.error);
        }
        expect_no_leaks();
    }
}

TEST_F(Sessions, NoSessionAtTheConsole) {
    auto p = winsim::Machine::default_profile();
    p["sessions"]["console_session"] = nullptr;
    reset(p);
    EXPECT_EQ(WTSGetActiveConsoleSessionId(), 0xFFFFFFFFu);
}

TEST_F(Sessions, EnvironmentBlockHoldsTheUsersVariablesAndOptionallyOurs) {
    machine().security.process_token = winsim::TokenKind::local_system;
    HANDLE token = nullptr;
    ASSERT_TRUE(WTSQueryUserToken(1, &token));
    for (BOOL inherit : {FALSE, TRUE}) {
        SCOPED_TRACE(inherit ? "inherit" : "no inherit");
        LPVOID block = nullptr;
        ASSERT_TRUE(CreateEnvironmentBlock(&block, token, inherit));
        auto vars = winsim::Sessions::parse_block(block, true);
        auto has = [&vars](const std::string& v) { return std::find(vars.begin(), vars.end(), v) != vars.end(); };
        EXPECT_TRUE(has("USERNAME=alice"));
        EXPECT_TRUE(has("USERPROFILE=C:\\Users\\alice"));
        EXPECT_TRUE(has("SystemRoot=C:\\Windows"));
        EXPECT_EQ(has("SESSIONNAME=Console"), inherit == TRUE);  // the setup's own variable
        EXPECT_TRUE(DestroyEnvironmentBlock(block));
    }
    CloseHandle(token);
    expect_no_leaks();
}

TEST_F(Sessions, TokensAndBlocksLeftOpenOrReleasedTwiceAreSeen) {
    machine().security.process_token = winsim::TokenKind::local_system;
    HANDLE token = nullptr;
    ASSERT_TRUE(WTSQueryUserToken(1, &token));
    LPVOID block = nullptr;
    ASSERT_TRUE(CreateEnvironmentBlock(&block, token, FALSE));
    auto leaks = machine().leaks();
    ASSERT_EQ(leaks.size(), 2u);
    EXPECT_NE(leaks[0].find("token of alice"), std::string::npos);
    EXPECT_NE(leaks[1].find("environment block of alice"), std::string::npos);

    EXPECT_TRUE(DestroyEnvironmentBlock(block));
    EXPECT_FALSE(DestroyEnvironmentBlock(block));
    EXPECT_TRUE(CloseHandle(token));
    EXPECT_TRUE(machine().leaks().empty());
    ASSERT_EQ(machine().problems().size(), 1u);
    EXPECT_NE(machine().problems()[0].find("double DestroyEnvironmentBlock"), std::string::npos);
}

}  // namespace
