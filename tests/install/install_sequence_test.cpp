// Whole runs of Install on the simulated machine: a first installation, the
// kinds of update, and the ways a run ends early.
#include "config_rewrite.h"
#include "file_replace.h"

#include "install_fixture.h"

#include <boost/uuid/uuid_io.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

using install_test::InstallTest;
using install_test::kAgentFolder;
using install_test::kConfig;
using install_test::kSettings;
using install_test::kTempFolder;
using install_test::kTrayProgram;
using install_test::Options;
namespace fs = std::filesystem;

// The settings file of an installed agent, with its identities.
const char kInstalledSettings[] =
    "22 serialization::archive 13 0 2 7d3a90c4-5b21-4e8f-9a6c-0f12b3e4d5a6 "
    "b2cdac20-187f-6fc0-0f51-c10147f7d51b 1 00000000-0000-0000-0000-000000000000\r\n";
// What the default installer stand-in leaves in the configuration file.
const char kInstallersLine[] = "tray-port=27015\r\n";

class InstallSequence : public InstallTest {
protected:
    std::size_t first_call(const std::string& name) {
        const auto names = machine().log.names();
        return std::find(names.begin(), names.end(), name) - names.begin();
    }
    std::size_t resource_lookups(const std::string& type) {
        std::size_t n = 0;
        for (const auto& r : calls("FindResourceW"))
            if (r.args["lpType"] == type) ++n;
        return n;
    }
};

