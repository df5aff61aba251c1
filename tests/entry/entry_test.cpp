// The program's entry: the three roads of the decision, the options that
// reach the installation, the exit code, exceptions that must not leave
// wWinMain, and a real run without rights whose elevated copy must receive
// exactly the first copy's arguments.
#include "support/machine_fixture.h"

#include "platform/win32.h"
#include "platform/winsim/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

using winsim::TokenKind;

const std::string kConfig = "C:\\ProgramData\\Sablewick\\Sablewick Remote\\SablewickRemote.cfg";
const std::string kSettings = "C:\\ProgramData\\Sablewick\\Sablewick Remote\\SablewickRemote.dat";

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class EntryTest : public winsim::test::MachineTest {
protected:
    int Run(TokenKind token, const std::vector<std::wstring>& args) {
        machine().security.process_token = token;
        machine().kernel.command_line = winsim::build_command_line(machine().kernel.module_path, args);
        // The entry reads GetCommandLineW; what the runtime passes is ignored.
        std::wstring tail = L"--silent";
        return wWinMain(nullptr, nullptr, &tail[0], SW_SHOWNORMAL);
    }

    std::vector<std::string> RunasParameters() {
        std::vector<std::string> out;
        for (const auto& c : calls("ShellExecuteExW"))
            if (c.args["pExecInfo"]["lpVerb"] == "runas") out.push_back(c.args["pExecInfo"]["lpParameters"]);
        return out;
    }

    bool InstallerRan() { return !machine().processes.started("msiexec.exe").empty(); }
};

struct RoadCase {
    const char* name;
    TokenKind token;
    std::vector<std::wstring> args;
    std::optional<std::string> relaunch;  // the re-launch parameters, if any
    bool installs;
};

void PrintTo(const RoadCase& c, std::ostream* os) { *os << c.name; }

class Roads : public EntryTest, public ::testing::WithParamInterface<RoadCase> {};

TEST_P(Roads, TakesTheRoadOfItsRightsAndOptions) {
    const auto& c = GetParam();
    EXPECT_EQ(Run(c.token, c.args), 0);

    const auto relaunches = RunasParameters();
    if (c.relaunch) {
        ASSERT_EQ(relaunches.size(), 1u);
        EXPECT_EQ(relaunches[0], *c.relaunch);
    } else {
        EXPECT_TRUE(relaunches.empty());
    }
    EXPECT_EQ(InstallerRan(), c.installs);
    EXPECT_TRUE(message_boxes().empty());

    const auto init = calls("CoInitializeEx");
    ASSERT_EQ(init.size(), 1u);
    EXPECT_EQ(init[0].args["dwCoInit"], COINIT_MULTITHREADED);
    EXPECT_EQ(calls("CoUninitialize").size(), 1u);
    EXPECT_EQ(machine().memory.outstanding(), 0u);  // the argument array was freed
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Roads,
    ::testing::Values(
        RoadCase{"administrator_installs", TokenKind::elevated_administrator, {}, {}, true},
        RoadCase{"silent_administrator_installs", TokenKind::elevated_administrator, {L"--silent"}, {}, true},
        RoadCase{"local_system_installs", TokenKind::local_system, {}, {}, true},
        RoadCase{"user_relaunches_without_arguments", TokenKind::standard_user, {}, "", false},
        RoadCase{"silent_user_does_nothing", TokenKind::standard_user, {L"--silent"}, {}, false},
        RoadCase{"filtered_administrator_relaunches", TokenKind::filtered_administrator,
                 {L"--update", L"--company_id", L""}, "--update --company_id \"\" ", false},
        RoadCase{"rejected_command_line_is_passed_on", TokenKind::standard_user, {L"--silent=1"}, "--silent=1 ", false},
        RoadCase{"slash_silent_is_interactive", TokenKind::standard_user, {L"/silent"}, "/silent ", false}),
    [](const auto& info) { return std::string(info.param.name); });

// The options reach the installation: the installer's interface and tray
// mode, the kept configuration of an update, the company identity.
TEST_F(EntryTest, OptionsReachTheInstallation) {
    EXPECT_EQ(Run(TokenKind::elevated_administrator, {L"--silent", L"--notray"}), 0);
    auto installer = machine().processes.started("msiexec.exe");
    ASSERT_EQ(installer.size(), 1u);
    EXPECT_NE(installer[0]->command_line.find(" /qn "), std::string::npos) << installer[0]->command_line;
    EXPECT_NE(installer[0]->command_line.find("TRAY_MODE=notray"), std::string::npos);

    reset(profile());
    const std::string company = "0f8fad5b-d9cb-469f-a165-70867728950e";
    EXPECT_EQ(Run(TokenKind::elevated_administrator, {L"--company_id", winsim::from_utf8(company)}), 0);
    installer = machine().processes.started("msiexec.exe");
    ASSERT_EQ(installer.size(), 1u);
    EXPECT_NE(installer[0]->command_line.find(" /qb "), std::string::npos);
    EXPECT_NE(installer[0]->command_line.find("TRAY_MODE=install"), std::string::npos);
    EXPECT_NE(read_file(kSettings).value_or("").find(company), std::string::npos);

    reset(profile());
    write_file(kConfig, "keep-me=1\r\n");
    write_file(kSettings, "left alone");
    EXPECT_EQ(Run(TokenKind::elevated_administrator, {L"--update"}), 0);
    EXPECT_EQ(read_file(kConfig), "keep-me=1\r\n");
    EXPECT_EQ(read_file(kSettings), "left alone");
}

