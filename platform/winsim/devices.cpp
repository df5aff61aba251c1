#include "platform/winsim/devices.h"

#include "platform/winsim/api_support.h"

#include <cctype>
#include <stdexcept>

namespace winsim {

namespace {
UINT drive_type(const nlohmann::json& t) {
    if (t.is_number()) return t.get<UINT>();
    static const std::pair<const char*, UINT> names[] = {
        {"unknown", DRIVE_UNKNOWN}, {"no_root_dir", DRIVE_NO_ROOT_DIR}, {"removable", DRIVE_REMOVABLE},
        {"fixed", DRIVE_FIXED},     {"remote", DRIVE_REMOTE},           {"cdrom", DRIVE_CDROM},
        {"ramdisk", DRIVE_RAMDISK}};
    std::string n = t.get<std::string>();
    for (const auto& [name, v] : names)
        if (n == name) return v;
    throw std::runtime_error("profile: unknown drive type " + n);
}

DWORD serial_of(const nlohmann::json& s) {
    if (s.is_number()) return s.get<DWORD>();
    // "1A2B-3C4D", as dir prints it
    std::string digits;
    for (char c : s.get<std::string>())
        if (c != '-') digits += c;
    return static_cast<DWORD>(std::stoul(digits, nullptr, 16));
}

std::vector<BYTE> mac_of(const std::string& text) {
    std::vector<BYTE> out;
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<BYTE>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    if (out.size() > MAX_ADAPTER_ADDRESS_LENGTH) throw std::runtime_error("profile: adapter address over 8 bytes");
    return out;
}
}  // namespace

Drive* Drives::find(wchar_t letter) {
    for (auto& d : drives)
        if (std::toupper(static_cast<int>(d.letter)) == std::toupper(static_cast<int>(letter))) return &d;
    return nullptr;
}

void Drives::load(const nlohmann::json& s, Machine&) {
    drives.clear();
    if (s.is_null()) {
        drives.push_back(Drive{L'C', DRIVE_FIXED, true, 0x1A2B3C4D, L"", L"NTFS"});
        return;
    }
    for (const auto& d : s) {
        Drive drive;
        std::string root = d.at("root").get<std::string>();
        if (root.empty()) throw std::runtime_error("profile: a drive needs a root such as \"C:\\\\\"");
        drive.letter = static_cast<wchar_t>(std::toupper(static_cast<unsigned char>(root[0])));
        if (d.contains("type")) drive.type = drive_type(d["type"]);
        drive.ready = d.value("ready", true);
        if (d.contains("serial")) drive.serial = serial_of(d["serial"]);
        drive.label = from_utf8(d.value("label", std::string()));
        drive.filesystem = from_utf8(d.value("filesystem", std::string("NTFS")));
        drive.max_component_length = d.value("max_component_length", drive.max_component_length);
        drive.filesystem_flags = d.value("filesystem_flags", drive.filesystem_flags);
        drives.push_back(drive);
    }
}

void Network::load(const nlohmann::json& s, Machine&) {
    adapters.clear();
    if (s.is_null()) return;
    DWORD next_index = 1;
    for (const auto& a : s) {
        Adapter ad;
        ad.name = a.value("name", std::string());
        ad.description = a.value("description", std::string());
        ad.type = a.value("type", static_cast<UINT>(MIB_IF_TYPE_ETHERNET));
        ad.address = mac_of(a.value("address", std::string()));
        ad.index = a.value("index", next_index);
        next_index = ad.index + 1;
        ad.ip = a.value("ip", ad.ip);
        ad.mask = a.value("mask", ad.mask);
        adapters.push_back(ad);
    }
}

}  // namespace winsim
