#include "bootstrapper.h"

#include "agent_control.h"
#include "config_rewrite.h"
#include "installer_run.h"

#include <boost/system/system_error.hpp>
#include <boost/uuid/nil_generator.hpp>

#include <exception>
#include <filesystem>
#include <string>

namespace sablewick {

namespace fs = std::filesystem;

int Bootstrapper::Install() {
    try {
        // The configuration file; an update remembers the user's text,
        // which goes back into the file after the installer.
        const fs::path configPath = GetConfigFilePath();
        std::string previousConfig;
        bool hasPreviousConfig = false;
        if (update && fs::exists(configPath)) {
            previousConfig = ReadConfigText(configPath);
            hasPreviousConfig = !previousConfig.empty();
        }

        // A first installation always starts from the template; an
        // update writes it only where the file is missing. The template is
        // looked up before an old file goes: an image that cannot give it
        // must not cost the agent the configuration it has.
        if (!update || !fs::exists(configPath)) {
            const ResourceData configTemplate = LoadResourceData(104, L"CFG");
            if (fs::exists(configPath)) fs::remove(configPath);
            WriteResourceToFile(configTemplate, configPath);
        }

        // The settings file, with the identities whenever it is written;
        // like the configuration, the old file goes only once the embedded
        // record is at hand.
        const fs::path datPath = GetDatFilePath();
        if (!update || !fs::exists(datPath)) {
            const ResourceData settingsTemplate = LoadResourceData(107, L"DAT");
            if (fs::exists(datPath)) fs::remove(datPath);
            WriteResourceToFile(settingsTemplate, datPath);
            RegisterComputerID();
        }

        // The agent's programs hold files the package replaces.
        StopAgentProcesses();

        // The package in the temporary folder, removed on every way out
        // from here on.
        const fs::path msiPath = TempMsiPath();
        UnpackToFile(102, L"MSI", msiPath);
        snet::types::OneTimeSettings oneTime{false, boost::uuids::nil_uuid(), 0};
        LoadOneTimeSettings(oneTime);
        const fs::path logPath = GetMsiLogPath();
        const RemoveTempMsiOnExit removeTempMsi(msiPath);

        // The installer, at most 30 minutes; its own result is not read.
        const std::wstring parameters = BuildMsiParameters(silent, logPath, notray, oneTime);
        RunInstaller(msiPath, parameters, silent);

        // The configuration after the installer.
        if (!update)
            RewriteConfigAfterFirstInstall(*this, configPath);
        else if (hasPreviousConfig)
            RewriteConfigAfterUpdate(configPath, previousConfig);

        // An update leaves the service to the installer.
        if (!update) RestartAgentService();

        // Also with "notray": that option only selects the installer's
        // tray mode.
        StartTrayAgent();

        // The guard removes the package as the block is left.
        return 0;
    } catch (const boost::system::system_error& error) {
        OnError(std::string(error.what()));
        return error.code().value();
    } catch (const std::exception& error) {
        OnError(std::string(error.what()));
        return -1;
    }
}

}  // namespace sablewick
