// Drives and network adapters: what GetLogicalDriveStringsW, GetDriveTypeW,
// GetVolumeInformationW and GetAdaptersInfo report.
#pragma once

#include "platform/win32.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace winsim {

class Machine;

struct Drive {
    wchar_t letter = L'C';
    UINT type = DRIVE_FIXED;
    bool ready = true;  // a drive without medium fails with ERROR_NOT_READY
    DWORD serial = 0;
    std::wstring label;
    std::wstring filesystem = L"NTFS";
    DWORD max_component_length = 255;
    DWORD filesystem_flags = 0x03E706FF;
};

struct Drives {
    std::vector<Drive> drives;

    Drive* find(wchar_t letter);
    // Profile section "drives": [{"root": "C:\\", "type": "fixed" | "removable"
    // | "cdrom" | "remote" | "ramdisk" | number, "ready": true, "serial":
    // "1A2B-3C4D" | number, "label": "", "filesystem": "NTFS"}]
    void load(const nlohmann::json& section, Machine& m);
};

struct Adapter {
    std::string name;         // "{4D36E972-...}"
    std::string description;
    UINT type = MIB_IF_TYPE_ETHERNET;
    std::vector<BYTE> address;  // up to 8 bytes
    DWORD index = 1;
    std::string ip = "0.0.0.0";
    std::string mask = "0.0.0.0";
};

struct Network {
    std::vector<Adapter> adapters;

    // Profile section "adapters": [{"name": "{...}", "description": "...",
    // "type": 6, "address": "00:1a:2b:3c:4d:5e", "index": 7, "ip": "...",
    // "mask": "..."}]
    void load(const nlohmann::json& section, Machine& m);
};

}  // namespace winsim
