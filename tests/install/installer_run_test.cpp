// The installer run inside a whole installation: the package in the
// temporary folder, the request the shell receives, the bounded wait and the
// package's removal on every way out.
#include "install_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

namespace {

using install_test::InstallTest;
using install_test::kConfig;
using install_test::kMsiLog;
using install_test::kTempFolder;
using install_test::Options;
namespace fs = std::filesystem;

const char kTimeoutText[] =
    "msiexec did not finish within 30 minutes; see the MSI log named in /l*v for the action it "
    "was blocked on";
const char kNilId[] = "00000000-0000-0000-0000-000000000000";

class InstallerRun : public InstallTest {
protected:
    // The installer's launch request as the shell saw it; the package's
    // bytes are read while the launch is recorded, before anything removes
    // the file.
    struct Launch {
        nlohmann::json request;
        std::optional<std::string> package;
    };
    std::vector<Launch> launches;
    void SetUp() override {
        InstallTest::SetUp();
        watch_launches();
    }
    void watch_launches() {
        launches.clear();
        machine().log.on_record = [this](const winsim::CallRecord& r) {
            if (r.call != "ShellExecuteExW") return;
            const auto& info = r.args["pExecInfo"];
            if (winsim::file_name_of(info["lpFile"].get<std::string>()) == "taskkill.exe") return;
            Launch l{info, std::nullopt};
            std::ifstream in(info["lpFile"].get<std::string>(), std::ios::binary);
            if (in) l.package.emplace(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            launches.push_back(std::move(l));
        };
    }
    std::string expected_parameters(const char* ui, const char* tray, const char* mode, const char* id) {
        return std::string(" /") + ui + " /norestart /l*v \"" + host_path(kMsiLog).string()
               + "\" TRAY_MODE=" + tray + " ONETIME_MODE=" + mode + " ONETIME_ID=" + id;
    }
    std::string expected_package() {
        const auto ticks = calls("GetTickCount");
        const auto tick = ticks.empty() ? 0 : ticks.back().result.get<std::uint32_t>();
        return (host_path(kTempFolder) / ("sablewick_remote_4242_" + std::to_string(tick) + ".msi")).string();
    }
};

TEST_F(InstallerRun, InteractiveRunShowsTheInstallersBasicInterface) {
    ASSERT_EQ(install(), 0);

    ASSERT_EQ(launches.size(), 1u);
    const auto& request = launches[0].request;
    EXPECT_EQ(request["lpVerb"], "open");
    EXPECT_EQ(request["lpFile"], expected_package());
    EXPECT_EQ(request["lpParameters"], expected_parameters("qb", "install", "manytimes", kNilId));
    EXPECT_EQ(request["nShow"], SW_SHOWNORMAL);
    EXPECT_TRUE(request["hwnd"].is_null());
    EXPECT_TRUE(request["lpDirectory"].is_null());
    EXPECT_EQ(launches[0].package, resource(L"MSI", 102));

    // The stand-in read one log path and the three properties.
    const auto msiexec = started("msiexec.exe");
    ASSERT_EQ(msiexec.size(), 1u);
    EXPECT_TRUE(msiexec[0]->details["valid"].get<bool>()) << msiexec[0]->details.dump();
    EXPECT_EQ(msiexec[0]->details["log"], host_path(kMsiLog).string());
    EXPECT_TRUE(file_exists(kMsiLog));

    // The launch handed back the installer's process, and the run waited for
    // that process to end.
    const auto installerWait = calls("WaitForSingleObject").back();
    ASSERT_FALSE(request["hProcess"].is_null());
    EXPECT_EQ(installerWait.args["hHandle"], request["hProcess"]);
    EXPECT_EQ(installerWait.args["dwMilliseconds"], 1800000);
    EXPECT_EQ(installerWait.result, WAIT_OBJECT_0);
    EXPECT_TRUE(temp_packages().empty());
    expect_no_leaks();
}

TEST_F(InstallerRun, SilentNotrayRunWithAOneTimeRecord) {
    const std::string record =
        "22 serialization::archive 13 0 0 1 8E41C7D2-53B0-4A6F-B9E1-2D7C04F5A913 77\r\n";
    machine().modules.add_resource(winsim::ResourceKey::of_name(L"ONETIME"),
                                   winsim::ResourceKey::of_id(108), 1033,
                                   std::vector<unsigned char>(record.begin(), record.end()));

    ASSERT_EQ(install({/*silent*/ true, /*update*/ false, /*notray*/ true, std::nullopt}), 0);

    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].request["lpParameters"],
              expected_parameters("qn", "notray", "onetime", "8e41c7d2-53b0-4a6f-b9e1-2d7c04f5a913"));
    EXPECT_EQ(launches[0].request["nShow"], SW_HIDE);
    // notray selects the installer's tray mode only: the tray program starts.
    EXPECT_EQ(started("SablewickTrayAgent.exe").size(), 1u);
    expect_no_leaks();
}

