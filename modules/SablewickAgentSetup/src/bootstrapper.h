// The installation driver: the options of one run and the members that carry
// out the installation or update of the agent.
#pragma once

#include "resource_data.h"
#include "snet/types/client_settings.hpp"
#include "snet/types/one_time_settings.hpp"

#include <boost/optional.hpp>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace sablewick {

class UAC;

class Bootstrapper {
public:
    explicit Bootstrapper(std::shared_ptr<UAC> uac);
    ~Bootstrapper();
    Bootstrapper(const Bootstrapper&) = delete;
    Bootstrapper& operator=(const Bootstrapper&) = delete;

    void SetCompanyId(const std::string& text);
    void SetSilent(bool value);
    void SetUpdate(bool value);
    void SetNotray(bool value);
    bool IsSilent() const;

    // install_sequence.cpp. The whole installation or update. Returns 0, the code of a caught
    // system error, or -1 for any other standard exception; a failure has
    // been shown through OnError before it returns.
    int Install();

    // error_report.cpp. Shows |message| (UTF-8) in the one error message box, unless silent.
    void OnError(const std::string& message);

    // agent_paths.cpp. Paths in the agent data folder; the folders are created when missing.
    std::filesystem::path GetConfigFilePath();
    std::filesystem::path GetDatFilePath();
    std::filesystem::path GetMsiLogPath();

    // resource_unpack.cpp. Embedded resources: the bytes of resource |id| of type |type|, and
    // their copy into |file|.
    ResourceData LoadResourceData(std::uint32_t id, const std::wstring& type);
    void UnpackToFile(std::uint32_t id, const std::wstring& type, const std::filesystem::path& file);

    // settings_store.cpp. The settings file and the one-time record.
    snet::types::ClientSettings LoadSettings();
    void SaveSettings(const snet::types::ClientSettings& settings);
    void LoadOneTimeSettings(snet::types::OneTimeSettings& settings);

    // computer_identity.cpp. The computer identity stored in the settings
    // file. |driveType| is a DRIVE_* value; |extraAccess| holds registry
    // access-right bits (REGSAM, such as KEY_WOW64_64KEY) added to the key's
    // read access.
    std::vector<std::wstring> GetDrivesByType(std::uint32_t driveType);
    std::wstring GetMachineGuid(std::uint32_t extraAccess);
    void RegisterComputerID();

    // tray_start.cpp. Starts the tray program in the session of the user at the console.
    void StartTrayAgent();

private:
    bool silent;
    bool update;
    bool notray;
    std::shared_ptr<UAC> uac;
    boost::optional<std::string> companyIdText;
};

}  // namespace sablewick
