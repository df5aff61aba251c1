// advapi32: the Service Control Manager.
#include "platform/winsim/api_support.h"
#include "platform/winsim/status_codes.h"

#include <cstring>

using winsim::ApiCall;
using winsim::arg;
using winsim::arg_ptr;
using winsim::Machine;
using winsim::Service;
using winsim::Services;

namespace {

constexpr DWORD kGenericRead = 0x80000000u, kGenericWrite = 0x40000000u, kGenericExecute = 0x20000000u,
                kGenericAll = 0x10000000u;
constexpr DWORD kServiceInterrogate = 0x0080u;
constexpr DWORD kServiceControlInterrogate = 0x00000004u;
constexpr DWORD kServiceAcceptStop = 0x00000001u;

// The rights asked for, with the generic rights mapped as the Service Control
// Manager maps them and MAXIMUM_ALLOWED given as everything grantable.
DWORD requested(DWORD access, DWORD grantable, bool manager) {
    DWORD r = access & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll | MAXIMUM_ALLOWED);
    if (access & kGenericRead) r |= READ_CONTROL | (manager ? 0x0014u : 0x008Du);
    if (access & kGenericWrite) r |= READ_CONTROL | (manager ? 0x0022u : 0x0002u);
    if (access & kGenericExecute) r |= READ_CONTROL | (manager ? 0x0009u : 0x0170u);
    if (access & kGenericAll) r |= manager ? 0xF003Fu : 0xF01FFu;
    if (access & MAXIMUM_ALLOWED) r |= grantable;
    return r;
}

