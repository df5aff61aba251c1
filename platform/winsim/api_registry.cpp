// advapi32: the registry under HKEY_LOCAL_MACHINE. These calls return their
// status and leave the last-error value alone.
#include "platform/winsim/api_support.h"

#include <cstring>

using winsim::ApiCall;
using winsim::arg;
using winsim::arg_ptr;
using winsim::Registry;

namespace {
const LSTATUS kKeyDeleted = 1018;  // ERROR_KEY_DELETED

nlohmann::json hkey_arg(HKEY h) {
    if (h == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
    if (h == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
    if (h == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
    if (h == HKEY_USERS) return "HKEY_USERS";
    return arg_ptr(h);
}

bool predefined(HKEY h) {
    return h == HKEY_LOCAL_MACHINE || h == HKEY_CURRENT_USER || h == HKEY_CLASSES_ROOT || h == HKEY_USERS;
}

std::wstring join(const std::wstring& base, const wchar_t* sub) {
    std::wstring s = sub ? sub : L"";
    if (base.empty()) return Registry::normalize(s);
    if (s.empty()) return base;
    return Registry::normalize(base + L"\\" + s);
}
}  // namespace

extern "C" {

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
    ApiCall call("RegOpenKeyExW", {{"hKey", hkey_arg(hKey)},
                                   {"lpSubKey", arg(lpSubKey)},
                                   {"ulOptions", ulOptions},
                                   {"samDesired", samDesired}});
    if (!phkResult) return call.fail_status(LSTATUS{ERROR_INVALID_PARAMETER});
    *phkResult = nullptr;
    if (call.fault) return call.fail_status(call.fault->lstatus());
    auto& reg = call.m.registry;
    Registry::View view = Registry::View::default_view;
    std::wstring base;
    if (hKey == HKEY_LOCAL_MACHINE) {
        base.clear();
    } else if (predefined(hKey)) {
        // Only HKLM is modelled; the other hives are empty.
        if (lpSubKey && *lpSubKey) return call.fail_status(LSTATUS{ERROR_FILE_NOT_FOUND});
    } else {
        auto it = reg.open_keys.find(hKey);
        if (it == reg.open_keys.end()) return call.fail_status(LSTATUS{ERROR_INVALID_HANDLE});
        view = it->second.view;
        base = it->second.path;
    }
    if (samDesired & KEY_WOW64_64KEY) view = Registry::View::view64;
    std::wstring path = join(base, lpSubKey);
    if (lpSubKey && lpSubKey[0] == L'\\') return call.fail_status(LSTATUS{161});  // ERROR_BAD_PATHNAME
    if (!reg.exists(view, path)) return call.fail_status(LSTATUS{ERROR_FILE_NOT_FOUND});
    *phkResult = reg.open(view, path);
    call.args["phkResult"] = arg_ptr(*phkResult);
    call.args["view"] = view == Registry::View::view64 ? "64bit" : "default";
    return call.done(LSTATUS{ERROR_SUCCESS});
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData) {
    ApiCall call("RegQueryValueExW", {{"hKey", hkey_arg(hKey)},
                                      {"lpValueName", arg(lpValueName)},
                                      {"lpData", arg_ptr(lpData)},
                                      {"lpcbData", lpcbData ? nlohmann::json(*lpcbData) : nlohmann::json()}});
    if (call.fault) return call.fail_status(call.fault->lstatus());
    if (lpReserved || (lpData && !lpcbData)) return call.fail_status(LSTATUS{ERROR_INVALID_PARAMETER});
    auto& reg = call.m.registry;
    std::wstring path;
    Registry::View view = Registry::View::default_view;
    if (hKey != HKEY_LOCAL_MACHINE) {
        auto it = reg.open_keys.find(hKey);
        if (it == reg.open_keys.end()) return call.fail_status(LSTATUS{ERROR_INVALID_HANDLE});
        path = it->second.path;
        view = it->second.view;
    }
    if (!reg.exists(view, path)) return call.fail_status(kKeyDeleted);
    auto* key = reg.find(view, path);
    std::wstring name = Registry::normalize(lpValueName ? lpValueName : L"");
    if (!key || !key->values.count(name)) return call.fail_status(LSTATUS{ERROR_FILE_NOT_FOUND});
    const auto& v = key->values.at(name);
    const DWORD size = static_cast<DWORD>(v.data.size());
    if (lpType) *lpType = v.type;
    call.args["type"] = v.type;
    LSTATUS status = ERROR_SUCCESS;
    if (lpData) {
        if (*lpcbData < size)
            status = ERROR_MORE_DATA;
        else if (size != 0)  // an empty value's data() may be null
            std::memcpy(lpData, v.data.data(), size);
    }
    if (lpcbData) *lpcbData = size;
    call.args["cbData"] = size;
    return status == ERROR_SUCCESS ? call.done(status) : call.fail_status(status);
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    if (!winsim::Machine::current_or_null()) return ERROR_SUCCESS;
    ApiCall call("RegCloseKey", {{"hKey", hkey_arg(hKey)}});
    bool closed = true;
    if (!predefined(hKey)) {
        auto& reg = call.m.registry;
        closed = reg.open_keys.erase(hKey) != 0;
        if (!closed) reg.problems.push_back("RegCloseKey of an HKEY that is not open (closed twice, or never opened)");
    }
    if (call.fault) return call.fail_status(call.fault->lstatus());  // see release_fault_note in api_support.h
    if (!closed) return call.fail_status(LSTATUS{ERROR_INVALID_HANDLE});
    return call.done(LSTATUS{ERROR_SUCCESS});
}

}  // extern "C"
