#include "bootstrapper.h"

#include "agent_control.h"
#include "computer_identity.h"
#include "config_rewrite.h"
#include "installer_run.h"

#include "resources/resource.h"

#include <boost/system/system_error.hpp>
#include <boost/uuid/nil_generator.hpp>

#include <exception>
#include <filesystem>
#include <string>

namespace sablewick {

namespace fs = std::filesystem;

int Bootstrapper::Install() {
    try {
        const fs::path configPath = GetConfigFilePath();
        const fs::path datPath = GetDatFilePath();

        // The company id is needed only where the settings file is written,
        // and is checked before any file is touched: a mistyped one must not
        // cost an installed agent its files and the identities they hold.
        const bool writeSettings = !update || !fs::exists(datPath);
        if (writeSettings && companyIdText) ParseCompanyId(*companyIdText);

        // The configuration file; an update remembers the user's text,
        // which goes back into the file after the installer.
        std::string previousConfig;
        bool hasPreviousConfig = false;
        if (update && fs::exists(configPath)) {
            previousConfig = ReadConfigText(configPath);
            hasPreviousConfig = !previousConfig.empty();
        }

        // A first installation always starts from the template; an
        // update writes it only where the file is missing. Each file is
        // replaced as a whole, so a template that cannot be had or written
        // leaves the file the agent has.
        if (!update || !fs::exists(configPath)) UnpackToFile(IDR_SABLEWICK_CFG, L"CFG", configPath);

        // The settings file, written once with the identities whenever it
        // is written.
        if (writeSettings) RegisterComputerID();

        // The agent's programs hold files the package replaces.
        StopAgentProcesses();

        // The package in the temporary folder, removed on every way out
        // once written, and held so that nobody can swap it until the
        // installer is done with it.
        const fs::path msiPath = TempMsiPath();
        RemoveTempMsiOnExit removeTempMsi(msiPath);
        const kyv::win::unique_handle package =
            WriteHeldPackage(LoadResourceData(IDR_SABLEWICK_MSI, L"MSI"), msiPath, removeTempMsi);
        snet::types::OneTimeSettings oneTime{false, boost::uuids::nil_uuid(), 0};
        LoadOneTimeSettings(oneTime);
        const fs::path logPath = GetMsiLogPath();
        ClearLogName(logPath);

        // The installer, at most 30 minutes; its own result is not read.
        const std::wstring parameters = BuildMsiParameters(silent, logPath, notray, oneTime);
        RunInstaller(msiPath, parameters, silent);

        // The configuration after the installer; a failed write leaves the
        // installer's file and goes on.
        if (!update)
            RewriteConfigAfterFirstInstall(LoadResourceData(IDR_SABLEWICK_CFG, L"CFG"), configPath);
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