// The service behind a service handle that holds `right`, or null with the
// error to fail with.
Service* service_for(Machine& m, SC_HANDLE h, DWORD right, DWORD& error) {
    Services::Handle* e = m.services.find_handle(h);
    if (!e || e->manager) {
        error = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if ((e->access & right) != right) {
        error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    Service* s = m.services.find(e->service);
    // A service deleted while open (the installer may remove it) answers as
    // a handle to nothing.
    if (!s) error = ERROR_INVALID_HANDLE;
    return s;
}

void fill_status(const Service& s, SERVICE_STATUS& st) {
    st = SERVICE_STATUS{};
    st.dwServiceType = s.type;
    st.dwCurrentState = s.state;
    st.dwControlsAccepted = s.state == SERVICE_RUNNING ? kServiceAcceptStop : 0;
    st.dwCheckPoint = s.state == SERVICE_STOP_PENDING ? s.polls_since_stop + 1 : 0;
    st.dwWaitHint = s.state == SERVICE_STOP_PENDING ? 2000 : 0;
}

nlohmann::json status_json(const SERVICE_STATUS& st) {
    return {{"dwServiceType", st.dwServiceType}, {"dwCurrentState", st.dwCurrentState},
            {"dwControlsAccepted", st.dwControlsAccepted}, {"dwWin32ExitCode", st.dwWin32ExitCode},
            {"dwCheckPoint", st.dwCheckPoint}, {"dwWaitHint", st.dwWaitHint}};
}

// Room for a string packed after the structure: UTF-16 units, one wchar_t each.
std::size_t units(const std::string& s) { return winsim::from_utf8(s).size() + 1; }

}  // namespace

extern "C" {

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName, DWORD dwDesiredAccess) {
    ApiCall call("OpenSCManagerW", {{"lpMachineName", arg(lpMachineName)},
                                    {"lpDatabaseName", arg(lpDatabaseName)},
                                    {"dwDesiredAccess", dwDesiredAccess}});
    if (call.fault) return call.fail(SC_HANDLE{});
    Machine& m = call.m;
    if (lpDatabaseName && !winsim::iequals(winsim::to_utf8(lpDatabaseName), "ServicesActive"))
        return call.fail(SC_HANDLE{}, winsim::kErrorDatabaseDoesNotExist);
    const DWORD grantable = Services::grantable_manager_rights(m);
    const DWORD want = requested(dwDesiredAccess, grantable, true) | SC_MANAGER_CONNECT;
    if ((want & grantable) != want) return call.fail(SC_HANDLE{}, ERROR_ACCESS_DENIED);
    return call.done(m.services.open({true, {}, want}));
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess) {
    ApiCall call("OpenServiceW", {{"hSCManager", arg_ptr(hSCManager)},
                                  {"lpServiceName", arg(lpServiceName)},
                                  {"dwDesiredAccess", dwDesiredAccess}});
    if (call.fault) return call.fail(SC_HANDLE{});
    Machine& m = call.m;
    Services::Handle* mgr = m.services.find_handle(hSCManager);
    if (!mgr || !mgr->manager) return call.fail(SC_HANDLE{}, ERROR_INVALID_HANDLE);
    if (!(mgr->access & SC_MANAGER_CONNECT)) return call.fail(SC_HANDLE{}, ERROR_ACCESS_DENIED);
    if (!lpServiceName) return call.fail(SC_HANDLE{}, ERROR_INVALID_NAME);
    const std::string name = winsim::to_utf8(lpServiceName);
    Service* s = m.services.find(name);
    if (!s) return call.fail(SC_HANDLE{}, ERROR_SERVICE_DOES_NOT_EXIST);
    const DWORD grantable = Services::grantable_service_rights(m, *s);
    const DWORD want = requested(dwDesiredAccess, grantable, false);
    if ((want & grantable) != want) return call.fail(SC_HANDLE{}, ERROR_ACCESS_DENIED);
    return call.done(m.services.open({false, s->name, want}));
}

BOOL WINAPI QueryServiceConfigW(SC_HANDLE hService, LPQUERY_SERVICE_CONFIGW lpServiceConfig, DWORD cbBufSize,
                                LPDWORD pcbBytesNeeded) {
    ApiCall call("QueryServiceConfigW", {{"hService", arg_ptr(hService)},
                                         {"lpServiceConfig", arg_ptr(lpServiceConfig)},
                                         {"cbBufSize", cbBufSize}});
    if (call.fault) return call.fail(FALSE);
    Machine& m = call.m;
    DWORD error = 0;
    Service* s = service_for(m, hService, SERVICE_QUERY_CONFIG, error);
    if (!s) return call.fail(FALSE, error);
    if (!pcbBytesNeeded) return call.fail(FALSE, ERROR_INVALID_PARAMETER);

    std::string deps;
    for (const auto& d : s->dependencies) deps += d + '\0';
    const std::size_t deps_units = winsim::from_utf8(deps).size() + 1;  // a double-NUL list
    const std::size_t needed = sizeof(QUERY_SERVICE_CONFIGW) +
                               sizeof(wchar_t) * ((s->binary_path ? units(*s->binary_path) : 0) +
                                                  units(s->load_order_group) + deps_units +
                                                  units(s->start_name) + units(s->display_name));
    *pcbBytesNeeded = static_cast<DWORD>(needed);
    call.args["pcbBytesNeeded"] = *pcbBytesNeeded;
    if (!lpServiceConfig || cbBufSize < needed) return call.fail(FALSE, ERROR_INSUFFICIENT_BUFFER);

    // The strings are packed into the caller's buffer after the structure,
    // which need not be aligned: every store goes through memcpy.
    BYTE* base = reinterpret_cast<BYTE*>(lpServiceConfig);
    BYTE* next = base + sizeof(QUERY_SERVICE_CONFIGW);
    auto put = [&next](const std::wstring& w) {
        LPWSTR at = reinterpret_cast<LPWSTR>(next);
        std::memcpy(next, w.c_str(), (w.size() + 1) * sizeof(wchar_t));
        next += (w.size() + 1) * sizeof(wchar_t);
        return at;
    };
    QUERY_SERVICE_CONFIGW cfg{};
    cfg.dwServiceType = s->type;
    cfg.dwStartType = s->start_type;
    cfg.dwErrorControl = s->error_control;
    cfg.lpBinaryPathName = s->binary_path ? put(winsim::from_utf8(*s->binary_path)) : nullptr;
    cfg.lpLoadOrderGroup = put(winsim::from_utf8(s->load_order_group));
    cfg.dwTagId = 0;
    cfg.lpDependencies = put(winsim::from_utf8(deps));  // ends in the extra NUL put() adds
    cfg.lpServiceStartName = put(winsim::from_utf8(s->start_name));
    cfg.lpDisplayName = put(winsim::from_utf8(s->display_name));
    std::memcpy(base, &cfg, sizeof cfg);
    call.args["lpServiceConfig"] = {{"lpBinaryPathName", s->binary_path ? nlohmann::json(*s->binary_path) : nullptr},
                                    {"lpDisplayName", s->display_name},
                                    {"lpServiceStartName", s->start_name}};
    return call.done(TRUE);
}

BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
    ApiCall call("ControlService", {{"hService", arg_ptr(hService)}, {"dwControl", dwControl}});
    if (call.fault) return call.fail(FALSE);
    Machine& m = call.m;
    const DWORD right = dwControl == SERVICE_CONTROL_STOP ? SERVICE_STOP
                        : dwControl == kServiceControlInterrogate ? kServiceInterrogate
                                                                  : 0;
    if (!right) return call.fail(FALSE, winsim::kErrorInvalidServiceControl);
    DWORD error = 0;
    Service* s = service_for(m, hService, right, error);
    if (!s) return call.fail(FALSE, error);
    if (!lpServiceStatus) return call.fail(FALSE, ERROR_INVALID_PARAMETER);

    if (s->state == SERVICE_STOPPED) return call.fail(FALSE, ERROR_SERVICE_NOT_ACTIVE);
    if (dwControl == SERVICE_CONTROL_STOP) {
        if (s->state != SERVICE_RUNNING) return call.fail(FALSE, ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
        ++s->stop_requests;
        s->polls_since_stop = 0;
        s->state = s->stop_polls && *s->stop_polls == 0 ? SERVICE_STOPPED : SERVICE_STOP_PENDING;
        if (s->state == SERVICE_STOPPED) s->process_id = 0;
    }
    fill_status(*s, *lpServiceStatus);
    call.args["lpServiceStatus"] = status_json(*lpServiceStatus);
    return call.done(TRUE);
}

BOOL WINAPI QueryServiceStatusEx(SC_HANDLE hService, SC_STATUS_TYPE InfoLevel, LPBYTE lpBuffer, DWORD cbBufSize,
                                 LPDWORD pcbBytesNeeded) {
    ApiCall call("QueryServiceStatusEx", {{"hService", arg_ptr(hService)},
                                          {"InfoLevel", static_cast<int>(InfoLevel)},
                                          {"lpBuffer", arg_ptr(lpBuffer)},
                                          {"cbBufSize", cbBufSize}});
    if (call.fault) return call.fail(FALSE);
    Machine& m = call.m;
    if (InfoLevel != SC_STATUS_PROCESS_INFO) return call.fail(FALSE, winsim::kErrorInvalidLevel);
    DWORD error = 0;
    Service* s = service_for(m, hService, SERVICE_QUERY_STATUS, error);
    if (!s) return call.fail(FALSE, error);
    if (!pcbBytesNeeded) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    if (!lpBuffer || cbBufSize < sizeof(SERVICE_STATUS_PROCESS)) {
        *pcbBytesNeeded = sizeof(SERVICE_STATUS_PROCESS);
        call.args["pcbBytesNeeded"] = *pcbBytesNeeded;
        return call.fail(FALSE, ERROR_INSUFFICIENT_BUFFER);
    }

    // Each poll of a stopping service brings it one poll nearer its end.
    ++s->polls;
    if (s->state == SERVICE_STOP_PENDING) {
        ++s->polls_since_stop;
        if (s->stop_polls && s->polls_since_stop >= *s->stop_polls) {
            s->state = SERVICE_STOPPED;
            s->process_id = 0;
        }
    }
    SERVICE_STATUS st;
    fill_status(*s, st);
    SERVICE_STATUS_PROCESS sp{};
    std::memcpy(&sp, &st, sizeof st);
    sp.dwProcessId = s->state == SERVICE_STOPPED ? 0 : s->process_id;
    std::memcpy(lpBuffer, &sp, sizeof sp);
    call.args["lpBuffer"] = status_json(st);
    call.args["lpBuffer"]["dwProcessId"] = sp.dwProcessId;
    return call.done(TRUE);
}

BOOL WINAPI StartServiceW(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCWSTR* lpServiceArgVectors) {
    nlohmann::json argv = nlohmann::json::array();
    for (DWORD i = 0; lpServiceArgVectors && i < dwNumServiceArgs; ++i) argv.push_back(arg(lpServiceArgVectors[i]));
    ApiCall call("StartServiceW", {{"hService", arg_ptr(hService)},
                                   {"dwNumServiceArgs", dwNumServiceArgs},
                                   {"lpServiceArgVectors", lpServiceArgVectors ? argv : nlohmann::json()}});
    if (call.fault) return call.fail(FALSE);
    Machine& m = call.m;
    DWORD error = 0;
    Service* s = service_for(m, hService, SERVICE_START, error);
    if (!s) return call.fail(FALSE, error);
    // Anything but stopped, a service still stopping included.
    if (s->state != SERVICE_STOPPED) return call.fail(FALSE, ERROR_SERVICE_ALREADY_RUNNING);
    if (s->start_error) return call.fail(FALSE, s->start_error);
    ++s->starts;
    s->state = SERVICE_RUNNING;
    s->process_id = m.processes.new_id();
    return call.done(TRUE);
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
    if (!winsim::Machine::current_or_null()) return TRUE;  // a static owner at exit
    ApiCall call("CloseServiceHandle", {{"hSCObject", arg_ptr(hSCObject)}});
    const bool closed = call.m.services.close(hSCObject, call.m);
    if (call.fault) return call.fail(FALSE);  // see release_fault_note in api_support.h
    if (!closed) return call.fail(FALSE, ERROR_INVALID_HANDLE);
    return call.done(TRUE);
}

}  // extern "C"
