// The Service Control Manager: the installed services with their registered
// path text, state and the number of status polls a stop takes, and the SC
// handles with the access rights each was opened with.
#pragma once

#include "platform/win32.h"
#include "platform/winsim/files.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

class Machine;

struct Service {
    std::string name;          // "SablewickRemote"
    std::string display_name;
    // lpBinaryPathName exactly as registered (UTF-8), its path mapped into
    // the sandbox; null when the registration has none.
    std::optional<std::string> binary_path;
    DWORD type = SERVICE_WIN32_OWN_PROCESS;
    DWORD start_type = SERVICE_AUTO_START;
    DWORD error_control = SERVICE_ERROR_NORMAL;
    std::string load_order_group;
    std::vector<std::string> dependencies;
    std::string start_name = "LocalSystem";

    DWORD state = SERVICE_RUNNING;
    DWORD process_id = 0;
    // Status polls (QueryServiceStatusEx) a stop takes before the service
    // reports SERVICE_STOPPED: 1 means the first poll finds it stopped, 0
    // that it stops at once; none means it never stops.
    std::optional<unsigned> stop_polls = 1;
    unsigned polls_since_stop = 0;
    // Rights refused to every caller, administrators included.
    DWORD denied_rights = 0;
    // StartServiceW fails with this error when set.
    DWORD start_error = 0;

    // Files its process holds open while it is not stopped.
    std::vector<HeldFile> open_files;

    // What happened to it.
    unsigned stop_requests = 0;
    unsigned starts = 0;
    unsigned polls = 0;
};

struct Services {
    // Keyed by the name in upper case: service names compare without regard
    // to case.
    std::map<std::string, Service> services;

    Service* find(const std::string& name);
    Service& add(Service s);
    bool remove(const std::string& name);

    // The registered path text of a profile: the path in it ("C:\\...",
    // quoted or not) is mapped into the sandbox, quotes and arguments kept;
    // a drive-relative path stays relative to the current folder, as Windows
    // resolves it.
    static std::string map_binary_path(Machine& m, const std::string& text);

    // One open SC handle.
    struct Handle {
        bool manager = false;
        std::string service;  // key into `services`, for a service handle
        DWORD access = 0;     // the rights granted when it was opened
    };
    SC_HANDLE open(const Handle& h);
    Handle* find_handle(SC_HANDLE h);
    bool close(SC_HANDLE h, Machine& m);  // false + problem when not open
    std::size_t open_handles() const { return open_.size(); }

    // The rights the process's token may be granted on the manager and on a
    // service: everything for administrators and local system, the reading
    // rights for everyone else.
    static DWORD grantable_manager_rights(Machine& m);
    static DWORD grantable_service_rights(Machine& m, const Service& s);

    // Profile section "services": {"SablewickRemote": {"binary_path":
    // "\"C:\\...\\svc.exe\"" | null, "map_path": true, "state": "running" |
    // "stopped" | "stop_pending" | "start_pending", "stop_polls": 2 |
    // "never", "display_name": "...", "start_name": "LocalSystem",
    // "denied_rights": 0, "start_error": 0}}.
    void load(const nlohmann::json& section, Machine& m);
    // One service from its profile form (also the installer's "service"
    // effect); keeps what the profile does not name of an existing service.
    void apply(Machine& m, const std::string& name, const nlohmann::json& j);
    void leaks(std::vector<std::string>& out) const;

private:
    std::map<SC_HANDLE, Handle> open_;
    std::map<SC_HANDLE, Handle> closed_;
    std::uintptr_t next_ = 0x5C0000;
};

}  // namespace winsim
