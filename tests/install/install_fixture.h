// A simulated machine for the installation tests: the default machine, with
// the setup program running as the local system account (as a deployment
// tool starts it), so that the tray program can be started in the console
// user's session.
#pragma once

#include "bootstrapper.h"
#include "uac.h"

#include "support/machine_fixture.h"

#include <memory>
#include <string>
#include <vector>

namespace install_test {

inline const std::string kDataFolder = "C:\\ProgramData\\Sablewick\\Sablewick Remote";
inline const std::string kConfig = kDataFolder + "\\SablewickRemote.cfg";
inline const std::string kSettings = kDataFolder + "\\SablewickRemote.dat";
inline const std::string kMsiLog = kDataFolder + "\\SablewickRemote Msi\\log_v1.0.45.1871.log";
inline const std::string kTempFolder = "C:\\Users\\alice\\AppData\\Local\\Temp";
inline const std::string kAgentFolder = "C:\\Program Files\\Sablewick\\Sablewick Remote";
inline const std::string kTrayProgram = kAgentFolder + "\\SablewickTrayAgent.exe";

// The options of one run, as the entry function hands them over.
struct Options {
    bool silent = false;
    bool update = false;
    bool notray = false;
    std::optional<std::string> companyId;
};

class InstallTest : public winsim::test::MachineTest {
protected:
    nlohmann::json profile() override {
        nlohmann::json p = MachineTest::profile();
        p["security"]["token"] = "local_system";
        return p;
    }

    std::unique_ptr<sablewick::Bootstrapper> bootstrapper(const Options& options = {}) {
        auto b = std::make_unique<sablewick::Bootstrapper>(std::make_shared<sablewick::UAC>());
        if (options.companyId) b->SetCompanyId(*options.companyId);
        b->SetSilent(options.silent);
        b->SetUpdate(options.update);
        b->SetNotray(options.notray);
        return b;
    }
    int install(const Options& options = {}) { return bootstrapper(options)->Install(); }

    // The bytes of one of the program's own resources.
    std::string resource(const std::wstring& type, unsigned id) {
        auto r = machine().modules.find_resource(winsim::ResourceKey::of_name(type),
                                                 winsim::ResourceKey::of_id(id));
        if (!r) return {};
        return std::string(reinterpret_cast<const char*>(r->data), r->size);
    }
    std::string config_template() { return resource(L"CFG", 104); }
    void set_config_template(const std::string& text) {
        machine().modules.remove_resource(winsim::ResourceKey::of_name(L"CFG"),
                                          winsim::ResourceKey::of_id(104));
        machine().modules.add_resource(winsim::ResourceKey::of_name(L"CFG"),
                                       winsim::ResourceKey::of_id(104), 4105,
                                       std::vector<unsigned char>(text.begin(), text.end()));
    }

    // What the installer stand-in does; replaces the profile's effects.
    void set_installer_effects(nlohmann::json effects) {
        machine().programs.installer.effects = std::move(effects);
    }

    std::vector<std::shared_ptr<winsim::Process>> started(const std::string& image) {
        return machine().processes.started(image);
    }
    winsim::Service& agent_service() { return *machine().services.find("SablewickRemote"); }

    // The temporary packages left in the temporary folder.
    std::vector<std::string> temp_packages() {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(host_path(kTempFolder), ec))
            if (e.path().extension() == ".msi") names.push_back(e.path().filename().string());
        return names;
    }
};

}  // namespace install_test
