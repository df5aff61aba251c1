// Starting the tray program in the console user's session, from the folder of
// the agent service's executable.
#include "install_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using install_test::InstallTest;
using install_test::kAgentFolder;
using install_test::kTrayProgram;
namespace fs = std::filesystem;

class TrayStart : public InstallTest {
protected:
    void start() { bootstrapper()->StartTrayAgent(); }
    void set_service_path(const std::string& text) {
        agent_service().binary_path = winsim::Services::map_binary_path(machine(), text);
    }
    std::vector<std::string> started_paths() {
        std::vector<std::string> paths;
        for (const auto& p : machine().processes.started())
            if (p->started_by == "CreateProcessAsUserW") paths.push_back(p->path);
        return paths;
    }
};

TEST_F(TrayStart, StartsTheTrayProgramAsTheConsoleUser) {
    start();

    const auto tray = started("SablewickTrayAgent.exe");
    ASSERT_EQ(tray.size(), 1u);
    EXPECT_EQ(tray[0]->user, "alice");
    EXPECT_EQ(tray[0]->session, 1u);
    EXPECT_EQ(tray[0]->desktop, "WinSta0\\Default");
    EXPECT_EQ(tray[0]->creation_flags, 0x420u);
    EXPECT_EQ(tray[0]->current_directory, host_path(kAgentFolder).string());
    EXPECT_TRUE(tray[0]->has_environment);

    const auto create = calls("CreateProcessAsUserW").at(0).args;
    EXPECT_TRUE(create["lpApplicationName"].is_null());
    EXPECT_EQ(create["lpCommandLine"], "\"" + host_path(kTrayProgram).string() + "\"");
    EXPECT_EQ(create["bInheritHandles"], 0);
    const auto duplicate = calls("DuplicateTokenEx").at(0).args;
    EXPECT_EQ(duplicate["dwDesiredAccess"], MAXIMUM_ALLOWED);
    EXPECT_EQ(duplicate["ImpersonationLevel"], SecurityImpersonation);
    EXPECT_EQ(duplicate["TokenType"], TokenPrimary);
    EXPECT_EQ(calls("CreateEnvironmentBlock").at(0).args["bInherit"], 1);
    // The setup program keeps nothing of the new process.
    expect_no_leaks();
}

// A program planted at a blank-separated beginning of the tray program's
// path must not run in the user's session in its place.
TEST_F(TrayStart, PlantedProgramAtAShorterPathIsNotStarted) {
    write_file("C:\\Program.exe", "planted\r\n");

    start();

    EXPECT_EQ(started_paths(), std::vector<std::string>{host_path(kTrayProgram).string()});
    expect_no_leaks();
}

TEST_F(TrayStart, FolderFromTheServicesPathText) {
    struct Case {
        const char* name;
        std::string text;     // the registered text, in Windows form
        std::string program;  // the tray program started; empty: none
    };
    const std::string agentSvc = kAgentFolder + "\\SablewickRemote.exe";
    const Case cases[] = {
        {"quoted, blanks inside, an argument", "\"" + agentSvc + "\" -k netsvcs", kTrayProgram},
        {"quote never closed", "\"" + agentSvc, kTrayProgram},
        // Unquoted with blanks: the Service Control Manager runs the whole
        // path, so the tray program is beside it, not in C:\.
        {"unquoted with blanks", agentSvc, kTrayProgram},
        {"unquoted with blanks and an argument", agentSvc + " -k", kTrayProgram},
        {"unquoted without blanks, an argument", "C:\\Agent\\svc.exe -k",
         "C:\\Agent\\SablewickTrayAgent.exe"},
        {"root folder", "C:\\svc.exe", "C:\\SablewickTrayAgent.exe"},
        {"bare file name", "SablewickRemote.exe", ""},
        {"empty text", "", ""},
        {"lone quote", "\"", ""},
        {"two quotes", "\"\"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset(profile());
        // A tray program in each folder a wrong cut would pick.
        write_file("C:\\SablewickTrayAgent.exe", "root\r\n");
        write_file("C:\\Agent\\SablewickTrayAgent.exe", "agent\r\n");
        set_service_path(c.text);

        start();

        const auto expected = c.program.empty() ? std::vector<std::string>{}
                                                : std::vector<std::string>{host_path(c.program).string()};
        EXPECT_EQ(started_paths(), expected);
        expect_no_leaks();
    }
}

// A service path that is not absolute would send the tray program's search
// to this program's current folder, which is not the agent's and may be
// one anybody can write to: nothing is started. Forward slashes are
// separators on Windows too, and the only ones on the host.
TEST_F(TrayStart, RelativeServicePathStartsNothing) {
    const char* const texts[] = {
        "Sablewick/SablewickRemote.exe",
        "./Sablewick/SablewickRemote.exe",
        "C:Sablewick/SablewickRemote.exe",  // relative to the current folder of C:
        "\"Sablewick/SablewickRemote.exe\" -service",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        auto p = profile();
        p["process"]["current_directory"] = "C:\\";
        reset(p);
        write_file("C:\\Sablewick\\SablewickTrayAgent.exe", "planted\r\n");
        set_service_path(text);

        start();

        EXPECT_TRUE(started_paths().empty());
        EXPECT_TRUE(message_boxes().empty());
        expect_no_leaks();
    }
}

TEST_F(TrayStart, NothingStartsAndEverythingIsReleased) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        bool tokenDuplicated;  // the duplicate and the environment block were made
    };
    const Case cases[] = {
        {"no console session", [this] { machine().sessions.console_session = winsim::kNoConsoleSession; },
         false},
        {"nobody logged on", [this] { machine().sessions.console()->user.reset(); }, false},
        {"not the local system account",
         [this] { machine().security.process_token = winsim::TokenKind::elevated_administrator; },
         false},
        {"service not installed", [this] { machine().services.remove("SablewickRemote"); }, true},
        {"service without a path", [this] { agent_service().binary_path.reset(); }, true},
        {"tray program missing", [this] { fs::remove(host_path(kTrayProgram)); }, true},
        {"duplicate refused", [this] { machine().faults.fail("DuplicateTokenEx", ERROR_ACCESS_DENIED); },
         false},
        {"environment refused",
         [this] { machine().faults.fail("CreateEnvironmentBlock", ERROR_ACCESS_DENIED); }, false},
        {"process creation refused",
         [this] { machine().faults.fail("CreateProcessAsUserW", ERROR_ACCESS_DENIED); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset(profile());
        c.arrange();

        start();

        EXPECT_TRUE(started_paths().empty());
        if (c.tokenDuplicated) {
            EXPECT_EQ(calls("DestroyEnvironmentBlock").size(), 1u);
        }
        EXPECT_TRUE(message_boxes().empty());
        expect_no_leaks();
    }
}

// A tray program path that cannot even be tested is reported: the existence
// test's error leaves, and the tokens and the block are released.
TEST_F(TrayStart, UntestablePathEndsTheRun) {
    const fs::path tray = host_path(kTrayProgram);
    machine().faults.fail_file("stat", kTrayProgram, ERROR_ACCESS_DENIED);

    try {
        start();
        ADD_FAILURE() << "no error";
    } catch (const fs::filesystem_error& e) {
        EXPECT_EQ(e.path1(), tray);
        EXPECT_EQ(e.code(), std::errc::permission_denied);
    }
    EXPECT_TRUE(started_paths().empty());
    expect_no_leaks();
}

}  // namespace
