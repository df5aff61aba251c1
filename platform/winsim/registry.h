// The registry under HKEY_LOCAL_MACHINE: keys with typed values, in two
// stores: the default view and the 64-bit view reached with KEY_WOW64_64KEY.
#pragma once

#include "platform/win32.h"

#include <nlohmann/json.hpp>

#include <map>
#include <string>
#include <vector>

namespace winsim {

class Machine;

struct RegistryValue {
    DWORD type = REG_SZ;
    // The raw data as RegQueryValueExW returns it. String types hold one
    // wchar_t per UTF-16 unit (the product reads them as WCHAR arrays), and
    // may or may not end in a NUL.
    std::vector<BYTE> data;

    static RegistryValue sz(const std::wstring& text, bool terminated = true, DWORD type = REG_SZ);
    static RegistryValue dword(DWORD v);
    static RegistryValue multi_sz(const std::vector<std::wstring>& texts);
    static RegistryValue binary(std::vector<BYTE> bytes);
};

struct RegistryKey {
    // Value names compare case-insensitively: stored upper-cased. The
    // default value has the empty name.
    std::map<std::wstring, RegistryValue> values;
};

struct Registry {
    enum class View { default_view, view64 };

    // Key paths below HKLM, upper-cased, '\\'-separated, no leading or
    // trailing separator: L"SOFTWARE\\MICROSOFT\\CRYPTOGRAPHY".
    std::map<std::wstring, RegistryKey> default_view;
    std::map<std::wstring, RegistryKey> view64;

    void set(View view, const std::wstring& key, const std::wstring& value, RegistryValue v);
    // Both views at once: the usual case for a 64-bit process.
    void set(const std::wstring& key, const std::wstring& value, RegistryValue v);
    void remove_key(View view, const std::wstring& key);
    std::map<std::wstring, RegistryKey>& store(View view);
    RegistryKey* find(View view, const std::wstring& key);
    // A key exists when it holds values or is the parent of one that does.
    bool exists(View view, const std::wstring& key) const;

    // Keys opened with RegOpenKeyExW and not yet closed.
    struct OpenKey {
        View view;
        std::wstring path;
    };
    std::map<HKEY, OpenKey> open_keys;
    HKEY open(View view, const std::wstring& path);
    std::uintptr_t next_handle = 0x2000;
    std::vector<std::string> problems;

    // Profile section "registry": {"default": {"SOFTWARE\\Microsoft\\Cryptography":
    // {"MachineGuid": "text"}}, "64bit": {...}, "both": {...}}.
    // A value is a string (REG_SZ), a number (REG_DWORD), a list of strings
    // (REG_MULTI_SZ) or {"type": "REG_EXPAND_SZ", "value": "...",
    // "terminated": false} / {"type": "REG_BINARY", "hex": "0a0b"}; "hex"
    // gives raw bytes for any type.
    void load(const nlohmann::json& section, Machine& m);
    void leaks(std::vector<std::string>& out) const;

    static std::wstring normalize(const std::wstring& path);
};

}  // namespace winsim
