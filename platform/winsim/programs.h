// The programs of the model that the shell starts: the taskkill stand-in and
// the Windows Installer stand-in (what "open" of a ".msi" file runs), each
// scripted by the profile; and how the elevated copy of a "runas" behaves.
#pragma once

#include "platform/win32.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

class Machine;
struct Process;

// Exit codes of the installer stand-in's own checks, as msiexec has them.
inline constexpr DWORD kMsiInvalidCommandLine = 1639;
inline constexpr DWORD kMsiPackageInvalid = 1620;
inline constexpr DWORD kMsiLogFailure = 1622;

// The system's taskkill.exe is a file of the system folder (made at load
// unless the profile says it is not there); the shell runs the stand-in for
// that file, found by its path or by the shell's search for the bare name.
struct TaskkillScript {
    std::uint64_t duration_ms = 300;
    bool hang = false;              // never ends (and ends nothing)
    bool returns_process_handle = true;  // false: the shell launch gives no hProcess
};

struct InstallerScript {
    // The ".msi" type has the Windows Installer's open command registered;
    // without it the shell has no program to open a package with.
    bool associated = true;
    DWORD exit_code = 0;
    std::uint64_t duration_ms = 42000;
    bool hang = false;              // never ends within 30 minutes, nor after
    bool returns_process_handle = true;  // false: the shell launch gives no hProcess
    bool check_package = true;      // a file without the MSI signature fails with 1620
    // What the installer does to the machine, in order (see docs): each
    // effect names the file or the service it acts on. None by default.
    nlohmann::json effects = nlohmann::json::array();
};

struct ElevatedCopyScript {
    DWORD exit_code = 0;
    std::uint64_t duration_ms = 60000;
};

// What the stand-in read from its parameters.
struct InstallerParameters {
    bool valid = true;
    std::string error;                  // why the command line was refused
    std::string ui;                     // "qn", "qb", ...
    bool norestart = false;
    std::string log_mode;               // "*v"
    std::optional<std::string> log;     // the path after /l*v
    std::vector<std::pair<std::string, std::string>> properties;  // in order, as given

    nlohmann::json to_json() const;
};

// msiexec's own reading of a command line: blanks separate, double quotes
// group (also inside PROPERTY="a b"), switches compare without regard to case.
InstallerParameters parse_installer_parameters(const std::string& parameters);

struct Programs {
    TaskkillScript taskkill;
    InstallerScript installer;
    ElevatedCopyScript elevated_copy;

    // Run the stand-in as process `p` (already in the process list, started
    // now): it reads p.parameters, acts on the machine and sets p's end and
    // exit code (or no end when it hangs) and p.details.
    void run_taskkill(Machine& m, Process& p);
    void run_installer(Machine& m, Process& p, const std::string& package_host_path);

    // The system's taskkill.exe, as a host path in the system folder.
    static std::string taskkill_host_path(Machine& m);

    // Profile section "programs": {"taskkill": {...}, "msiexec": {...},
    // "elevated_copy": {...}}; see docs/simulated-windows.md.
    void load(const nlohmann::json& section, Machine& m);
    void leaks(std::vector<std::string>& out) const;
};

}  // namespace winsim
