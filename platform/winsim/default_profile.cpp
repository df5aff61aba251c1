// The machine a host run meets without WINSIM_PROFILE: an elevated
// administrator on a machine where the agent is installed and running. The
// agent is this profile's data alone: its files, processes, service and what
// its package's installer leaves in its configuration file.
#include "platform/winsim/machine.h"

namespace winsim {

nlohmann::json Machine::default_profile() {
    static const char* const text = R"json({
  "process": {
    "process_id": 4242,
    "tick_count": 5000000
  },
  "folders": {
    "ProgramData": "C:\\ProgramData",
    "ProgramFiles": "C:\\Program Files",
    "ProgramFilesX86": "C:\\Program Files (x86)",
    "RoamingAppData": "C:\\Users\\alice\\AppData\\Roaming",
    "LocalAppData": "C:\\Users\\alice\\AppData\\Local",
    "LocalAppDataLow": "C:\\Users\\alice\\AppData\\LocalLow",
    "System": "C:\\Windows\\System32",
    "SystemX86": "C:\\Windows\\SysWOW64",
    "Desktop": "C:\\Users\\alice\\Desktop",
    "Temp": "C:\\Users\\alice\\AppData\\Local\\Temp"
  },
  "files": {
    "C:\\Program Files\\Sablewick\\Sablewick Remote\\SablewickRemote.exe": "agent service\r\n",
    "C:\\Program Files\\Sablewick\\Sablewick Remote\\SablewickRemoteDesktop.exe": "agent remote desktop\r\n",
    "C:\\Program Files\\Sablewick\\Sablewick Remote\\SablewickTrayAgent.exe": "agent tray program\r\n"
  },
  "modules": {
    "shell32": { "present": true, "SHGetKnownFolderPath": true },
    "wininet": { "loadable": true },
    "ui_language": 1033
  },
  "registry": {
    "both": {
      "SOFTWARE\\Microsoft\\Cryptography": {
        "MachineGuid": "8e41c7d2-53b0-4a6f-b9e1-2d7c04f5a913"
      }
    }
  },
  "drives": [
    { "root": "C:\\", "type": "fixed", "serial": 4073213537, "label": "Windows", "filesystem": "NTFS" },
    { "root": "D:\\", "type": "cdrom", "ready": false }
  ],
  "adapters": [
    { "name": "{6A3F1D2E-8B4C-4E7A-9F10-2C3D4E5F6071}", "description": "Intel(R) Ethernet Connection I219-V",
      "type": 6, "address": "00:1a:2b:3c:4d:5e", "index": 7, "ip": "192.168.20.14", "mask": "255.255.255.0" }
  ],
  "security": {
    "token": "elevated_administrator",
    "consent": "accept"
  },
  "sessions": {
    "console_session": 1,
    "user": "alice"
  },
  "processes": {
    "running": [
      { "image": "SablewickRemote.exe", "session": 0 },
      { "image": "SablewickRemoteDesktop.exe", "session": 1 },
      { "image": "SablewickTrayAgent.exe", "session": 1 }
    ]
  },
  "services": {
    "SablewickRemote": {
      "binary_path": "\"C:\\Program Files\\Sablewick\\Sablewick Remote\\SablewickRemote.exe\"",
      "state": "running",
      "stop_polls": 2
    }
  },
  "programs": {
    "taskkill": {},
    "msiexec": {
      "exit_code": 0,
      "duration_ms": 42000,
      "effects": [
        {
          "replace_line": "C:\\ProgramData\\Sablewick\\Sablewick Remote\\SablewickRemote.cfg",
          "holding": "tray-port",
          "line": "tray-port=27015\r\n"
        }
      ]
    }
  }
})json";
    return nlohmann::json::parse(text);
}

}  // namespace winsim