TEST_F(EntryTest, FailedInstallationIsShownAndExitCodeStaysZero) {
    machine().modules.remove_resource(winsim::ResourceKey::of_name(L"MSI"), winsim::ResourceKey::of_id(102));
    EXPECT_EQ(Run(TokenKind::elevated_administrator, {}), 0);
    EXPECT_EQ(message_boxes().size(), 1u);
}

TEST_F(EntryTest, DeclinedConsentShowsNothing) {
    machine().security.consent_accepted = false;
    EXPECT_EQ(Run(TokenKind::standard_user, {L"--update"}), 0);
    EXPECT_EQ(machine().security.consent_prompts, 1u);
    EXPECT_TRUE(message_boxes().empty());
}

TEST_F(EntryTest, RefusedLaunchShowsOneBoxWithTheWindowsCode) {
    machine().faults.fail("ShellExecuteExW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run(TokenKind::standard_user, {}), 0);
    ASSERT_EQ(message_boxes().size(), 1u);
    EXPECT_TRUE(EndsWith(message_boxes()[0].text_utf8(), "[windows:5]")) << message_boxes()[0].text_utf8();
    EXPECT_EQ(message_boxes()[0].caption_utf8(), "SablewickAgentSetup");
}

TEST_F(EntryTest, ApartmentIsLeftAfterTheDecisionBeforeTheObjectsGo) {
    EXPECT_EQ(Run(TokenKind::standard_user, {}), 0);
    const auto names = machine().log.names();
    auto at = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
    EXPECT_EQ(names.front(), "CoInitializeEx");
    EXPECT_LT(at("ShellExecuteExW"), at("CoUninitialize"));
    EXPECT_LT(at("CoUninitialize"), at("RevertToSelf"));  // the UAC's destructor
}

// Nothing may leave wWinMain: each of these ends the run quietly with 0.
// Windows' runtime gives 8-bit text one byte per character up to U+00FF
// only: not even the euro sign of Windows-1252 converts.
TEST_F(EntryTest, CompanyIdentityTheLocaleCannotConvertEndsTheRunQuietly) {
    for (TokenKind token : {TokenKind::standard_user, TokenKind::elevated_administrator}) {
        reset(profile());
        EXPECT_EQ(Run(token, {L"--company_id", L"caf\u20ac"}), 0);
        EXPECT_TRUE(RunasParameters().empty());
        EXPECT_FALSE(InstallerRan());
        EXPECT_EQ(calls("CoUninitialize").size(), 1u);
        expect_no_leaks();
    }
}

TEST_F(EntryTest, UnsplittableCommandLineEndsTheRunQuietly) {
    machine().faults.fail("CommandLineToArgvW", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(Run(TokenKind::standard_user, {L"--update"}), 0);
    EXPECT_TRUE(RunasParameters().empty());
    EXPECT_TRUE(message_boxes().empty());
    EXPECT_EQ(calls("CoUninitialize").size(), 1u);
}

// A thread already in another apartment keeps it: the run goes on and does
// not leave an apartment it never joined.
TEST_F(EntryTest, ApartmentThatCannotBeJoinedIsNotLeft) {
    machine().faults.fail_status("CoInitializeEx", static_cast<std::int32_t>(0x80010106u));  // RPC_E_CHANGED_MODE
    EXPECT_EQ(Run(TokenKind::elevated_administrator, {L"--silent"}), 0);
    EXPECT_TRUE(InstallerRan());
    EXPECT_TRUE(calls("CoUninitialize").empty());
    expect_no_leaks();
}

// ---------------------------------------------------------------- real runs

class HostRunWithoutRights : public EntryTest {
protected:
    nlohmann::json UserProfile() {
        auto p = profile();
        p["security"]["token"] = "standard_user";
        p["security"]["consent"] = "accept";
        return p;
    }

    // The records of the elevated copy: it appends to the first run's trace
    // under its own process id.
    static std::vector<nlohmann::json> OfCopy(const winsim::test::HostRunResult& r, const std::string& call) {
        const auto first = r.trace.empty() ? nlohmann::json() : r.trace.front()["pid"];
        std::vector<nlohmann::json> out;
        for (const auto& rec : r.trace)
            if (rec["pid"] != first && rec["call"] == call) out.push_back(rec);
        return out;
    }
};

TEST_F(HostRunWithoutRights, ElevatedCopyReceivesAnArgumentWithABlankWhole) {
    const auto r = winsim::test::run_host_program(UserProfile(), {"--company_id", "A B"}, temp_dir() / "run");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const auto split = OfCopy(r, "CommandLineToArgvW");
    ASSERT_EQ(split.size(), 1u) << r.out;
    const auto argv = split[0]["args"]["argv"];
    ASSERT_EQ(argv.size(), 3u) << argv.dump();
    EXPECT_EQ(argv[1], "--company_id");
    EXPECT_EQ(argv[2], "A B");
}

// Unquoted, the empty value would make the copy reject its command line
// and run a first installation over the agent's files.
TEST_F(HostRunWithoutRights, ElevatedUpdateWithEmptyCompanyKeepsTheAgentsFiles) {
    auto p = UserProfile();
    p["files"][kConfig] = "keep-me=1\r\n";
    p["files"][kSettings] = "left alone";
    const auto r = winsim::test::run_host_program(p, {"--update", "--company_id", ""}, temp_dir() / "run");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const auto split = OfCopy(r, "CommandLineToArgvW");
    ASSERT_EQ(split.size(), 1u) << r.out;
    EXPECT_EQ(split[0]["args"]["argv"].size(), 4u) << split[0]["args"]["argv"].dump();

    winsim::Sandbox sandbox(r.sandbox);
    auto read = [&](const std::string& path) {
        std::ifstream in(sandbox.host_path(path), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(read(kConfig), "keep-me=1\r\n");
    EXPECT_EQ(read(kSettings), "left alone");
}

}  // namespace
