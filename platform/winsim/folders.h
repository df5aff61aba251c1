// Known folders and the temporary folder, each a Windows path mapped into
// the sandbox.
#pragma once

#include "platform/win32.h"

#include <nlohmann/json.hpp>

#include <map>
#include <string>

namespace winsim {

class Machine;

struct KnownFolders {
    struct Folder {
        std::string windows_path;  // "C:\\ProgramData"
        bool exists = true;        // made in the sandbox at load
    };
    // Keyed by the FOLDERID_ suffix: "ProgramData", "ProgramFiles",
    // "RoamingAppData", "LocalAppData", "LocalAppDataLow", "System",
    // "SystemX86", "Desktop"; and "Temp" for the temporary folder.
    std::map<std::string, Folder> folders;

    // Profile section "folders": {"ProgramData": "C:\\ProgramData", ...,
    // "Temp": "C:\\Users\\alice\\AppData\\Local\\Temp"}; an entry may be an
    // object {"path": "...", "exists": false} to leave the folder to the disk:
    // missing, or a file that the profile's "files" puts at its path (also
    // the temporary folder, as when TMP names a file on Windows).
    void load(const nlohmann::json& section, Machine& m);

    const Folder* find(const std::string& name) const;
    // The system folder's Windows path ("C:\\Windows\\System32"): what
    // GetSystemDirectoryW reports and where the shell finds the system's
    // programs.
    std::string system_path() const;
    // The temporary folder's host path; TMPDIR points here while the
    // machine is current.
    std::string temp_host_path(const Machine& m) const;
};

}  // namespace winsim
