// The fault sweep: every road of the program runs once on a fresh simulated
// machine, and then once more for every platform call and every file
// operation it made, with that one call or operation failing as Windows lets
// it fail. Whatever fails, the run must end as the program promises: through
// its own reports rather than wWinMain's last resort, at most one message box
// (none when silent; the shell's error dialogs count among them), nothing
// left held, no temporary package or side file left behind, and the agent's
// two files either untouched or whole. A failure
// in a best-effort step (taskkill, making the installer log's folder, the
// configuration's write-back, the service's restart, the tray program's
// start, the temporary package's removal) shows nothing of its own, and the
// steps after it still run.
#include "support/machine_fixture.h"

#include "platform/win32.h"
#include "platform/winsim/machine.h"
#include "snet/types/settings_archive.hpp"

#include <boost/uuid/uuid_io.hpp>
#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using winsim::CallRecord;

const std::string kDataFolder = "C:\\ProgramData\\Sablewick\\Sablewick Remote";
const std::string kConfig = kDataFolder + "\\SablewickRemote.cfg";
const std::string kSettings = kDataFolder + "\\SablewickRemote.dat";
const std::string kTempFolder = "C:\\Users\\alice\\AppData\\Local\\Temp";
const std::string kAgentFolder = "C:\\Program Files\\Sablewick\\Sablewick Remote";
const std::string kCompany = "0f8fad5b-d9cb-469f-a165-70867728950e";

// What an installed agent's files hold before an update or a reinstallation.
const char kUsersConfig[] = "# mine\r\ntray-port = 100\r\nkey = user\r\n";
const char kInstalledSettings[] =
    "22 serialization::archive 13 0 2 7d3a90c4-5b21-4e8f-9a6c-0f12b3e4d5a6 "
    "b2cdac20-187f-6fc0-0f51-c10147f7d51b 1 00000000-0000-0000-0000-000000000000\r\n";

// ---------------------------------------------------------------- roads

struct Road {
    std::string name;
    std::vector<std::wstring> args;
    std::string token;           // the process token's kind
    bool consent = true;         // the answer to the consent prompt
    bool cleanMachine = false;   // no agent at all: the installer brings it
    bool brokenImage = false;    // the program carries no package
    bool silent = false;
    bool update = false;
    std::optional<std::string> companyId;
    std::optional<std::string> config;    // the files before the run
    std::optional<std::string> settings;
    bool settingsReadOnly = false;
    bool serviceHoldsConfig = false;      // open without delete or write sharing
    nlohmann::json patch;                 // merged into the profile

    bool rights() const { return token == "local_system" || token == "elevated_administrator"; }
};

