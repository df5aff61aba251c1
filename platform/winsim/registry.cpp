#include "platform/winsim/registry.h"

#include "platform/winsim/api_support.h"
#include "platform/winsim/machine.h"

#include <cstring>
#include <cwctype>
#include <stdexcept>

namespace winsim {

namespace {
std::wstring upper(std::wstring s) {
    for (auto& c : s) c = static_cast<wchar_t>(std::towupper(c));
    return s;
}

void append_units(std::vector<BYTE>& out, const std::wstring& text, bool terminated) {
    std::wstring t = text;
    if (terminated) t += L'\0';
    const BYTE* p = reinterpret_cast<const BYTE*>(t.data());
    out.insert(out.end(), p, p + t.size() * sizeof(wchar_t));
}

DWORD type_from_name(const std::string& n) {
    static const std::pair<const char*, DWORD> names[] = {
        {"REG_NONE", REG_NONE},   {"REG_SZ", REG_SZ},       {"REG_EXPAND_SZ", REG_EXPAND_SZ},
        {"REG_BINARY", REG_BINARY}, {"REG_DWORD", REG_DWORD}, {"REG_MULTI_SZ", REG_MULTI_SZ},
        {"REG_QWORD", REG_QWORD}};
    for (const auto& [name, t] : names)
        if (n == name) return t;
    throw std::runtime_error("profile: unknown registry type " + n);
}

std::vector<BYTE> hex_bytes(const std::string& hex) {
    std::vector<BYTE> out;
    std::string digits;
    for (char c : hex)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    if (digits.size() % 2) throw std::runtime_error("profile: odd number of hex digits");
    for (std::size_t i = 0; i < digits.size(); i += 2)
        out.push_back(static_cast<BYTE>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

RegistryValue value_from_json(const nlohmann::json& v) {
    if (v.is_string()) return RegistryValue::sz(from_utf8(v.get<std::string>()));
    if (v.is_number()) return RegistryValue::dword(v.get<DWORD>());
    if (v.is_array()) {
        std::vector<std::wstring> texts;
        for (const auto& t : v) texts.push_back(from_utf8(t.get<std::string>()));
        return RegistryValue::multi_sz(texts);
    }
    DWORD type = type_from_name(v.value("type", std::string("REG_SZ")));
    if (v.contains("hex")) {
        RegistryValue r;
        r.type = type;
        r.data = hex_bytes(v["hex"].get<std::string>());
        return r;
    }
    const auto& val = v.at("value");
    switch (type) {
    case REG_DWORD: return RegistryValue::dword(val.get<DWORD>());
    case REG_MULTI_SZ: {
        RegistryValue r = value_from_json(val);
        return r;
    }
    case REG_SZ:
    case REG_EXPAND_SZ:
        return RegistryValue::sz(from_utf8(val.get<std::string>()), v.value("terminated", true), type);
    default:
        throw std::runtime_error("profile: give a REG_BINARY or REG_QWORD value as \"hex\"");
    }
}
}  // namespace

RegistryValue RegistryValue::sz(const std::wstring& text, bool terminated, DWORD type) {
    RegistryValue r;
    r.type = type;
    append_units(r.data, text, terminated);
    return r;
}

RegistryValue RegistryValue::dword(DWORD v) {
    RegistryValue r;
    r.type = REG_DWORD;
    r.data.resize(4);
    std::memcpy(r.data.data(), &v, 4);
    return r;
}

RegistryValue RegistryValue::multi_sz(const std::vector<std::wstring>& texts) {
    RegistryValue r;
    r.type = REG_MULTI_SZ;
    for (const auto& t : texts) append_units(r.data, t, true);
    append_units(r.data, L"", true);
    return r;
}

RegistryValue RegistryValue::binary(std::vector<BYTE> bytes) {
    RegistryValue r;
    r.type = REG_BINARY;
    r.data = std::move(bytes);
    return r;
}

std::wstring Registry::normalize(const std::wstring& path) {
    std::wstring out;
    for (wchar_t c : upper(path)) {
        if (c == L'\\' && (out.empty() || out.back() == L'\\')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == L'\\') out.pop_back();
    return out;
}

std::map<std::wstring, RegistryKey>& Registry::store(View view) {
    return view == View::view64 ? view64 : default_view;
}

void Registry::set(View view, const std::wstring& key, const std::wstring& value, RegistryValue v) {
    store(view)[normalize(key)].values[upper(value)] = std::move(v);
}

void Registry::set(const std::wstring& key, const std::wstring& value, RegistryValue v) {
    set(View::default_view, key, value, v);
    set(View::view64, key, value, std::move(v));
}

void Registry::remove_key(View view, const std::wstring& key) {
    auto& s = store(view);
    std::wstring k = normalize(key);
    for (auto it = s.begin(); it != s.end();)
        it = (it->first == k || it->first.rfind(k + L"\\", 0) == 0) ? s.erase(it) : std::next(it);
}

RegistryKey* Registry::find(View view, const std::wstring& key) {
    auto& s = store(view);
    auto it = s.find(normalize(key));
    return it == s.end() ? nullptr : &it->second;
}

bool Registry::exists(View view, const std::wstring& key) const {
    const auto& s = view == View::view64 ? view64 : default_view;
    std::wstring k = normalize(key);
    if (k.empty() || s.count(k)) return true;
    auto it = s.lower_bound(k + L"\\");
    return it != s.end() && it->first.rfind(k + L"\\", 0) == 0;
}

HKEY Registry::open(View view, const std::wstring& path) {
    HKEY h = reinterpret_cast<HKEY>(next_handle);
    next_handle += 4;
    open_keys[h] = OpenKey{view, normalize(path)};
    return h;
}

void Registry::load(const nlohmann::json& s, Machine&) {
    if (s.is_null()) return;
    for (const auto& [view_name, keys] : s.items()) {
        bool d = view_name == "default" || view_name == "both";
        bool v64 = view_name == "64bit" || view_name == "both";
        if (!d && !v64) throw std::runtime_error("profile: registry views are \"default\", \"64bit\" and \"both\"");
        for (const auto& [key, values] : keys.items()) {
            std::wstring k = from_utf8(key);
            if (values.empty()) {
                if (d) default_view[normalize(k)];
                if (v64) view64[normalize(k)];
            }
            for (const auto& [name, v] : values.items()) {
                RegistryValue rv = value_from_json(v);
                if (d) set(View::default_view, k, from_utf8(name), rv);
                if (v64) set(View::view64, k, from_utf8(name), rv);
            }
        }
    }
}

void Registry::leaks(std::vector<std::string>& out) const {
    for (const auto& [h, k] : open_keys)
        out.push_back("open HKEY HKLM\\" + to_utf8(k.path) + (k.view == View::view64 ? " (64-bit view)" : ""));
}

}  // namespace winsim
