#include "platform/winsim/folders.h"

#include "platform/winsim/machine.h"

#include <filesystem>

namespace winsim {

void KnownFolders::load(const nlohmann::json& s, Machine& m) {
    folders = {
        {"ProgramData", {"C:\\ProgramData", true}},
        {"ProgramFiles", {"C:\\Program Files", true}},
        {"ProgramFilesX86", {"C:\\Program Files (x86)", true}},
        {"RoamingAppData", {"C:\\Users\\alice\\AppData\\Roaming", true}},
        {"LocalAppData", {"C:\\Users\\alice\\AppData\\Local", true}},
        {"LocalAppDataLow", {"C:\\Users\\alice\\AppData\\LocalLow", true}},
        {"System", {"C:\\Windows\\System32", true}},
        {"SystemX86", {"C:\\Windows\\SysWOW64", true}},
        {"Desktop", {"C:\\Users\\alice\\Desktop", true}},
        {"Temp", {"C:\\Users\\alice\\AppData\\Local\\Temp", true}},
    };
    if (s.is_object()) {
        for (const auto& [name, v] : s.items()) {
            if (v.is_string())
                folders[name] = {v.get<std::string>(), true};
            else
                folders[name] = {v.at("path").get<std::string>(), v.value("exists", true)};
        }
    }
    for (const auto& [name, f] : folders)
        if (f.exists) std::filesystem::create_directories(m.sandbox.host_path(f.windows_path));
}

const KnownFolders::Folder* KnownFolders::find(const std::string& name) const {
    auto it = folders.find(name);
    return it == folders.end() ? nullptr : &it->second;
}

std::string KnownFolders::system_path() const {
    const Folder* sys = find("System");
    return sys ? sys->windows_path : std::string("C:\\Windows\\System32");
}

std::string KnownFolders::temp_host_path(const Machine& m) const {
    return m.sandbox.host_path(find("Temp")->windows_path).string();
}

}  // namespace winsim
