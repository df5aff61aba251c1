// The agent data folder under the machine-wide application-data folder and
// the paths of the files kept in it. This is the one place that builds them.
#include "bootstrapper.h"

#include "folder_security.h"

#include "kyv/common/string_conversion.hpp"
#include "kyv/win/path_helper.hpp"

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

// The agent's folders from the top down, each made or kept a folder only
// administrators can change: P\Sablewick, the agent data folder and, when it
// is there or |logFolder| asks for it, the folder of the installer logs. A
// link or junction anywhere in the chain stops the run before any file in it
// is touched. Returns the agent data folder.
std::filesystem::path SecureAgentFolders(Creation logFolder) {
    std::filesystem::path folder = AgentDataFolder();
    const std::filesystem::path programData = folder.parent_path().parent_path();
    // The application-data folder itself is Windows'; it is only made when
    // missing, as any chain of folders is.
    if (!std::filesystem::exists(programData)) std::filesystem::create_directories(programData);
    // The log's path comes back even when its folders cannot be made.
    const Creation chain = logFolder == Creation::wanted ? Creation::wanted : Creation::required;
    SecureFolder(folder.parent_path(), chain);
    if (SecureFolder(folder, chain) == FolderState::ready)
        SecureFolder(folder / L"SablewickRemote Msi", logFolder);
    return folder;
}

}  // namespace

std::filesystem::path Bootstrapper::GetConfigFilePath() {
    return SecureAgentFolders(Creation::never) / L"SablewickRemote.cfg";
}

std::filesystem::path Bootstrapper::GetDatFilePath() {
    return SecureAgentFolders(Creation::never) / L"SablewickRemote.dat";
}

std::filesystem::path Bootstrapper::GetMsiLogPath() {
    // A log folder that cannot be made is no failure: the installer is then
    // asked for a log it cannot write.
    std::filesystem::path path = SecureAgentFolders(Creation::wanted) / L"SablewickRemote Msi";
    path /= L"log_v";
    path += kyv::common::utf8_to_wstring(kSetupVersion);
    path += L".log";
    return path;
}

}  // namespace sablewick
