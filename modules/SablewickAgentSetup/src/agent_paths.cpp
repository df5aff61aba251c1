// The agent data folder under the machine-wide application-data folder and
// the paths of the files kept in it. This is the one place that builds them.
#include "bootstrapper.h"

#include "kyv/common/string_conversion.hpp"
#include "kyv/win/path_helper.hpp"

#include <system_error>

namespace sablewick {

namespace {

// The file version of this setup; each version keeps its own installer log.
constexpr char kSetupVersion[] = "1.0.45.1871";

// P\Sablewick\Sablewick Remote, without touching the file system.
std::filesystem::path AgentDataFolder() {
    const boost::filesystem::path programData =
        kyv::win::path_helper_instance()->GetProgramDataPath(nullptr);
    std::filesystem::path folder(programData.wstring());
    folder /= L"Sablewick";
    folder /= L"Sablewick Remote";
    return folder;
}

// The agent data folder, created with every missing folder above it. Any
// entry of that name counts as existing, a plain file included.
std::filesystem::path EnsureAgentDataFolder() {
    std::filesystem::path folder = AgentDataFolder();
    if (!std::filesystem::exists(folder)) std::filesystem::create_directories(folder);
    return folder;
}

}  // namespace

std::filesystem::path Bootstrapper::GetConfigFilePath() {
    return EnsureAgentDataFolder() / L"SablewickRemote.cfg";
}

std::filesystem::path Bootstrapper::GetDatFilePath() {
    return EnsureAgentDataFolder() / L"SablewickRemote.dat";
}

std::filesystem::path Bootstrapper::GetMsiLogPath() {
    std::filesystem::path path = AgentDataFolder() / L"SablewickRemote Msi";
    if (!std::filesystem::exists(path)) {
        // A log folder that cannot be made is no failure: the installer is
        // then asked for a log it cannot write.
        std::error_code ignored;
        std::filesystem::create_directories(path, ignored);
    }
    path /= L"log_v";
    path += kyv::common::utf8_to_wstring(kSetupVersion);
    path += L".log";
    return path;
}

}  // namespace sablewick
