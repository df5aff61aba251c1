// A reinstallation meets the agent's files as Windows leaves them: held open
// by the running service, or marked read-only. Windows refuses to remove or
// replace them; the run reports that once and leaves both files whole.
#include "install_fixture.h"

namespace {

using namespace install_test;

const char kUsersConfig[] = "# mine\r\ntray-port = 100\r\nkey = user\r\n";
const char kInstalledSettings[] =
    "22 serialization::archive 13 0 2 7d3a90c4-5b21-4e8f-9a6c-0f12b3e4d5a6 "
    "b2cdac20-187f-6fc0-0f51-c10147f7d51b 1 00000000-0000-0000-0000-000000000000\r\n";

class HeldFiles : public InstallTest {};

TEST_F(HeldFiles, AFileWindowsWillNotReplaceStopsTheReinstallationOnce) {
    const struct {
        const char* name;
        bool serviceHoldsConfig;
        bool settingsReadOnly;
    } cases[] = {
        {"the service holds the configuration", true, false},
        // The configuration is replaced before the settings file is met.
        {"the settings file is read-only", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        nlohmann::json p = profile();
        p["files"][kConfig] = kUsersConfig;
        p["files"][kSettings] = {{"text", kInstalledSettings}, {"read_only", c.settingsReadOnly}};
        if (c.serviceHoldsConfig) p["services"]["SablewickRemote"]["open_files"] = {kConfig};
        reset(p);

        EXPECT_NE(install(), 0);

        ASSERT_EQ(message_boxes().size(), 1u);
        EXPECT_EQ(read_file(kSettings), kInstalledSettings);
        EXPECT_EQ(read_file(kConfig), c.serviceHoldsConfig ? kUsersConfig : config_template());
        EXPECT_TRUE(calls("ShellExecuteExW").empty());
        EXPECT_FALSE(file_exists(kConfig + ".new"));
        EXPECT_FALSE(file_exists(kSettings + ".new"));
        expect_no_leaks();
    }
}

}  // namespace
