// The configuration file after the installer, as both rewrites leave it.
#include "config_rewrite.h"
#include "file_replace.h"

#include "install_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

namespace {

using install_test::InstallTest;
using install_test::kConfig;
namespace fs = std::filesystem;

using ConfigRewrite = InstallTest;

TEST_F(ConfigRewrite, FirstInstallationWritesTheTemplateWithTheInstallersLine) {
    const std::string shipped = config_template();
    struct Case {
        const char* name;
        std::string templateText;
        std::optional<std::string> installed;  // none: the installer deleted the file
        std::string result;
    };
    const Case cases[] = {
        {"shipped template has no tray-port", shipped, "x = 1\r\ntray-port = 22044\r\n", shipped},
        {"installed file without tray-port", "a = 1\r\ntray-port = 1\r\n", "a = 2\r\n",
         "a = 1\r\ntray-port = 1\r\n"},
        {"installed file missing", "a = 1\r\ntray-port = 1\r\n", std::nullopt,
         "a = 1\r\ntray-port = 1\r\n"},
        {"carried line with LF alone", "a\r\ntray-port = 1\r\nb\r\n", "tray-port = 9\nz\n",
         "a\r\ntray-port = 9\nb\r\n"},
        {"carried line with CR and LF", "a\r\ntray-port = 1\r\nb\r\n", "tray-port = 9\r\nz\r\n",
         "a\r\ntray-port = 9\r\nb\r\n"},
        {"last lines without line feed", "a\ntray-port = 1", "z\ntray-port = 22", "a\ntray-port = 22"},
        {"first occurrence in a comment", "# tray-port here\ntray-port = 1\n",
         "# see tray-port = 7\n", "# tray-port = 7\ntray-port = 1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset(profile());
        set_config_template(c.templateText);
        write_file(kConfig, c.installed.value_or(""));
        if (!c.installed) fs::remove(host_path(kConfig));

        sablewick::RewriteConfigAfterFirstInstall(bootstrapper()->LoadResourceData(104, L"CFG"),
                                                  host_path(kConfig));

        EXPECT_EQ(read_file(kConfig), c.result);
    }
}

TEST_F(ConfigRewrite, UpdateWritesBackTheUsersTextWithTheInstallersLine) {
    const std::string previous = "# mine\r\ntray-port = 100\r\nkey = user\r\n";
    struct Case {
        const char* name;
        std::string previous;
        std::optional<std::string> installed;  // none: the installer deleted the file
        std::string result;
    };
    const Case cases[] = {
        {"equal lines", previous, "# theirs\r\ntray-port = 100\r\nkey = installer\r\n", previous},
        {"installer left no line", previous, "key = installer\r\n", previous},
        {"user had no line", "key = user\r\n", "tray-port = 5\r\n", "key = user\r\n"},
        {"lines differ", previous, "tray-port = 20000\r\nkey = installer\r\n",
         "# mine\r\ntray-port = 20000\r\nkey = user\r\n"},
        {"lines differ only by the CR", previous, "tray-port = 100\n",
         "# mine\r\ntray-port = 100\nkey = user\r\n"},
        {"installer deleted the file", previous, std::nullopt, previous},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(kConfig, c.installed.value_or(""));
        if (!c.installed) fs::remove(host_path(kConfig));

        sablewick::RewriteConfigAfterUpdate(host_path(kConfig), c.previous);

        EXPECT_EQ(read_file(kConfig), c.result);
    }
}

// A write that fails (a full disk, a file held open) must not cost the user
// the configuration, and passes without a word: the installation is done.
TEST_F(ConfigRewrite, FailedWriteKeepsTheInstallersFileAndPassesQuietly) {
    const fs::path config = host_path(kConfig);
    const std::string installed = "tray-port = 20000\r\nkey = installer\r\n";
    // The Win32 calls, and the C library operations below them.
    for (const char* call : {"CreateFileW", "WriteFile", "MoveFileExW", "open", "write", "rename"}) {
        for (bool update : {false, true}) {
            SCOPED_TRACE(std::string(call) + (update ? ", update" : ", first installation"));
            reset(profile());
            write_file(kConfig, installed);
            machine().faults.fail(call, ERROR_DISK_FULL);

            if (update)
                sablewick::RewriteConfigAfterUpdate(config, "tray-port = 1\r\nkey = user\r\n");
            else
                sablewick::RewriteConfigAfterFirstInstall(
                    bootstrapper()->LoadResourceData(104, L"CFG"), config);

            EXPECT_EQ(read_file(kConfig), installed);
            EXPECT_FALSE(fs::exists(fs::symlink_status(sablewick::NewFilePath(config))));
            expect_no_leaks();
        }
    }
}

}  // namespace