TEST_F(InstallerRun, InstallersOwnResultChangesNothing) {
    for (DWORD exitCode : {0u, 1602u /* cancelled by the user */, 1603u /* fatal error */}) {
        SCOPED_TRACE(exitCode);
        reset(profile());
        machine().programs.installer.exit_code = exitCode;

        EXPECT_EQ(install(), 0);

        EXPECT_EQ(read_file(kConfig), config_template());
        EXPECT_EQ(agent_service().starts, 1u);
        EXPECT_EQ(started("SablewickTrayAgent.exe").size(), 1u);
        EXPECT_TRUE(message_boxes().empty());
        EXPECT_TRUE(temp_packages().empty());
        expect_no_leaks();
    }
}

TEST_F(InstallerRun, InstallerThatDoesNotEndInThirtyMinutes) {
    machine().programs.installer.hang = true;

    EXPECT_EQ(install(), -1);

    ASSERT_EQ(message_boxes().size(), 1u);
    const std::string text = message_boxes()[0].text_utf8();
    EXPECT_EQ(text.substr(text.size() - std::strlen(kTimeoutText)), kTimeoutText);
    const auto wait = calls("WaitForSingleObject").back();
    EXPECT_EQ(wait.args["dwMilliseconds"], 1800000);
    EXPECT_EQ(wait.result, WAIT_TIMEOUT);
    EXPECT_TRUE(started("msiexec.exe").at(0)->running_at(machine().clock().now()));
    // The run ends there: no restart, no tray program; the package goes.
    EXPECT_TRUE(calls("ControlService").empty());
    EXPECT_TRUE(started("SablewickTrayAgent.exe").empty());
    EXPECT_TRUE(temp_packages().empty());
    expect_no_leaks();
}

TEST_F(InstallerRun, LaunchWithoutProcessHandleEndsAtOnce) {
    machine().programs.installer.returns_process_handle = false;
    std::uint64_t launchedAt = 0;
    machine().log.on_record = [&](const winsim::CallRecord& r) {
        if (r.call == "ShellExecuteExW") launchedAt = machine().clock().now();
    };

    EXPECT_EQ(install(), -1);

    ASSERT_EQ(message_boxes().size(), 1u);
    EXPECT_NE(message_boxes()[0].text_utf8().find(kTimeoutText), std::string::npos);
    EXPECT_EQ(calls("WaitForSingleObject").back().result, WAIT_FAILED);
    EXPECT_EQ(machine().clock().now(), launchedAt);
    EXPECT_TRUE(temp_packages().empty());
    expect_no_leaks();  // and no close of a null handle among the problems
}

// A launch that fails is reported in the program's one box, and in none when
// the run is silent: the shell shows no dialog of its own on top of it.
TEST_F(InstallerRun, FailedLaunchRemovesThePackageBeforeTheMessage) {
    struct Cause {
        const char* name;
        DWORD error;
        std::function<void(winsim::Machine&)> arrange;
    };
    const Cause causes[] = {
        // The third launch is the installer's, after the two taskkill runs.
        {"launch refused", ERROR_ACCESS_DENIED,
         [](winsim::Machine& m) { m.faults.fail("ShellExecuteExW", ERROR_ACCESS_DENIED, 3); }},
        {"no program for the package type", ERROR_NO_ASSOCIATION,
         [](winsim::Machine& m) { m.programs.installer.associated = false; }},
    };
    for (const Cause& cause : causes) {
        for (bool silent : {false, true}) {
            SCOPED_TRACE(std::string(cause.name) + (silent ? ", silent" : ", interactive"));
            reset(profile());
            watch_launches();
            cause.arrange(machine());
            std::optional<bool> packageAtMessage;
            auto recordLaunch = machine().log.on_record;
            machine().log.on_record = [&](const winsim::CallRecord& r) {
                recordLaunch(r);
                if (r.call == "MessageBoxW" && !launches.empty())
                    packageAtMessage = fs::exists(launches[0].request["lpFile"].get<std::string>());
            };

            EXPECT_EQ(install({silent, /*update*/ false, /*notray*/ false, std::nullopt}),
                      cause.error);

            ASSERT_EQ(launches.size(), 1u);
            EXPECT_TRUE(launches[0].package.has_value());  // it was written first
            if (silent) {
                EXPECT_TRUE(message_boxes().empty());
            } else {
                ASSERT_EQ(message_boxes().size(), 1u);
                EXPECT_EQ(message_boxes()[0].owner, "program");
                EXPECT_NE(message_boxes()[0].text_utf8().find(
                              "[windows:" + std::to_string(cause.error) + "]"),
                          std::string::npos);
                EXPECT_EQ(packageAtMessage, false);
            }
            EXPECT_TRUE(temp_packages().empty());
            expect_no_leaks();
        }
    }
}

}  // namespace