std::vector<Road> Roads() {
    std::vector<Road> roads;
    {
        Road r;
        r.name = "first installation";
        r.token = "local_system";
        r.cleanMachine = true;
        r.args = {L"--company_id", L"0F8FAD5B-D9CB-469F-A165-70867728950E"};
        r.companyId = kCompany;
        roads.push_back(r);
    }
    {
        Road r;
        r.name = "update with both files";
        r.token = "local_system";
        r.update = true;
        r.args = {L"--update"};
        r.config = kUsersConfig;
        r.settings = kInstalledSettings;
        roads.push_back(r);
    }
    {
        Road r;
        r.name = "update without the files";
        r.token = "local_system";
        r.update = true;
        r.args = {L"--update", L"--notray"};
        roads.push_back(r);
    }
    {
        Road r;
        r.name = "silent reinstallation";
        r.token = "local_system";
        r.silent = true;
        r.args = {L"--silent", L"--company_id=" + winsim::from_utf8(kCompany)};
        r.companyId = kCompany;
        r.config = kUsersConfig;
        r.settings = kInstalledSettings;
        roads.push_back(r);
    }
    {
        Road r;
        r.name = "interactive reinstallation";
        r.token = "elevated_administrator";
        r.config = kUsersConfig;
        r.settings = kInstalledSettings;
        roads.push_back(r);
    }
    {
        // A broken image: the failure report itself meets the faults.
        Road r;
        r.name = "interactive run of a broken image";
        r.token = "local_system";
        r.brokenImage = true;
        r.config = kUsersConfig;
        r.settings = kInstalledSettings;
        roads.push_back(r);
    }
    {
        // Windows refuses to replace a file its service holds open.
        Road r;
        r.name = "reinstallation while the service holds its configuration";
        r.token = "elevated_administrator";
        r.args = {L"--company_id=" + winsim::from_utf8(kCompany)};
        r.companyId = kCompany;
        r.config = kUsersConfig;
        r.settings = kInstalledSettings;
        r.serviceHoldsConfig = true;
        roads.push_back(r);
    }
    {
        Road r;
        r.name = "silent reinstallation over a read-only settings file";
        r.token = "local_system";
        r.silent = true;
        r.args = {L"--silent"};
        r.config = kUsersConfig;
        r.settings = kInstalledSettings;
        r.settingsReadOnly = true;
        roads.push_back(r);
    }
    {
        Road r;
        r.name = "update over a read-only settings file";
        r.token = "local_system";
        r.update = true;
        r.args = {L"--update"};
        r.config = kUsersConfig;
        r.settings = kInstalledSettings;
        r.settingsReadOnly = true;
        roads.push_back(r);
    }
    {
        Road r;
        r.name = "installer that never ends";
        r.token = "local_system";
        r.config = kUsersConfig;
        r.settings = kInstalledSettings;
        r.patch = {{"programs", {{"msiexec", {{"hang", true}}}}}};
        roads.push_back(r);
    }
    {
        // taskkill hangs and the service never stops, all on the virtual clock.
        Road r;
        r.name = "agent that does not answer";
        r.token = "local_system";
        r.config = kUsersConfig;
        r.settings = kInstalledSettings;
        r.patch = {{"programs", {{"taskkill", {{"hang", true}}}}},
                   {"services", {{"SablewickRemote", {{"stop_polls", "never"}}}}}};
        roads.push_back(r);
    }
    {
        // A service registered without quotes around a path with blanks,
        // and a program planted where such a path is found first.
        const std::string unquoted = kAgentFolder + "\\SablewickRemote.exe";
        Road r;
        r.name = "unquoted service path";
        r.token = "local_system";
        r.silent = true;
        r.args = {L"--silent"};
        r.config = kUsersConfig;
        r.settings = kInstalledSettings;
        r.patch = {{"files", {{"C:\\Program.exe", "planted\r\n"}}},
                   {"services", {{"SablewickRemote", {{"binary_path", unquoted}}}}},
                   {"programs",
                    {{"msiexec",
                      {{"effects", {{{"service", {{"name", "SablewickRemote"}, {"binary_path", unquoted}}}}}}}}}}};
        roads.push_back(r);
    }
    {
        Road r;
        r.name = "without rights, consent given";
        r.token = "filtered_administrator";
        r.args = {L"--update", L"--company_id", L"A B"};
        roads.push_back(r);
    }
    {
        Road r;
        r.name = "without rights, consent declined";
        r.token = "standard_user";
        r.consent = false;
        roads.push_back(r);
    }
    {
        Road r;
        r.name = "without rights, silent";
        r.token = "standard_user";
        r.silent = true;
        r.args = {L"--silent"};
        roads.push_back(r);
    }
    return roads;
}

nlohmann::json ProfileOf(const Road& road) {
    nlohmann::json p = winsim::Machine::default_profile();
    p["security"]["token"] = road.token;
    p["security"]["consent"] = road.consent ? "accept" : "decline";
    if (road.cleanMachine) {
        p["files"] = nlohmann::json::object();
        p["services"] = nlohmann::json::object();
        p["processes"]["running"] = nlohmann::json::array();
        p["programs"]["msiexec"]["effects"] = {
            {{"write_file", kAgentFolder + "\\SablewickRemote.exe"}, {"text", "service\r\n"}},
            {{"write_file", kAgentFolder + "\\SablewickTrayAgent.exe"}, {"text", "tray\r\n"}},
            {{"service",
              {{"name", "SablewickRemote"},
               {"binary_path", "\"" + kAgentFolder + "\\SablewickRemote.exe\""},
               {"state", "running"},
               {"stop_polls", 2}}}},
        };
    }
    if (road.brokenImage)
        p["modules"]["resources"]["remove"] = nlohmann::json::array({{{"type", "MSI"}, {"id", 102}}});
    if (road.config) p["files"][kConfig] = {{"text", *road.config}};
    if (road.settings) p["files"][kSettings] = {{"text", *road.settings}, {"read_only", road.settingsReadOnly}};
    if (road.serviceHoldsConfig)
        p["services"]["SablewickRemote"]["open_files"] = nlohmann::json::array({kConfig});
    if (!road.patch.is_null()) p.merge_patch(road.patch);
    return p;
}

// ---------------------------------------------------------------- faults

