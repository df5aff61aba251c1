// Stopping the agent's programs through taskkill and restarting its service,
// on the virtual clock.
#include "agent_control.h"

#include "install_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

namespace {

using install_test::InstallTest;
namespace fs = std::filesystem;

using AgentControl = InstallTest;

const char kSystemTaskkill[] = "C:\\Windows\\System32\\taskkill.exe";

TEST_F(AgentControl, StopsBothProgramsThroughTaskkillHidden) {
    sablewick::StopAgentProcesses();

    const auto launches = calls("ShellExecuteExW");
    ASSERT_EQ(launches.size(), 2u);
    const char* const parameters[] = {"/F /IM SablewickRemoteDesktop.exe",
                                      "/F /IM SablewickTrayAgent.exe"};
    for (std::size_t i = 0; i < 2; ++i) {
        const auto& info = launches[i].args["pExecInfo"];
        EXPECT_EQ(info["cbSize"], 112);
        EXPECT_EQ(info["fMask"], SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI);
        EXPECT_EQ(info["lpVerb"], "open");
        EXPECT_EQ(info["lpFile"], host_path(kSystemTaskkill).string());
        EXPECT_EQ(info["lpParameters"], parameters[i]);
        EXPECT_EQ(info["nShow"], 0);
        EXPECT_TRUE(info["hwnd"].is_null());
        EXPECT_TRUE(info["lpDirectory"].is_null());
    }
    for (const auto& wait : calls("WaitForSingleObject")) EXPECT_EQ(wait.args["dwMilliseconds"], 15000);
    EXPECT_TRUE(machine().processes.running(machine(), "SablewickRemoteDesktop.exe").empty());
    EXPECT_TRUE(machine().processes.running(machine(), "SablewickTrayAgent.exe").empty());
    expect_no_leaks();
}

TEST_F(AgentControl, HangingTaskkillIsGivenFifteenSecondsEach) {
    machine().programs.taskkill.hang = true;
    const auto before = machine().clock().now();

    sablewick::StopAgentProcesses();

    const auto waits = calls("WaitForSingleObject");
    ASSERT_EQ(waits.size(), 2u);
    for (const auto& wait : waits) EXPECT_EQ(wait.result, WAIT_TIMEOUT);
    EXPECT_EQ(machine().clock().now() - before, 30000u);
    EXPECT_EQ(started("taskkill.exe").size(), 2u);
    expect_no_leaks();  // both handles closed although taskkill runs on
}

// A taskkill that cannot be started is passed over without a word: neither
// the program nor the shell shows anything, also in a silent run.
TEST_F(AgentControl, TaskkillThatCannotStartIsPassedOverInSilence) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::size_t launches;
    };
    const Case cases[] = {
        {"taskkill missing", [this] { fs::remove(host_path(kSystemTaskkill)); }, 2},
        {"system folder unknown",
         [this] { machine().faults.fail("GetSystemDirectoryW", ERROR_NOT_ENOUGH_MEMORY); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset(profile());
        c.arrange();

        sablewick::StopAgentProcesses();

        EXPECT_EQ(calls("ShellExecuteExW").size(), c.launches);
        EXPECT_TRUE(calls("WaitForSingleObject").empty());
        EXPECT_TRUE(message_boxes().empty());
        EXPECT_EQ(machine().processes.running(machine(), "SablewickTrayAgent.exe").size(), 1u);
        expect_no_leaks();
    }
}

// This program runs elevated in folders other users may have written to: a
// taskkill.exe put in its current folder or beside it is never started, and
// the system's own ends the agent's programs.
TEST_F(AgentControl, PlantedTaskkillIsNeverStarted) {
    const std::string downloads = "C:\\Users\\alice\\Downloads";
    const std::string desktop = "C:\\Users\\alice\\Desktop";
    for (const std::string& folder : {desktop, downloads}) {
        SCOPED_TRACE(folder);
        auto p = profile();
        p["process"]["module_path"] = downloads + "\\SablewickAgentSetup.exe";
        p["process"]["current_directory"] = desktop;
        reset(p);
        write_file(folder + "\\taskkill.exe", "planted\r\n");

        sablewick::StopAgentProcesses();

        const auto taskkill = started("taskkill.exe");
        ASSERT_EQ(taskkill.size(), 2u);
        for (const auto& run : taskkill) EXPECT_EQ(run->path, host_path(kSystemTaskkill).string());
        EXPECT_TRUE(machine().processes.running(machine(), "SablewickTrayAgent.exe").empty());
        expect_no_leaks();
    }
}

// GetSystemDirectoryW says how much room a long system folder needs; the
// path is asked for again with that room, not cut.
TEST_F(AgentControl, LongSystemFolderIsAskedForAgain) {
    std::string system = "C:\\Windows";
    while (system.size() < 300) system += "\\folder";
    auto p = profile();
    p["folders"]["System"] = system;
    reset(p);

    sablewick::StopAgentProcesses();

    const auto taskkill = started("taskkill.exe");
    ASSERT_EQ(taskkill.size(), 2u);
    EXPECT_EQ(taskkill[0]->path, host_path(system + "\\taskkill.exe").string());
    EXPECT_TRUE(machine().processes.running(machine(), "SablewickTrayAgent.exe").empty());
    expect_no_leaks();
}

TEST_F(AgentControl, ServiceRestart) {
    struct Case {
        const char* name;
        nlohmann::json service;  // profile form; null: not installed
        const char* fault;       // a call made to fail, or null
        unsigned polls, sleeps;
        bool startRequested;
        DWORD finalState;
    };
    const Case cases[] = {
        {"stops at the third poll", {{"state", "running"}, {"stop_polls", 3}}, nullptr, 3, 2, true,
         SERVICE_RUNNING},
        {"never stops", {{"state", "running"}, {"stop_polls", "never"}}, nullptr, 30, 30, true,
         SERVICE_STOP_PENDING},
        {"already stopped", {{"state", "stopped"}}, nullptr, 0, 0, true, SERVICE_RUNNING},
        {"status query fails", {{"state", "running"}, {"stop_polls", 3}}, "QueryServiceStatusEx", 1,
         0, true, SERVICE_STOP_PENDING},
        {"not installed", nullptr, nullptr, 0, 0, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        nlohmann::json p = profile();
        if (c.service.is_null())
            p["services"] = nlohmann::json::object();
        else
            p["services"]["SablewickRemote"].update(c.service);
        reset(p);
        if (c.fault) machine().faults.fail(c.fault, ERROR_ACCESS_DENIED);
        const auto before = machine().clock().now();

        sablewick::RestartAgentService();

        EXPECT_EQ(calls("QueryServiceStatusEx").size(), c.polls);
        EXPECT_EQ(calls("Sleep").size(), c.sleeps);
        EXPECT_EQ(machine().clock().now() - before, 1000u * c.sleeps);
        EXPECT_EQ(calls("StartServiceW").size(), c.startRequested ? 1u : 0u);
        if (c.startRequested) {
            EXPECT_EQ(calls("OpenServiceW")[0].args["dwDesiredAccess"], 0x34);
            EXPECT_EQ(calls("StartServiceW")[0].args["dwNumServiceArgs"], 0);
            EXPECT_EQ(agent_service().state, c.finalState);
        }
        for (const auto& poll : calls("QueryServiceStatusEx")) EXPECT_EQ(poll.args["cbBufSize"], 36);
        EXPECT_EQ(calls("CloseServiceHandle").size(), c.service.is_null() ? 1u : 2u);
        expect_no_leaks();
    }
}

}  // namespace