TEST_F(InstallSequence, FirstInstallationOnACleanMachine) {
    nlohmann::json p = profile();
    p["files"] = nlohmann::json::object();
    p["services"] = nlohmann::json::object();
    p["processes"]["running"] = nlohmann::json::array();
    // The package installs the agent's programs and its service besides
    // leaving its port in the configuration file.
    const nlohmann::json installs = {
        {{"write_file", kAgentFolder + "\\SablewickRemote.exe"}, {"text", "service\r\n"}},
        {{"write_file", kTrayProgram}, {"text", "tray\r\n"}},
        {{"service",
          {{"name", "SablewickRemote"},
           {"binary_path", "\"" + kAgentFolder + "\\SablewickRemote.exe\""},
           {"state", "running"},
           {"stop_polls", 2}}}},
    };
    auto& effects = p["programs"]["msiexec"]["effects"];
    effects.insert(effects.end(), installs.begin(), installs.end());
    reset(p);
    const auto b = bootstrapper({false, false, false, "7D3A90C4-5B21-4E8F-9A6C-0F12B3E4D5A6"});

    EXPECT_EQ(b->Install(), 0);

    EXPECT_EQ(read_file(kConfig), config_template());
    const auto settings = b->LoadSettings();
    EXPECT_EQ(boost::uuids::to_string(settings.companyId), "7d3a90c4-5b21-4e8f-9a6c-0f12b3e4d5a6");
    EXPECT_FALSE(settings.computerId.is_nil());
    for (const auto& taskkill : started("taskkill.exe")) EXPECT_TRUE(taskkill->details["ended"].empty());
    EXPECT_EQ(started("msiexec.exe").size(), 1u);
    EXPECT_EQ(agent_service().stop_requests, 1u);
    EXPECT_EQ(agent_service().starts, 1u);
    EXPECT_EQ(agent_service().state, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(started("SablewickTrayAgent.exe").size(), 1u);
    // In this order: installer, service restart, tray program.
    EXPECT_LT(first_call("WaitForSingleObject"), first_call("ControlService"));
    EXPECT_LT(first_call("StartServiceW"), first_call("CreateProcessAsUserW"));
    EXPECT_TRUE(temp_packages().empty());
    EXPECT_TRUE(message_boxes().empty());
    expect_no_leaks();
}

TEST_F(InstallSequence, UpdateKeepsBothFilesAndLeavesTheService) {
    write_file(kConfig, "# mine\r\ntray-port = 100\r\nkey = user\r\n");
    write_file(kSettings, kInstalledSettings);

    EXPECT_EQ(install({false, true, false, "11111111-2222-3333-4444-555555555555"}), 0);

    EXPECT_EQ(read_file(kSettings), kInstalledSettings);  // company_id has no effect
    EXPECT_EQ(read_file(kConfig), "# mine\r\ntray-port=27015\r\nkey = user\r\n");
    EXPECT_EQ(resource_lookups("CFG"), 0u);
    EXPECT_EQ(resource_lookups("DAT"), 0u);
    EXPECT_TRUE(calls("ControlService").empty());
    EXPECT_TRUE(calls("StartServiceW").empty());
    EXPECT_EQ(started("taskkill.exe").size(), 2u);
    EXPECT_EQ(started("SablewickTrayAgent.exe").size(), 1u);
    expect_no_leaks();
}

TEST_F(InstallSequence, UpdateWithoutUsableConfigurationLeavesTheInstallersFile) {
    struct Case {
        const char* name;
        std::optional<std::string> config;  // none: no file
        std::string result;
        std::size_t templateLookups;
    };
    const Case cases[] = {
        {"no configuration file", std::nullopt, config_template() + kInstallersLine, 1},
        {"empty configuration file", "", kInstallersLine, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset(profile());
        write_file(kSettings, kInstalledSettings);
        if (c.config) write_file(kConfig, *c.config);

        EXPECT_EQ(install({/*silent*/ false, /*update*/ true, /*notray*/ false, std::nullopt}), 0);

        EXPECT_EQ(read_file(kConfig), c.result);
        EXPECT_EQ(resource_lookups("CFG"), c.templateLookups);
        expect_no_leaks();
    }
}

TEST_F(InstallSequence, ConfigurationThatCannotBeReplacedTouchesNothingElse) {
    for (bool silent : {false, true}) {
        SCOPED_TRACE(silent ? "silent" : "interactive");
        reset(profile());
        write_file(kConfig + "\\inside", "a folder where the file should be");

        EXPECT_EQ(install({silent, /*update*/ false, /*notray*/ false, std::nullopt}), -1);

        if (silent) {
            EXPECT_TRUE(message_boxes().empty());
        } else {
            ASSERT_EQ(message_boxes().size(), 1u);
            const std::string text = message_boxes()[0].text_utf8();
            // As a removal of the name says it: the operation, the reason
            // and the path.
            const std::string expected = "cannot remove: The directory is not empty ["
                                         + host_path(kConfig).string() + "]";
            EXPECT_EQ(text.substr(text.size() - expected.size()), expected);
        }
        EXPECT_EQ(read_file(kConfig + "\\inside"), "a folder where the file should be");
        EXPECT_FALSE(file_exists(kSettings));
        EXPECT_TRUE(calls("ShellExecuteExW").empty());
        EXPECT_TRUE(calls("OpenSCManagerW").empty());
        expect_no_leaks();
    }
}

// A company id that cannot be parsed ends the run before any file is
// touched; where the settings file is not written it is not looked at.
TEST_F(InstallSequence, BadCompanyIdLeavesBothFilesAsTheyWere) {
    const std::string usersConfig = "# mine\r\ntray-port = 100\r\nkey = user\r\n";
    const struct {
        const char* name;
        bool silent, update;
        std::optional<std::string> config, settings;  // before the run; none: no file
        bool fails;
    } cases[] = {
        {"reinstallation", false, false, usersConfig, kInstalledSettings, true},
        {"silent reinstallation", true, false, usersConfig, kInstalledSettings, true},
        {"first installation", false, false, std::nullopt, std::nullopt, true},
        {"update without settings file", false, true, std::nullopt, std::nullopt, true},
        {"update with settings file", false, true, usersConfig, kInstalledSettings, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset(profile());
        fs::remove_all(host_path(kConfig).parent_path());
        if (c.config) write_file(kConfig, *c.config);
        if (c.settings) write_file(kSettings, *c.settings);

        const int result = install({c.silent, c.update, false, "7D3A90C4-5B21-4E8F-9A6C"});

        if (!c.fails) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(read_file(kSettings), c.settings);
            EXPECT_TRUE(message_boxes().empty());
            continue;
        }
        EXPECT_EQ(result, -1);
        EXPECT_EQ(read_file(kConfig), c.config);
        EXPECT_EQ(read_file(kSettings), c.settings);
        if (c.silent) {
            EXPECT_TRUE(message_boxes().empty());
        } else {
            ASSERT_EQ(message_boxes().size(), 1u);
            const std::string text = message_boxes()[0].text_utf8();
            EXPECT_NE(text.find("Failed to parse Company ID"), std::string::npos) << text;
        }
        // No file made, renamed or deleted: only folders looked at.
        for (const auto& c : calls("CreateFileW")) EXPECT_NE(c.args["dwCreationDisposition"], CREATE_NEW);
        EXPECT_TRUE(calls("SetFileInformationByHandle").empty());
        EXPECT_TRUE(calls("ShellExecuteExW").empty());
        expect_no_leaks();
    }
}

// A template that cannot be written (a full disk) leaves the file it would
// have replaced whole.
TEST_F(InstallSequence, TemplateThatCannotBeWrittenKeepsTheOldFile) {
    const struct {
        const char* name;
        unsigned write;  // which WriteFile fails: 1 configuration, 2 settings
        std::string config;
        const std::string* failed;
    } cases[] = {
        {"configuration template", 1, "# mine\r\n", &kConfig},
        {"settings record", 2, "", &kSettings},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset(profile());
        write_file(kConfig, "# mine\r\n");
        write_file(kSettings, kInstalledSettings);
        machine().faults.fail("WriteFile", ERROR_DISK_FULL, c.write);

        EXPECT_EQ(install(), -1);

        ASSERT_EQ(message_boxes().size(), 1u);
        const std::string text = message_boxes()[0].text_utf8();
        const std::string expected = "Unable to write " + host_path(*c.failed).string();
        EXPECT_EQ(text.substr(text.size() - expected.size()), expected);
        EXPECT_EQ(read_file(kConfig), c.config.empty() ? config_template() : c.config);
        EXPECT_EQ(read_file(kSettings), kInstalledSettings);
        EXPECT_FALSE(fs::exists(sablewick::NewFilePath(host_path(*c.failed))));
        EXPECT_TRUE(calls("ShellExecuteExW").empty());
        expect_no_leaks();
    }
}

// The installation is done when the configuration is written back: a write
// that fails leaves the installer's file and the run goes on to the service
// and the tray program, without a word.
TEST_F(InstallSequence, FailedWriteBackLeavesTheInstallersFileAndGoesOn) {
    const struct {
        const char* name;
        bool update;
        std::string installersFile;
    } cases[] = {
        {"first installation", false, config_template() + kInstallersLine},
        {"update", true, "# mine\r\ntray-port=27015\r\nkey = user\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset(profile());
        write_file(kConfig, "# mine\r\ntray-port = 100\r\nkey = user\r\n");
        write_file(kSettings, kInstalledSettings);
        // The write-back is the run's last write.
        bool installerRan = false;
        machine().log.on_record = [&](const winsim::CallRecord& r) {
            if (r.call == "WaitForSingleObject" && !installerRan && !started("msiexec.exe").empty()) {
                installerRan = true;
                machine().faults.fail("WriteFile", ERROR_DISK_FULL);
            }
        };

        EXPECT_EQ(install({false, c.update, false, std::nullopt}), 0);

        EXPECT_TRUE(message_boxes().empty());
        EXPECT_EQ(read_file(kConfig), c.installersFile);
        EXPECT_FALSE(fs::exists(sablewick::NewFilePath(host_path(kConfig))));
        EXPECT_EQ(calls("StartServiceW").size(), c.update ? 0u : 1u);
        EXPECT_EQ(started("SablewickTrayAgent.exe").size(), 1u);
        EXPECT_TRUE(temp_packages().empty());
        expect_no_leaks();
    }
}

// Every way out after the package's name was chosen removes it, a failed
// lookup of the installer log's folder included.
TEST_F(InstallSequence, LogPathThatCannotBeHadLeavesNoPackage) {
    install();
    const unsigned lookups = machine().faults.occurrences("SHGetKnownFolderPath");
    ASSERT_GT(lookups, 0u);
    reset(profile());
    machine().faults.fail_status("SHGetKnownFolderPath", E_FAIL, lookups);

    EXPECT_EQ(install(), E_FAIL);

    ASSERT_EQ(message_boxes().size(), 1u);
    EXPECT_TRUE(calls("ShellExecuteExW").size() == 2u);  // the two taskkill runs only
    EXPECT_TRUE(temp_packages().empty());
    expect_no_leaks();
}

// A reinstallation from an image that cannot give the template must not
// cost the agent the file it has: each file goes only once its template is
// at hand. Lookups: 1 configuration, 2 settings, 3 package, 4 one-time
// record, 5 configuration after the installer.
TEST_F(InstallSequence, TemplateThatCannotBeHadKeepsTheFileItWouldReplace) {
    enum class Config { kept, template_, installers };
    struct Case {
        const char* name;
        unsigned lookup;
        Config config;
        bool settingsKept;
    };
    const Case cases[] = {
        {"configuration template", 1, Config::kept, true},
        {"settings record", 2, Config::template_, true},
        {"template after the installer", 5, Config::installers, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset(profile());
        write_file(kConfig, "# mine\r\n");
        write_file(kSettings, kInstalledSettings);
        machine().faults.fail("FindResourceW", ERROR_RESOURCE_NAME_NOT_FOUND, c.lookup);

        EXPECT_EQ(install(), ERROR_RESOURCE_NAME_NOT_FOUND);

        EXPECT_EQ(message_boxes().size(), 1u);
        const std::string config = c.config == Config::kept        ? "# mine\r\n"
                                   : c.config == Config::template_ ? config_template()
                                                                   : config_template() + kInstallersLine;
        EXPECT_EQ(read_file(kConfig), config);
        if (c.settingsKept) EXPECT_EQ(read_file(kSettings), kInstalledSettings);
        else EXPECT_EQ(read_file(kSettings).value_or("").size(), 146u);
        expect_no_leaks();
    }
}

// A temporary folder that is no folder, a file of its name or nothing at
// all, is the runtime's own report (Windows' runtime words it alike): no
// package is unpacked and the installer does not run.
TEST_F(InstallSequence, TemporaryFolderThatIsNoFolderIsReported) {
    const struct {
        const char* name;
        std::optional<std::string> file;  // at the folder's path
        const char* report;
    } cases[] = {
        {"a file", "not a folder", "temp_directory_path: Not a directory"},
        {"missing", std::nullopt, "temp_directory_path: No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        nlohmann::json p = profile();
        p["folders"]["Temp"] = {{"path", kTempFolder}, {"exists", false}};
        if (c.file) p["files"][kTempFolder] = *c.file;
        reset(p);

        EXPECT_EQ(install(), -1);

        ASSERT_EQ(message_boxes().size(), 1u);
        const std::string text = message_boxes()[0].text_utf8();
        EXPECT_NE(text.find(c.report), std::string::npos) << text;
        EXPECT_EQ(read_file(kTempFolder), c.file);
        EXPECT_TRUE(started("msiexec.exe").empty());
        expect_no_leaks();
    }
}

TEST_F(InstallSequence, UntestableTrayProgramEndsTheRun) {
    const fs::path tray = host_path(kTrayProgram);
    machine().faults.fail_file("stat", kTrayProgram, ERROR_ACCESS_DENIED);

    EXPECT_EQ(install(), -1);

    ASSERT_EQ(message_boxes().size(), 1u);
    EXPECT_NE(message_boxes()[0].text_utf8().find(tray.string()), std::string::npos);
    EXPECT_EQ(agent_service().starts, 1u);  // the steps before it ran
    EXPECT_TRUE(temp_packages().empty());
    expect_no_leaks();
}

}  // namespace