// A launch of taskkill, named by the file at the end of its path.
bool IsTaskkill(const std::string& file) { return winsim::file_name_of(file) == "taskkill.exe"; }

bool IsInstallerLaunch(const CallRecord& c) {
    if (c.call != "ShellExecuteExW") return false;
    const std::string file = c.args["pExecInfo"].value("lpFile", std::string());
    return file.size() > 4 && file.compare(file.size() - 4, 4, ".msi") == 0;
}

// Calls that cannot fail on Windows; the model ignores faults for them.
const std::set<std::string> kCannotFail = {
    "GetLastError",        "SetLastError",        "GetCurrentProcessId", "GetTickCount",
    "Sleep",               "GetCommandLineW",     "EnterCriticalSection", "LeaveCriticalSection",
    "DeleteCriticalSection", "CoUninitialize",    "CoTaskMemFree",
};

struct Injection {
    std::string call;
    unsigned nth = 0;           // 1-based occurrence of the call
    DWORD error = 0;            // last-error value (or LSTATUS)
    std::optional<std::int32_t> status;  // HRESULT for the functions that return one
    std::string tag;            // which step of the program made the call
    std::size_t at = 0;         // its index in the run without a fault
    bool file = false;          // a file operation; `path` names its file
    std::string path;

    std::string describe() const {
        std::ostringstream s;
        s << call << " #" << nth << " failing with ";
        if (status)
            s << "0x" << std::hex << static_cast<std::uint32_t>(*status);
        else
            s << error;
        if (file) s << " (" << path << ")";
        return s.str();
    }
};

constexpr std::int32_t kEFail = static_cast<std::int32_t>(0x80004005u);
constexpr std::int32_t kEOutOfMemory = static_cast<std::int32_t>(0x8007000Eu);
constexpr std::int32_t kRpcEChangedMode = static_cast<std::int32_t>(0x80010106u);

