// The simulated Windows machine: the one object behind every Win32 function
// of platform/host/win32_api.h on the host.
//
// Using it from a test (tests/support/machine_fixture.h wraps all of this):
//
//   nlohmann::json profile = winsim::Machine::default_profile();
//   profile["process"]["command_line"] = "\"C:\\setup.exe\" --silent";
//   winsim::Machine m(profile, sandbox_dir);   // now THE current machine
//
//   // set state directly through the public areas
//   m.registry.set(L"SOFTWARE\\Microsoft\\Cryptography", L"MachineGuid",
//                  winsim::RegistryValue::sz(L"8d2c..."));
//   m.modules.remove_resource(winsim::ResourceKey::of_name(L"MSI"),
//                             winsim::ResourceKey::of_id(102));
//   m.messages.system[5] = L"Access is denied.\r\n";
//
//   // make a call fail: the 2nd RegOpenKeyExW returns ERROR_ACCESS_DENIED,
//   // every SHGetKnownFolderPath returns E_FAIL
//   m.faults.fail("RegOpenKeyExW", ERROR_ACCESS_DENIED, 2);
//   m.faults.fail_status("SHGetKnownFolderPath", E_FAIL);
//
//   run_the_product();
//
//   // read what happened
//   m.log.named("ShellExecuteExW")[0].args["lpVerb"] == "runas";
//   m.ui.message_boxes[0].text_utf8();
//   m.sandbox.host_path("C:\\ProgramData\\Sablewick\\x.cfg");   // a real file
//   EXPECT_TRUE(m.leaks().empty());      // handles, HKEYs, SIDs, SC handles,
//   EXPECT_TRUE(m.problems().empty());   // blocks...; double closes/frees
//
// Paths: the profile speaks Windows ("C:\\Program Files\\..."); every path
// the model hands to the product (known folders, module path, the
// temporary folder) is the host path inside the sandbox, so the product's
// std::filesystem and fstream calls reach real files. While a machine is
// current, TMPDIR points at its temporary folder, the host process works in
// the machine's current folder (kernel.current_directory), the global locale
// converts 8-bit text as Windows' C runtime does and paths convert to the
// sandbox's UTF-8 file names (c_runtime.h).
//
// Writing an API function (see api_support.h):
//
//   extern "C" BOOL WINAPI Foo(LPCWSTR lpName) {
//       winsim::ApiCall call("Foo", {{"lpName", winsim::arg(lpName)}});
//       if (call.fault) return call.fail(FALSE);        // logs, sets last error
//       ... act on call.m (the current machine) ...
//       return call.done(TRUE);                          // logs result + last error
//   }
//
// A function that releases something (CloseHandle, FreeSid, RegCloseKey,
// ...) may be called by a static destructor after the machine is gone: it
// then checks Machine::current_or_null() first and succeeds doing nothing.
#pragma once

#include "platform/win32.h"
#include "platform/winsim/c_runtime.h"
#include "platform/winsim/call_log.h"
#include "platform/winsim/devices.h"
#include "platform/winsim/files.h"
#include "platform/winsim/folders.h"
#include "platform/winsim/handles.h"
#include "platform/winsim/kernel.h"
#include "platform/winsim/memory.h"
#include "platform/winsim/messages.h"
#include "platform/winsim/modules.h"
#include "platform/winsim/processes.h"
#include "platform/winsim/programs.h"
#include "platform/winsim/registry.h"
#include "platform/winsim/sandbox.h"
#include "platform/winsim/security.h"
#include "platform/winsim/services.h"
#include "platform/winsim/sessions.h"
#include "platform/winsim/text.h"
#include "platform/winsim/ui.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

// Set by the host program: what a real re-launch of the program needs.
struct HostRun {
    bool active = false;          // a run of the host program, not a test
    std::string program;          // the host executable (argv[0] resolved)
    std::string profile_path;     // WINSIM_PROFILE, if any
    std::string trace_path;       // WINSIM_TRACE, if any
};

class Machine {
public:
    // Builds the machine from `profile` over `sandbox_root` (empty: a fresh
    // folder under the system's temporary folder, removed with the machine)
    // and makes it the current one. Throws std::logic_error while another
    // machine is current, std::runtime_error on a malformed profile.
    explicit Machine(nlohmann::json profile = default_profile(),
                     const std::filesystem::path& sandbox_root = {});
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // The current machine; throws std::logic_error when none exists.
    static Machine& current();
    static Machine* current_or_null();

    // An elevated administrator with the agent installed: the service
    // "SablewickRemote" running from the sandbox's Program Files, its tray
    // program beside it, a user at the console, and the installer stand-in.
    static nlohmann::json default_profile();

    // Everything still outstanding: open handles, HKEYs, SIDs, SC handles,
    // environment blocks, memory blocks, loaded libraries, critical sections,
    // COM initialisations. One readable line each.
    std::vector<std::string> leaks() const;
    // Misuse seen so far: double closes, double or foreign frees, ...
    std::vector<std::string> problems() const;

    // For areas without a list of their own: misuse to show in problems().
    void report_problem(std::string text) { problems_.push_back(std::move(text)); }

    DWORD last_error() const { return kernel.last_error(); }
    void set_last_error(DWORD e) { kernel.set_last_error(e); }

    // A profile path ("C:\\...") as the host path the product is given.
    std::wstring host_wpath(const std::string& windows_path) const {
        return sandbox.host_wpath(windows_path);
    }

    const nlohmann::json profile;  // as given
    HostRun host;

    // ---- core services (in construction order)
    Sandbox sandbox;
    CallLog log;
    Faults faults;
    HandleTable handles;
    Memory memory;

    // ---- areas
    Kernel kernel;            // command line, module path, pid, clock, last error
    Modules modules;          // own image + resources, shell32, wininet
    MessageTables messages;   // FormatMessageW
    KnownFolders folders;     // FOLDERID_ / CSIDL_ and the temporary folder
    Registry registry;
    Drives drives;
    Network network;
    UserInterface ui;         // message boxes
    Security security;        // tokens, SIDs, consent prompt
    Programs programs;        // installer and taskkill stand-ins
    Processes processes;      // started processes, waits, exit codes
    Services services;        // the Service Control Manager
    Files files;              // read-only files, files held open; the product's file operations
    Sessions sessions;        // console session, user token, environment blocks
    CRuntime c_runtime;       // 8-bit text and file names between wide and narrow

    VirtualClock& clock() { return kernel.clock; }

private:
    std::optional<std::string> saved_tmpdir_;
    std::filesystem::path saved_working_folder_;
    std::vector<std::string> problems_;
};

}  // namespace winsim