// The failure Windows really gives for each call (as the program meets it).
void ChooseFailure(const CallRecord& record, Injection& injection) {
    const std::string& c = record.call;
    static const std::map<std::string, DWORD> errors = {
        {"CommandLineToArgvW", ERROR_NOT_ENOUGH_MEMORY},
        {"LocalAlloc", ERROR_NOT_ENOUGH_MEMORY},
        {"LocalFree", ERROR_INVALID_HANDLE},
        {"GetModuleFileNameW", ERROR_NOT_ENOUGH_MEMORY},
        {"GetModuleHandleW", ERROR_MOD_NOT_FOUND},
        {"GetProcAddress", ERROR_PROC_NOT_FOUND},
        {"LoadLibraryExW", ERROR_MOD_NOT_FOUND},
        {"FreeLibrary", ERROR_INVALID_HANDLE},
        {"FindResourceW", ERROR_RESOURCE_NAME_NOT_FOUND},
        {"SizeofResource", ERROR_RESOURCE_DATA_NOT_FOUND},
        {"LoadResource", ERROR_NOT_ENOUGH_MEMORY},
        {"LockResource", ERROR_INVALID_HANDLE},
        {"LoadStringW", ERROR_RESOURCE_NAME_NOT_FOUND},
        {"FormatMessageW", 317},  // ERROR_MR_MID_NOT_FOUND
        {"WideCharToMultiByte", ERROR_NO_UNICODE_TRANSLATION},
        {"MessageBoxW", ERROR_NOT_ENOUGH_MEMORY},
        {"GetProcessHeap", ERROR_NOT_ENOUGH_MEMORY},
        {"InitializeCriticalSectionAndSpinCount", ERROR_NOT_ENOUGH_MEMORY},
        {"RegOpenKeyExW", ERROR_ACCESS_DENIED},
        {"RegQueryValueExW", ERROR_FILE_NOT_FOUND},
        {"RegCloseKey", ERROR_INVALID_HANDLE},
        {"GetLogicalDriveStringsW", ERROR_NOT_ENOUGH_MEMORY},
        {"GetDriveTypeW", ERROR_INVALID_PARAMETER},
        {"GetVolumeInformationW", ERROR_NOT_READY},
        {"GetAdaptersInfo", ERROR_NOT_SUPPORTED},
        {"AllocateAndInitializeSid", ERROR_NOT_ENOUGH_MEMORY},
        {"CheckTokenMembership", ERROR_ACCESS_DENIED},
        {"FreeSid", ERROR_INVALID_PARAMETER},
        {"RevertToSelf", ERROR_ACCESS_DENIED},
        {"DuplicateTokenEx", ERROR_ACCESS_DENIED},
        {"WaitForSingleObject", ERROR_INVALID_HANDLE},
        {"GetExitCodeProcess", ERROR_INVALID_HANDLE},
        {"CloseHandle", ERROR_INVALID_HANDLE},
        {"CreateProcessAsUserW", ERROR_ACCESS_DENIED},
        {"OpenSCManagerW", ERROR_ACCESS_DENIED},
        {"OpenServiceW", ERROR_ACCESS_DENIED},
        {"QueryServiceConfigW", ERROR_ACCESS_DENIED},
        {"ControlService", ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
        {"QueryServiceStatusEx", ERROR_ACCESS_DENIED},
        {"StartServiceW", 1058},  // ERROR_SERVICE_DISABLED
        {"CloseServiceHandle", ERROR_INVALID_HANDLE},
        {"WTSGetActiveConsoleSessionId", ERROR_SUCCESS},  // "no session" sets no error
        {"WTSQueryUserToken", ERROR_NO_TOKEN},
        {"CreateEnvironmentBlock", ERROR_NOT_ENOUGH_MEMORY},
        {"DestroyEnvironmentBlock", ERROR_INVALID_PARAMETER},
        {"GetFileAttributesW", ERROR_ACCESS_DENIED},
        {"DeleteFileW", ERROR_SHARING_VIOLATION},
        {"WriteFile", ERROR_DISK_FULL},
        {"FlushFileBuffers", ERROR_DISK_FULL},
        {"MoveFileExW", ERROR_SHARING_VIOLATION},
    };
    static const std::map<std::string, std::int32_t> statuses = {
        {"CoInitializeEx", kRpcEChangedMode},
        {"SHGetKnownFolderPath", kEFail},
        {"SHGetFolderPathW", kEFail},
        {"CoTaskMemAlloc", kEOutOfMemory},
    };
    if (auto it = statuses.find(c); it != statuses.end()) {
        injection.status = it->second;
        return;
    }
    if (c == "ShellExecuteExW") {
        // The shell cannot find taskkill; it refuses the package and the
        // elevated copy (a policy, an antivirus program).
        const std::string file = record.args["pExecInfo"].value("lpFile", std::string());
        injection.error = IsTaskkill(file) ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
        return;
    }
    auto it = errors.find(c);
    injection.error = it == errors.end() ? ERROR_ACCESS_DENIED : it->second;
}

// The failures Windows gives each kind of file operation: a folder that
// cannot be written or a path that is gone (creation), a full disk (a write
// takes part of the data; the flush at the close), a scanner or the agent
// holding the file (rename, removal), a path whose status cannot be read.
std::vector<DWORD> FileFailures(const CallRecord& record) {
    const std::string& c = record.call;
    if (c == "open") return {ERROR_ACCESS_DENIED, ERROR_PATH_NOT_FOUND};
    if (c == "write" || c == "close") return {ERROR_DISK_FULL};
    if (c == "rename" || c == "remove") return {ERROR_SHARING_VIOLATION};
    return {ERROR_ACCESS_DENIED};  // stat, mkdir
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool IsTempPackage(const std::string& path) {
    const auto name = path.substr(path.find_last_of('\\') + 1);
    return name.rfind("sablewick_remote_", 0) == 0 && EndsWith(name, ".msi");
}

// Which step of the program made each call of a run. The failures that must
// reach the user: the folder lookups ("folder"), the lookups of the package,
// the template and the settings record ("resource:<type>"), and the
// installer's launch, wait and close ("installer"). The best-effort steps,
// whose failures must show nothing and stop nothing: the two taskkill runs
// ("taskkill"), making the installer log's folder ("log folder"), the
// configuration's write-back after the installer ("write-back"), the
// service's restart ("service"), the tray program's start ("tray") and the
// temporary package's removal ("package removal"). Everything else is "".
std::vector<std::string> StepTags(const std::vector<CallRecord>& calls) {
    static const std::set<std::string> kFileCalls = {"GetFileAttributesW", "DeleteFileW", "CreateFileW",
                                                     "WriteFile", "FlushFileBuffers", "CloseHandle",
                                                     "MoveFileExW"};
    std::vector<std::string> tags(calls.size());
    std::string resourceType;
    std::string phase;  // the step whose calls follow
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const auto& c = calls[i];
        if (c.file) {
            const std::string path = c.args.value("path", std::string());
            if (c.call == "remove" && IsTempPackage(path))
                tags[i] = "package removal";
            else if (c.call == "mkdir" && EndsWith(path, "\\SablewickRemote Msi"))
                tags[i] = "log folder";
            // The tray program's existence test is reported when the path
            // cannot even be tested (tray_start.cpp), unlike the rest of
            // that step.
            else if (phase == "write-back" || phase == "service" || (phase == "tray" && c.call != "stat"))
                tags[i] = phase;
            continue;
        }
        if (c.call == "WTSGetActiveConsoleSessionId") phase = "tray";
        // The package's unpack after the taskkill runs begins with its lookup.
        if (phase == "taskkill" && (c.call == "GetModuleHandleW" || c.call == "FindResourceW")) phase.clear();
        if (phase == "tray") {
            tags[i] = phase;
        } else if (c.call == "SHGetKnownFolderPath" || c.call == "SHGetFolderPathW") {
            tags[i] = "folder";
        } else if (c.call == "GetModuleHandleW" && c.args["lpModuleName"].is_null()) {
            // The module of a resource lookup: named by the lookup that follows.
            for (std::size_t k = i + 1; k < calls.size(); ++k) {
                if (calls[k].call == "FindResourceW") {
                    tags[i] = "resource:" + calls[k].args.value("lpType", std::string());
                    break;
                }
                if (calls[k].call == "GetModuleHandleW" || calls[k].call == "LoadStringW") break;
            }
        } else if (c.call == "FindResourceW") {
            resourceType = c.args.value("lpType", std::string());
            tags[i] = "resource:" + resourceType;
        } else if (c.call == "SizeofResource" || c.call == "LoadResource") {
            tags[i] = "resource:" + resourceType;
        } else if (c.call == "GetSystemDirectoryW") {
            tags[i] = "taskkill";  // the lookup of taskkill's folder
        } else if (c.call == "ShellExecuteExW") {
            const std::string file = c.args["pExecInfo"].value("lpFile", std::string());
            if (IsTaskkill(file))
                phase = "taskkill";
            else if (file.size() > 4 && file.compare(file.size() - 4, 4, ".msi") == 0) phase = "installer";
            else phase.clear();
            tags[i] = phase;
        } else if ((phase == "taskkill" || phase == "installer")
                   && (c.call == "WaitForSingleObject" || c.call == "CloseHandle")) {
            tags[i] = phase;
            if (phase == "installer" && c.call == "CloseHandle") phase = "write-back";
        } else if (phase == "write-back" && kFileCalls.count(c.call)) {
            tags[i] = phase;
        } else if (c.call == "OpenSCManagerW" && phase == "write-back") {
            phase = "service";
            tags[i] = phase;
        } else if (phase == "service") {
            tags[i] = phase;
        }
    }
    return tags;
}

bool IsBestEffort(const std::string& tag) {
    return tag == "taskkill" || tag == "log folder" || tag == "write-back" || tag == "service" || tag == "tray"
           || tag == "package removal";
}

// ---------------------------------------------------------------- one run

struct Outcome {
    std::vector<CallRecord> calls;
    std::vector<winsim::MessageBoxRecord> boxes;
    std::vector<std::string> leaks, problems;
    std::optional<std::string> config, settings;
    std::vector<std::string> tempPackages, strayFiles;
    std::string configTemplate, settingsTemplate;
    bool elevatedCopy = false;
    bool trayStarted = false;
    bool plantedStarted = false;  // a program found at the start of an unquoted path
};

std::optional<std::string> Slurp(const fs::path& p) {
    std::error_code ec;
    if (!fs::is_regular_file(p, ec)) return std::nullopt;
    std::ifstream in(p, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string ResourceBytes(const winsim::Machine& m, const std::wstring& type, unsigned id) {
    auto r = m.modules.find_resource(winsim::ResourceKey::of_name(type), winsim::ResourceKey::of_id(id));
    return r ? std::string(reinterpret_cast<const char*>(r->data), r->size) : std::string();
}

Outcome RunRoad(const Road& road, const Injection* injection) {
    Outcome out;
    winsim::test::TempFolder temp;
    winsim::Machine m(ProfileOf(road), temp.path() / "sandbox");
    m.kernel.command_line = winsim::build_command_line(m.kernel.module_path, road.args);

    if (injection) {
        if (injection->status)
            m.faults.fail_status(injection->call, *injection->status, injection->nth);
        else
            m.faults.fail(injection->call, injection->error, injection->nth);
    }

    // wWinMain returns 0 and lets nothing out, whatever happens; what the run
    // did is read from the machine.
    std::wstring tail = L"ignored";
    wWinMain(nullptr, nullptr, &tail[0], SW_SHOWNORMAL);

    // What the sweep reads afterwards is not the program's file work.
    winsim::ModelFileAccess sweep;
    out.calls = m.log.calls();
    out.boxes = m.ui.message_boxes;
    out.leaks = m.leaks();
    out.problems = m.problems();
    out.config = Slurp(m.sandbox.host_path(kConfig));
    out.settings = Slurp(m.sandbox.host_path(kSettings));
    out.configTemplate = ResourceBytes(m, L"CFG", 104);
    out.settingsTemplate = ResourceBytes(m, L"DAT", 107);
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(m.sandbox.host_path(kTempFolder), ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("sablewick_remote_", 0) == 0 && e.path().extension() == ".msi")
            out.tempPackages.push_back(name);
    }
    for (const auto& e : fs::recursive_directory_iterator(m.sandbox.host_path(kDataFolder), ec))
        if (e.path().extension() == ".new") out.strayFiles.push_back(e.path().filename().string());
    for (const auto& p : m.processes.started()) {
        if (p->verb == "runas") out.elevatedCopy = true;
        if (p->image == "SablewickTrayAgent.exe") out.trayStarted = true;
        if (p->path == m.sandbox.host_path("C:\\Program.exe").string()) out.plantedStarted = true;
    }
    return out;
}

// ---------------------------------------------------------------- invariants

bool Named(const CallRecord& c, const char* name) { return c.call == name; }

// The boxes of a run: the program's, counted as it asks for them (one that
// fails to show is still the report), and the shell's error dialogs.
std::size_t Boxes(const Outcome& o) {
    std::size_t boxes = 0;
    for (const auto& c : o.calls) boxes += Named(c, "MessageBoxW");
    for (const auto& b : o.boxes) boxes += b.owner == "shell";
    return boxes;
}

// The text without its tray-port line: from the first "tray-port" up to and
// including the line feed after it.
std::string WithoutTrayPortLine(const std::string& text) {
    const auto begin = text.find("tray-port");
    if (begin == std::string::npos) return text;
    const auto lineFeed = text.find('\n', begin);
    return text.substr(0, begin) + (lineFeed == std::string::npos ? "" : text.substr(lineFeed + 1));
}

// A settings file the agent can read: one whole record as the program saves it.
bool IsWholeSavedRecord(const std::string& bytes, const std::optional<std::string>& companyId,
                        std::string& why) {
    if (bytes.size() != 146) {
        why = std::to_string(bytes.size()) + " bytes";
        return false;
    }
    sablewick::snet::types::ClientSettings settings;
    try {
        std::istringstream in(bytes);
        sablewick::snet::types::LoadTextArchive(in, settings);
    } catch (const std::exception& e) {
        why = std::string("does not load: ") + e.what();
        return false;
    }
    std::ostringstream again;
    sablewick::snet::types::SaveTextArchive(again, settings);
    if (again.str() != bytes) {
        why = "not the record as the program saves it";
        return false;
    }
    if (companyId && boost::uuids::to_string(settings.companyId) != *companyId) {
        why = "company identity " + boost::uuids::to_string(settings.companyId);
        return false;
    }
    return true;
}

std::string Shown(const std::optional<std::string>& text) {
    if (!text) return "(no file)";
    std::string s = text->substr(0, 60);
    for (char& c : s)
        if (c == '\r' || c == '\n') c = '|';
    return "\"" + s + (text->size() > 60 ? "...\"" : "\"") + " (" + std::to_string(text->size()) + " bytes)";
}

// |baseline| is the same road's run without a fault; null for that run itself.
std::vector<std::string> Violations(const Road& road, const Injection* injection, const Outcome& o,
                                    const Outcome* baseline) {
    std::vector<std::string> v;
    const auto& calls = o.calls;
    auto has = [&](auto pred) {
        for (const auto& c : calls)
            if (pred(c)) return true;
        return false;
    };
    auto indexOf = [&](auto pred, bool last) -> std::ptrdiff_t {
        std::ptrdiff_t found = -1;
        for (std::size_t i = 0; i < calls.size(); ++i)
            if (pred(calls[i])) {
                found = static_cast<std::ptrdiff_t>(i);
                if (!last) break;
            }
        return found;
    };
    const std::ptrdiff_t injectedAt = indexOf([](const CallRecord& c) { return c.injected; }, false);
    const std::string tag = injection ? injection->tag : "";
    const bool byDesignQuiet = injection && injection->call == "CommandLineToArgvW";

    if (injection && injectedAt < 0) v.push_back("the fault was never taken");

    // An exception that escaped every report ends the run through wWinMain's
    // last resort: the objects go before the apartment is left. Only a
    // command line that cannot be split is meant to end that way.
    const std::ptrdiff_t init = indexOf([](const CallRecord& c) { return Named(c, "CoInitializeEx"); }, false);
    const bool joined = init >= 0 && calls[init].result.is_number() && calls[init].result.get<std::int64_t>() >= 0;
    const std::ptrdiff_t leave = indexOf([](const CallRecord& c) { return Named(c, "CoUninitialize"); }, true);
    const std::ptrdiff_t revert = indexOf([](const CallRecord& c) { return Named(c, "RevertToSelf"); }, true);
    if (!byDesignQuiet && joined && (revert < 0 || leave > revert))
        v.push_back("the run ended through wWinMain's last-resort handler");
    if (init < 0) v.push_back("COM was never initialised");

    const std::size_t boxes = Boxes(o);
    if (boxes > 1) v.push_back(std::to_string(boxes) + " message boxes");
    if (road.silent && boxes != 0) v.push_back("a message box in a silent run");

    // Leaks and misuse.
    for (const auto& l : o.leaks) v.push_back("leak: " + l);
    for (const auto& p : o.problems) v.push_back("misuse: " + p);

    // What was done must be reported or finished.
    const bool installRan = has([](const CallRecord& c) {
        return Named(c, "SHGetKnownFolderPath") || Named(c, "SHGetFolderPathW");
    });
    const bool reachedLastStep = has([](const CallRecord& c) { return Named(c, "WTSGetActiveConsoleSessionId"); });
    if (road.rights()) {
        const bool adminCheckFailed =
            injection && injection->nth == 1
            && (injection->call == "AllocateAndInitializeSid" || injection->call == "CheckTokenMembership");
        if (!installRan && !adminCheckFailed && !byDesignQuiet)
            v.push_back("the installation never started");
        if (installRan && !road.silent && boxes == 0 && !reachedLastStep)
            v.push_back("the run stopped without a message box");
        if (!road.silent && boxes == 0
            && (tag == "folder" || tag == "installer" || tag == "resource:MSI" || tag == "resource:CFG"
                || tag == "resource:DAT"))
            v.push_back("the failure was not reported");
    } else {
        if (installRan) v.push_back("installed without rights");
        const bool declined = has([](const CallRecord& c) {
            return Named(c, "ShellExecuteExW") && !c.injected && c.lastError == ERROR_CANCELLED
                   && c.result == 0;
        });
        if (!road.silent && !byDesignQuiet && !o.elevatedCopy && !declined && boxes == 0)
            v.push_back("neither re-launched nor reported");
        if (o.elevatedCopy && boxes != 0) v.push_back("a message box after a re-launch");
        if (road.silent && o.elevatedCopy) v.push_back("re-launched in a silent run");
    }

    // The temporary package and the side files of the file replacement: gone
    // on every way out, except where their own removal failed. Windows
    // deletes no file that another program (a scanner, a hung installer)
    // holds open without delete sharing, and the program cannot do more than
    // ask; what is left is Windows' doing.
    auto ownRemovalFailed = [&](const std::string& name) {
        if (!injection || (injection->call != "remove" && injection->call != "DeleteFileW")) return false;
        const std::string& path = injection->path;
        return path.substr(path.find_last_of("\\/") + 1) == name;
    };
    for (const auto& f : o.tempPackages)
        if (!ownRemovalFailed(f)) v.push_back("temporary package left: " + f);
    for (const auto& f : o.strayFiles)
        if (!ownRemovalFailed(f)) v.push_back("stray file left: " + f);
    if (o.plantedStarted) v.push_back("the program planted at C:\\Program.exe was started");
    if (!baseline && road.token == "local_system" && road.rights() && !road.brokenImage
        && has([](const CallRecord& c) { return Named(c, "WTSGetActiveConsoleSessionId"); }) && !o.trayStarted)
        v.push_back("the tray program was not started");

    // A best-effort step that fails says nothing of its own, and every later
    // step the road reaches without the fault still runs.
    if (baseline && IsBestEffort(tag)) {
        const std::size_t baselineBoxes = Boxes(*baseline);
        if (boxes != baselineBoxes)
            v.push_back("a failed " + tag + " step changed the report: " + std::to_string(boxes)
                        + " message boxes, " + std::to_string(baselineBoxes) + " without the fault");
        struct Later {
            const char* step;
            bool (*made)(const CallRecord&);
        };
        // Each step by the call that begins it; the failed step's own calls
        // are not "later".
        const Later later[] = {
            {"installer", IsInstallerLaunch},
            {"service restart", [](const CallRecord& c) { return Named(c, "OpenSCManagerW"); }},
            {"tray program start", [](const CallRecord& c) { return Named(c, "WTSGetActiveConsoleSessionId"); }},
        };
        const auto baselineTags = StepTags(baseline->calls);
        for (const Later& step : later) {
            bool before = false, now = false;
            for (std::size_t k = injection->at + 1; k < baseline->calls.size(); ++k)
                before = before || (baselineTags[k] != tag && step.made(baseline->calls[k]));
            for (const auto& c : calls) now = now || step.made(c);
            if (before && !now) v.push_back("the " + std::string(step.step) + " did not run after a failed " + tag);
        }
    }

    // The settings file: as it was, the embedded record, or a whole saved one.
    if (o.settings != road.settings && o.settings != o.settingsTemplate) {
        std::string why;
        if (!o.settings)
            v.push_back("settings file gone");
        else if (!IsWholeSavedRecord(*o.settings, road.companyId, why))
            v.push_back("settings file " + Shown(o.settings) + ": " + why);
    }

    // The configuration file: as it was, the template, or (in an update) the
    // earlier text; the last two with at most their tray-port line changed.
    if (o.config != road.config) {
        const bool fromTemplate = o.config && WithoutTrayPortLine(*o.config) == WithoutTrayPortLine(o.configTemplate);
        const bool fromEarlier = o.config && road.update && road.config
                                 && WithoutTrayPortLine(*o.config) == WithoutTrayPortLine(*road.config);
        if (!fromTemplate && !fromEarlier) v.push_back("configuration file " + Shown(o.config));
    }
    return v;
}

// ---------------------------------------------------------------- the sweep

struct Violation {
    std::string road, injection, what;
};

TEST(FaultSweep, EveryRoadSurvivesEveryFailingCall) {
    // The known-folder helper is made once per process and keeps what it
    // looked up in shell32; a first run outside the sweep makes it, so that
    // every road's record holds the same calls whatever runs first.
    RunRoad(Roads().front(), nullptr);

    std::vector<Violation> violations;
    std::size_t totalRuns = 0, fileRuns = 0;
    for (const Road& road : Roads()) {
        const Outcome baseline = RunRoad(road, nullptr);
        std::size_t runs = 1, bad = 0, files = 0;
        for (const auto& what : Violations(road, nullptr, baseline, nullptr)) {
            violations.push_back({road.name, "no fault", what});
            ++bad;
        }
        const auto tags = StepTags(baseline.calls);
        std::map<std::string, unsigned> seen;
        for (std::size_t i = 0; i < baseline.calls.size(); ++i) {
            const CallRecord& record = baseline.calls[i];
            const unsigned nth = ++seen[record.call];
            if (kCannotFail.count(record.call)) continue;
            std::vector<Injection> injections;
            Injection injection;
            injection.call = record.call;
            injection.nth = nth;
            injection.tag = tags[i];
            injection.at = i;
            if (record.file) {
                injection.file = true;
                injection.path = record.args.value("path", std::string());
                for (DWORD error : FileFailures(record)) {
                    injection.error = error;
                    injections.push_back(injection);
                }
            } else {
                if (record.call == "DeleteFileW") injection.path = record.args.value("lpFileName", std::string());
                ChooseFailure(record, injection);
                injections.push_back(injection);
            }
            for (const Injection& each : injections) {
                const Outcome o = RunRoad(road, &each);
                ++runs;
                files += each.file;
                const auto found = Violations(road, &each, o, &baseline);
                for (const auto& what : found) violations.push_back({road.name, each.describe(), what});
                bad += found.size();
            }
        }
        std::cout << "fault sweep: " << road.name << ": " << runs << " runs (" << files
                  << " with a file operation failing), " << bad << " violations" << std::endl;
        totalRuns += runs;
        fileRuns += files;
    }
    std::cout << "fault sweep: " << totalRuns << " runs (" << fileRuns << " with a file operation failing), "
              << violations.size() << " violations" << std::endl;

    for (const auto& v : violations)
        ADD_FAILURE() << v.road << " | " << v.injection << " | " << v.what;
}

}  // namespace
