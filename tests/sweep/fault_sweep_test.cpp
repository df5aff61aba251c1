// The fault sweep: every road of the program runs once on a fresh simulated
// machine, and then once more for every platform call and every file
// operation it made, with that one call or operation failing as Windows lets
// it fail.
//
// The run without a fault must end as its road promises (the installation
// completed, one report, a re-launch, or nothing at all), and on the roads
// that touch files the file operations must have reached the model and been
// failed one by one. Whatever fails, a run must end through the program's own
// reports rather than wWinMain's last resort, with at most one message box
// (none when silent), nothing left held, no temporary package or side file
// left behind, no program planted at C:\Program.exe started, and the agent's
// two files either untouched or whole. A failure in a best-effort step
// (taskkill, making the installer log's folder, the configuration's
// write-back, the service's restart, the tray program's start, the temporary
// package's removal) shows nothing of its own, and the road still ends as it
// promises, but for what that step itself was to do.
//
// Which step a call belongs to is read from the call itself: the file it
// launches, the service its handle was opened for, the file it names, and
// what the machine knew at that moment (whether the installer had ended on
// the virtual clock), never from where it stands among the program's calls.
#include "support/machine_fixture.h"

#include "platform/win32.h"
#include "platform/winsim/machine.h"
#include "snet/types/settings_archive.hpp"

#include <boost/uuid/string_generator.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
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
const std::string kTrayProgram = kAgentFolder + "\\SablewickTrayAgent.exe";
const std::string kPlanted = "C:\\Program.exe";
// A file of a standard user's, outside the agent's folders, that links of
// theirs lead to.
const std::string kVictim = "C:\\Users\\alice\\victim.txt";
const std::string kAgentService = "SablewickRemote";
const std::string kCompany = "0f8fad5b-d9cb-469f-a165-70867728950e";

// What an installed agent's files hold before an update or a reinstallation.
const char kUsersConfig[] = "# mine\r\ntray-port = 100\r\nkey = user\r\n";
const char kInstalledSettings[] =
    "22 serialization::archive 13 0 2 7d3a90c4-5b21-4e8f-9a6c-0f12b3e4d5a6 "
    "b2cdac20-187f-6fc0-0f51-c10147f7d51b 1 00000000-0000-0000-0000-000000000000\r\n";

// ---------------------------------------------------------------- machines

// A machine as pieces of a profile over the default one (an elevated
// administrator, the agent installed and running, alice at the console),
// merged in order, and what is done to the built machine before the run.
// Pieces add up with +.
struct State {
    std::vector<nlohmann::json> patches;
    std::vector<std::function<void(winsim::Machine&)>> setup;
};

State operator+(State a, const State& b) {
    a.patches.insert(a.patches.end(), b.patches.begin(), b.patches.end());
    a.setup.insert(a.setup.end(), b.setup.begin(), b.setup.end());
    return a;
}

State Patch(nlohmann::json patch) { return State{{std::move(patch)}, {}}; }

// The agent's configuration and settings files as an installed agent has them.
State AgentFiles() {
    return Patch(
        {{"files",
          {{kConfig, {{"text", kUsersConfig}}}, {kSettings, {{"text", kInstalledSettings}}}}}});
}

// No agent at all: the installer brings its programs and its service.
State NoAgent() {
    return Patch(
        {{"files", nullptr},
         {"services", nullptr},
         {"processes", {{"running", nlohmann::json::array()}}},
         {"programs",
          {{"msiexec",
            {{"effects",
              {{{"write_file", kAgentFolder + "\\SablewickRemote.exe"}, {"text", "service\r\n"}},
               {{"write_file", kTrayProgram}, {"text", "tray\r\n"}},
               {{"service",
                 {{"name", kAgentService},
                  {"binary_path", "\"" + kAgentFolder + "\\SablewickRemote.exe\""},
                  {"state", "running"},
                  {"stop_polls", 2}}}}}}}}}}});
}

// The program carries no package.
State BrokenImage() {
    return Patch({{"modules", {{"resources", {{"remove", {{{"type", "MSI"}, {"id", 102}}}}}}}}});
}

State ReadOnly(const std::string& file) {
    return Patch({{"files", {{file, {{"read_only", true}}}}}});
}

// The running service holds |file| open, sharing reading only.
State HeldByService(const std::string& file) {
    return Patch({{"services", {{kAgentService, {{"open_files", {file}}}}}}});
}

State InstallerHangs() { return Patch({{"programs", {{"msiexec", {{"hang", true}}}}}}); }

// taskkill hangs and the service never stops, all on the virtual clock.
State AgentUnresponsive() {
    return Patch({{"programs", {{"taskkill", {{"hang", true}}}}},
                  {"services", {{kAgentService, {{"stop_polls", "never"}}}}}});
}

// The service registered without quotes around a path with blanks (also by
// the installer), and a program planted where such a path is found first.
State UnquotedServicePath() {
    const std::string unquoted = kAgentFolder + "\\SablewickRemote.exe";
    return Patch({{"files", {{kPlanted, "planted\r\n"}}},
                  {"services", {{kAgentService, {{"binary_path", unquoted}}}}},
                  {"programs",
                   {{"msiexec",
                     {{"effects",
                       {{{"service", {{"name", kAgentService}, {"binary_path", unquoted}}}}}}}}}}});
}

// What a standard user made before the first installation: the agent's
// folders, owned by them, and links where the program writes its new files
// and the installer its log.
State PreparedByUser() {
    const std::string sablewick = "C:\\ProgramData\\Sablewick";
    return NoAgent()
           + Patch({{"files",
                     {{kVictim, "victim\r\n"},
                      {sablewick, {{"folder", true}, {"owner", "alice"}}},
                      {kDataFolder, {{"folder", true}, {"owner", "alice"}}},
                      {kConfig + ".new", {{"symlink", kVictim}}},
                      {kSettings + ".new", {{"object_link", kVictim}}},
                      {kDataFolder + "\\SablewickRemote Msi\\log_v1.0.45.1871.log",
                       {{"symlink", kVictim}}}}}});
}

// The agent's top folder a junction a standard user made to a folder of
// theirs.
State JunctionByUser() {
    const std::string elsewhere = "C:\\Users\\alice\\Stage";
    return NoAgent()
           + Patch({{"files",
                     {{kVictim, "victim\r\n"},
                      {elsewhere + "\\Sablewick Remote\\SablewickRemote.cfg", {{"object_link", kVictim}}},
                      {"C:\\ProgramData\\Sablewick", {{"junction", elsewhere}, {"owner", "alice"}}}}}});
}

State ConsentDeclined() { return Patch({{"security", {{"consent", "decline"}}}}); }

// ---------------------------------------------------------------- ends

// How the run without a fault ends.
struct End {
    enum class Kind { completed, report, relaunch, nothing };
    Kind kind;
    // A report's message box holds each of these (unless the run is silent,
    // when nothing is shown and only the stop can be seen).
    std::vector<std::string> says;

    std::string describe() const {
        static const char* const names[] = {"installation completed", "one report", "a re-launch",
                                            "nothing"};
        return names[static_cast<int>(kind)];
    }
};

// The installer ran to its end with success; the service was stopped and
// started after it unless the run is an update; the tray program was started
// in the console user's session after it where the account can do that
// (only local system gets the console user's token).
End Completed() { return {End::Kind::completed, {}}; }
End Report(std::vector<std::string> says) { return {End::Kind::report, std::move(says)}; }
// The program started an elevated copy of itself and did nothing else.
End Relaunch() { return {End::Kind::relaunch, {}}; }
End Nothing() { return {End::Kind::nothing, {}}; }

// ---------------------------------------------------------------- roads

const std::string kLocalSystem = "local_system";
const std::string kAdministrator = "elevated_administrator";
const std::string kFilteredAdministrator = "filtered_administrator";
const std::string kStandardUser = "standard_user";

struct Road {
    std::string name;
    std::vector<std::wstring> args;
    std::string account;  // the process token's kind
    State machine;
    End end;

    bool has(const std::wstring& option) const {
        return std::find(args.begin(), args.end(), option) != args.end();
    }
    bool silent() const { return has(L"--silent"); }
    bool update() const { return has(L"--update"); }
    bool rights() const { return account == kLocalSystem || account == kAdministrator; }

    // The company identity the settings file must hold, when the run names
    // one that can be read.
    std::optional<std::string> companyId() const {
        const std::wstring option = L"--company_id";
        for (std::size_t i = 0; i < args.size(); ++i) {
            std::wstring value;
            if (args[i] == option && i + 1 < args.size())
                value = args[i + 1];
            else if (args[i].rfind(option + L"=", 0) == 0)
                value = args[i].substr(option.size() + 1);
            else
                continue;
            try {
                return boost::uuids::to_string(boost::uuids::string_generator()(value));
            } catch (const std::exception&) {
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    nlohmann::json profile() const {
        nlohmann::json p = winsim::Machine::default_profile();
        p["security"]["token"] = account;
        for (const auto& patch : machine.patches) p.merge_patch(patch);
        return p;
    }
};

// Every road of the program: one row each.
const std::vector<Road>& Roads() {
    const std::wstring company = winsim::from_utf8(kCompany);
    static const std::vector<Road> roads = {
        // name, arguments, account, machine, end
        {"first installation",
         {L"--company_id", L"0F8FAD5B-D9CB-469F-A165-70867728950E"},
         kLocalSystem,
         NoAgent(),
         Completed()},
        {"update with both files", {L"--update"}, kLocalSystem, AgentFiles(), Completed()},
        {"update without the files", {L"--update", L"--notray"}, kLocalSystem, {}, Completed()},
        {"silent reinstallation",
         {L"--silent", L"--company_id=" + company},
         kLocalSystem,
         AgentFiles(),
         Completed()},
        {"interactive reinstallation", {}, kAdministrator, AgentFiles(), Completed()},
        // The failure report itself meets the faults.
        {"interactive run of a broken image",
         {},
         kLocalSystem,
         AgentFiles() + BrokenImage(),
         Report({"resource type cannot be found"})},
        // Windows refuses to replace a file its service holds open.
        {"reinstallation while the service holds its configuration",
         {L"--company_id=" + company},
         kAdministrator,
         AgentFiles() + HeldByService(kConfig),
         Report({"cannot remove", "being used by another process", "SablewickRemote.cfg"})},
        {"silent reinstallation over a read-only settings file",
         {L"--silent"},
         kLocalSystem,
         AgentFiles() + ReadOnly(kSettings),
         Report({"Unable to create", "SablewickRemote.dat"})},
        {"first installation over folders and links a user prepared",
         {L"--silent", L"--company_id=" + company},
         kLocalSystem,
         PreparedByUser(),
         Completed()},
        {"first installation through a user's junction",
         {L"--company_id=" + company},
         kAdministrator,
         JunctionByUser(),
         Report({"Unable to use", "Sablewick", "link or a junction"})},
        {"update over a read-only settings file",
         {L"--update"},
         kLocalSystem,
         AgentFiles() + ReadOnly(kSettings),
         Completed()},
        {"installer that never ends",
         {},
         kLocalSystem,
         AgentFiles() + InstallerHangs(),
         Report({"did not finish within 30 minutes"})},
        {"agent that does not answer",
         {},
         kLocalSystem,
         AgentFiles() + AgentUnresponsive(),
         Completed()},
        {"unquoted service path",
         {L"--silent"},
         kLocalSystem,
         AgentFiles() + UnquotedServicePath(),
         Completed()},
        {"without rights, consent given",
         {L"--update", L"--company_id", L"A B"},
         kFilteredAdministrator,
         {},
         Relaunch()},
        {"without rights, consent declined", {}, kStandardUser, ConsentDeclined(), Nothing()},
        {"without rights, silent", {L"--silent"}, kStandardUser, {}, Nothing()},
    };
    return roads;
}

// ---------------------------------------------------------------- what a run left

// What a run left: its calls, what the user saw, and the machine afterwards.
struct Outcome {
    std::vector<CallRecord> calls;
    std::vector<std::string> boxes;  // every box's text, the shell's dialogs included
    std::size_t shellDialogs = 0;
    std::vector<std::string> leaks, problems;
    std::optional<std::string> config, settings;              // after the run
    std::optional<std::string> configBefore, settingsBefore;  // before it
    std::string configTemplate, settingsTemplate;
    std::vector<std::string> tempPackages, strayFiles;
    std::set<std::string> usersNewFiles;  // ".new" entries a user left before the run
    std::optional<std::string> victim, victimBefore;
    std::vector<winsim::Process> started;          // what the program started, in order
    std::string ownProgram, trayProgram, planted;  // host paths
    bool agentService = false;                     // the agent's service is installed
    bool trayProgramThere = false;
    std::optional<DWORD> consoleUserSession;  // a user's session at the console

    // The Windows Installer the program started, if any.
    const winsim::Process* installer() const {
        for (const auto& p : started)
            if (p.started_by == "ShellExecuteExW" && winsim::iequals(p.image, "msiexec.exe"))
                return &p;
        return nullptr;
    }
    std::optional<std::uint64_t> installerEnd() const {
        const winsim::Process* p = installer();
        return p ? p->end_ms : std::nullopt;
    }
    std::optional<std::uint64_t> installerStart() const {
        const winsim::Process* p = installer();
        return p ? std::optional<std::uint64_t>(p->start_ms) : std::nullopt;
    }
};

std::optional<std::string> Slurp(const fs::path& p) {
    std::error_code ec;
    if (!fs::is_regular_file(p, ec)) return std::nullopt;
    std::ifstream in(p, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string ResourceBytes(const winsim::Machine& m, const std::wstring& type, unsigned id) {
    auto r = m.modules.find_resource(winsim::ResourceKey::of_name(type),
                                     winsim::ResourceKey::of_id(id));
    return r ? std::string(reinterpret_cast<const char*>(r->data), r->size) : std::string();
}

// ---------------------------------------------------------------- steps

// The steps of the program a call can belong to. The failures of the first
// three must reach the user; those of the best-effort steps must show
// nothing and stop nothing.
enum class Step {
    other,
    folder,     // the known-folder lookups
    resource,   // the lookups of the package, the template and the settings record
    installer,  // the installer's launch, wait and close
    relaunch,   // the elevated copy's launch
    taskkill,
    log_folder,  // making the installer log's folder
    write_back,  // the configuration file after the installer
    service_restart,
    tray,  // the tray program's start, with the lookup of the agent's folder
    package_removal,
};

const char* NameOf(Step s) {
    static const char* const names[] = {
        "other",          "folder",     "resource",   "installer",       "re-launch",
        "taskkill",       "log folder", "write-back", "service restart", "tray program start",
        "package removal"};
    return names[static_cast<int>(s)];
}

bool MustReport(Step s) { return s == Step::folder || s == Step::resource || s == Step::installer; }

bool BestEffort(Step s) {
    return s == Step::taskkill || s == Step::log_folder || s == Step::write_back
           || s == Step::service_restart || s == Step::tray || s == Step::package_removal;
}

// An argument of a call record; null when the record has none.
const nlohmann::json& Arg(const nlohmann::json& args, const char* key) {
    static const nlohmann::json none;
    const auto it = args.find(key);
    return it == args.end() ? none : *it;
}

std::string Text(const nlohmann::json& value) {
    return value.is_string() ? value.get<std::string>() : std::string();
}

std::optional<std::uint64_t> HandleOf(const nlohmann::json& value) {
    if (value.is_number_unsigned()) return value.get<std::uint64_t>();
    if (value.is_number_integer()) return static_cast<std::uint64_t>(value.get<std::int64_t>());
    return std::nullopt;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && winsim::iequals(text.substr(text.size() - end.size()), end);
}

// The file a ShellExecuteExW call launches, by its name alone: taskkill is
// the same program whether named bare or by its full path.
std::string LaunchedFileName(const CallRecord& c) {
    return winsim::file_name_of(Text(Arg(Arg(c.args, "pExecInfo"), "lpFile")));
}

// The temporary package: sablewick_remote_<pid>_<tick>.msi.
bool IsTempPackage(const std::string& name) {
    return name.rfind("sablewick_remote_", 0) == 0 && EndsWith(name, ".msi");
}

// The configuration file, or one of the side files its replacement writes
// (SablewickRemote.cfg.new, SablewickRemote.cfg.<pid>-<n>.new).
bool IsConfigOrItsSideFile(const std::string& name) {
    const std::string config = "SablewickRemote.cfg";
    return winsim::iequals(name, config)
           || (name.rfind(config + ".", 0) == 0 && EndsWith(name, ".new"));
}

// The step each call of |run| belongs to. Handles carry the step of the call
// that opened them (the service handle that of the service and the rights it
// was opened with); a file operation on the configuration belongs to the
// write-back once the installer has ended on the virtual clock.
std::vector<Step> StepsOf(const Outcome& run) {
    const auto& calls = run.calls;
    const auto installerEnd = run.installerEnd();
    const auto installerStart = run.installerStart();
    auto fileStep = [&](const CallRecord& c, const std::string& path) {
        const std::string name = winsim::file_name_of(path);
        // Once the installer has been running, the package is touched only
        // to be removed.
        if (installerStart && c.clock_ms > *installerStart && IsTempPackage(name))
            return Step::package_removal;
        if (installerEnd && c.clock_ms >= *installerEnd && IsConfigOrItsSideFile(name))
            return Step::write_back;
        return Step::other;
    };

    std::vector<Step> steps(calls.size(), Step::other);
    std::map<std::uint64_t, Step> kernelHandles, resources, services;
    std::map<std::uint64_t, std::size_t> managers;  // an SC manager handle: the call that opened it
    auto lookup = [](const std::map<std::uint64_t, Step>& handles, const nlohmann::json& value) {
        const auto h = HandleOf(value);
        if (!h) return Step::other;
        const auto it = handles.find(*h);
        return it == handles.end() ? Step::other : it->second;
    };
    auto keep = [](std::map<std::uint64_t, Step>& handles, const nlohmann::json& value, Step s) {
        if (const auto h = HandleOf(value); h && *h != 0) handles[*h] = s;
    };

    for (std::size_t i = 0; i < calls.size(); ++i) {
        const CallRecord& c = calls[i];
        const nlohmann::json& a = c.args;
        Step& s = steps[i];
        const std::string& n = c.call;
        if (c.file) {
            const std::string path = a.value("path", std::string());
            const std::string name = winsim::file_name_of(path);
            if (n == "remove" && IsTempPackage(name))
                s = Step::package_removal;
            else if (n == "mkdir" && winsim::iequals(name, "SablewickRemote Msi"))
                s = Step::log_folder;
            else
                s = fileStep(c, path);
        } else if (n == "CreateDirectoryW") {
            if (winsim::iequals(winsim::file_name_of(a.value("lpPathName", std::string())), "SablewickRemote Msi"))
                s = Step::log_folder;
        } else if (n == "SHGetKnownFolderPath" || n == "SHGetFolderPathW") {
            s = Step::folder;
        } else if (n == "GetSystemDirectoryW") {
            s = Step::taskkill;  // the program asks for it only to find taskkill
        } else if (n == "FindResourceW") {
            const nlohmann::json& type = Arg(a, "lpType");
            if (type == "MSI" || type == "CFG" || type == "DAT") s = Step::resource;
            keep(resources, c.result, s);
        } else if (n == "SizeofResource" || n == "LoadResource") {
            s = lookup(resources, Arg(a, "hResInfo"));
        } else if (n == "ShellExecuteExW") {
            const std::string file = LaunchedFileName(c);
            if (winsim::iequals(file, "taskkill.exe"))
                s = Step::taskkill;
            else if (EndsWith(file, ".msi"))
                s = Step::installer;
            else if (winsim::iequals(Text(Arg(Arg(a, "pExecInfo"), "lpVerb")), "runas"))
                s = Step::relaunch;
            keep(kernelHandles, Arg(Arg(a, "pExecInfo"), "hProcess"), s);
        } else if (n == "WaitForSingleObject") {
            s = lookup(kernelHandles, Arg(a, "hHandle"));
        } else if (n == "CloseHandle") {
            s = lookup(kernelHandles, Arg(a, "hObject"));
            if (const auto h = HandleOf(Arg(a, "hObject"))) kernelHandles.erase(*h);
        } else if (n == "CreateFileW") {
            const std::string path = a.value("lpFileName", std::string());
            // The package is opened for deletion only to remove it.
            if (IsTempPackage(winsim::file_name_of(path)) && (a.value("dwDesiredAccess", 0u) & DELETE) != 0)
                s = Step::package_removal;
            else
                s = fileStep(c, path);
            keep(kernelHandles, c.result, s);
        } else if (a.contains("hFile")) {
            s = lookup(kernelHandles, Arg(a, "hFile"));
        } else if (a.contains("handle") && n != "CloseHandle") {
            s = lookup(kernelHandles, Arg(a, "handle"));
        } else if (n == "GetFileAttributesW" || n == "DeleteFileW") {
            s = fileStep(c, a.value("lpFileName", std::string()));
        } else if (n == "MoveFileExW") {
            s = fileStep(c, a.value("lpExistingFileName", std::string()));
            if (s == Step::other) s = fileStep(c, a.value("lpNewFileName", std::string()));
        } else if (n == "WTSGetActiveConsoleSessionId" || n == "WTSQueryUserToken"
                   || n == "DuplicateTokenEx" || n == "CreateEnvironmentBlock"
                   || n == "DestroyEnvironmentBlock" || n == "CreateProcessAsUserW") {
            s = Step::tray;
            keep(kernelHandles, Arg(a, "phToken"), s);
            keep(kernelHandles, Arg(a, "phNewToken"), s);
            keep(kernelHandles, Arg(Arg(a, "lpProcessInformation"), "hProcess"), s);
            keep(kernelHandles, Arg(Arg(a, "lpProcessInformation"), "hThread"), s);
        } else if (n == "OpenSCManagerW") {
            if (const auto h = HandleOf(c.result); h && *h != 0) managers[*h] = i;
        } else if (n == "OpenServiceW") {
            if (winsim::iequals(a.value("lpServiceName", std::string()), kAgentService)) {
                const auto access = a.value("dwDesiredAccess", 0u);
                s = (access & (SERVICE_START | SERVICE_STOP)) != 0 ? Step::service_restart
                                                                   : Step::tray;
            }
            keep(services, c.result, s);
            // The manager belongs to the step of the service it opened.
            if (const auto m = HandleOf(Arg(a, "hSCManager"))) {
                const auto it = managers.find(*m);
                if (it != managers.end() && steps[it->second] == Step::other) steps[it->second] = s;
            }
        } else if (n == "ControlService" || n == "QueryServiceStatusEx" || n == "StartServiceW"
                   || n == "QueryServiceConfigW") {
            s = lookup(services, Arg(a, "hService"));
        } else if (n == "CloseServiceHandle") {
            const auto h = HandleOf(Arg(a, "hSCObject"));
            if (h && managers.count(*h)) {
                s = steps[managers[*h]];
                managers.erase(*h);
            } else {
                s = lookup(services, Arg(a, "hSCObject"));
                if (h) services.erase(*h);
            }
        }
    }
    return steps;
}

// The service the SC calls of |calls| address, by handle: the name
// OpenServiceW opened it for.
std::vector<std::string> ServiceAddressed(const std::vector<CallRecord>& calls) {
    std::vector<std::string> out(calls.size());
    std::map<std::uint64_t, std::string> open;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const CallRecord& c = calls[i];
        if (c.call == "OpenServiceW") {
            if (const auto h = HandleOf(c.result); h && *h != 0)
                open[*h] = c.args.value("lpServiceName", std::string());
        } else if (const auto h = HandleOf(Arg(c.args, "hService")); h && open.count(*h)) {
            out[i] = open[*h];
        }
    }
    return out;
}

// ---------------------------------------------------------------- faults

// Calls that cannot fail on Windows; the model ignores faults for them.
const std::set<std::string> kCannotFail = {
    "GetLastError",
    "SetLastError",
    "GetCurrentProcessId",
    "GetTickCount",
    "Sleep",
    "GetCommandLineW",
    "EnterCriticalSection",
    "LeaveCriticalSection",
    "DeleteCriticalSection",
    "CoUninitialize",
    "CoTaskMemFree",
    "CompareStringOrdinal",  // fails only for arguments that are no strings
};

struct Injection {
    std::string call;
    unsigned nth = 0;                    // 1-based occurrence of the call
    DWORD error = 0;                     // last-error value (or LSTATUS)
    std::optional<std::int32_t> status;  // HRESULT for the functions that return one
    Step step = Step::other;             // which step of the program made the call
    bool file = false;                   // a file operation
    std::string path;                    // the file it names (file operations, DeleteFileW)

    std::string describe() const {
        std::ostringstream s;
        s << call << " #" << nth << " failing with ";
        if (status)
            s << "0x" << std::hex << static_cast<std::uint32_t>(*status) << std::dec;
        else
            s << error;
        if (!path.empty()) s << " (" << path << ")";
        if (step != Step::other) s << " [" << NameOf(step) << "]";
        return s.str();
    }
};

void Arm(winsim::Machine& m, const Injection& injection) {
    if (injection.status)
        m.faults.fail_status(injection.call, *injection.status, injection.nth);
    else
        m.faults.fail(injection.call, injection.error, injection.nth);
}

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
        injection.error = winsim::iequals(LaunchedFileName(record), "taskkill.exe")
                              ? ERROR_FILE_NOT_FOUND
                              : ERROR_ACCESS_DENIED;
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

// The file the CreateFileW before |at| opened |handle| for; empty if none.
std::string PathOfHandle(const std::vector<CallRecord>& calls, std::size_t at,
                         const nlohmann::json& handle) {
    const auto h = HandleOf(handle);
    for (std::size_t k = at; h && k-- > 0;)
        if (calls[k].call == "CreateFileW" && HandleOf(calls[k].result) == h)
            return calls[k].args.value("lpFileName", std::string());
    return {};
}

// One run per failure of every call the run without a fault made.
std::vector<Injection> InjectionsOf(const Outcome& baseline) {
    const auto steps = StepsOf(baseline);
    std::vector<Injection> out;
    std::map<std::string, unsigned> seen;
    for (std::size_t i = 0; i < baseline.calls.size(); ++i) {
        const CallRecord& record = baseline.calls[i];
        const unsigned nth = ++seen[record.call];
        if (kCannotFail.count(record.call)) continue;
        Injection injection;
        injection.call = record.call;
        injection.nth = nth;
        injection.step = steps[i];
        if (record.file) {
            injection.file = true;
            injection.path = record.args.value("path", std::string());
            for (DWORD error : FileFailures(record)) {
                injection.error = error;
                out.push_back(injection);
            }
        } else {
            if (record.call == "DeleteFileW")
                injection.path = record.args.value("lpFileName", std::string());
            // A deletion through a handle: the file the handle was opened for.
            if (record.call == "SetFileInformationByHandle"
                && Arg(Arg(record.args, "lpFileInformation"), "DeleteFile") == true)
                injection.path = PathOfHandle(baseline.calls, i, Arg(record.args, "hFile"));
            ChooseFailure(record, injection);
            out.push_back(injection);
        }
    }
    return out;
}

// ---------------------------------------------------------------- one run

Outcome RunRoad(const Road& road, const Injection* injection) {
    Outcome out;
    winsim::test::TempFolder temp;
    winsim::Machine m(road.profile(), temp.path() / "sandbox");
    {
        winsim::ModelFileAccess preparing;
        for (const auto& step : road.machine.setup) step(m);
        out.configBefore = Slurp(m.sandbox.host_path(kConfig));
        out.settingsBefore = Slurp(m.sandbox.host_path(kSettings));
        out.victimBefore = Slurp(m.sandbox.host_path(kVictim));
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(m.sandbox.host_path(kDataFolder), ec))
            if (e.path().extension() == ".new") out.usersNewFiles.insert(e.path().filename().string());
    }
    m.kernel.command_line = winsim::build_command_line(m.kernel.module_path, road.args);
    if (injection) Arm(m, *injection);

    // wWinMain returns 0 and lets nothing out, whatever happens; what the run
    // did is read from the machine.
    std::wstring tail = L"ignored";
    wWinMain(nullptr, nullptr, &tail[0], SW_SHOWNORMAL);

    // What the sweep reads afterwards is not the program's file work.
    winsim::ModelFileAccess sweep;
    out.calls = m.log.calls();
    for (const auto& box : m.ui.message_boxes) {
        out.boxes.push_back(box.text_utf8());
        out.shellDialogs += box.owner == "shell";
    }
    out.leaks = m.leaks();
    out.problems = m.problems();
    out.config = Slurp(m.sandbox.host_path(kConfig));
    out.settings = Slurp(m.sandbox.host_path(kSettings));
    out.configTemplate = ResourceBytes(m, L"CFG", 104);
    out.settingsTemplate = ResourceBytes(m, L"DAT", 107);
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(m.sandbox.host_path(kTempFolder), ec)) {
        const std::string name = e.path().filename().string();
        if (IsTempPackage(name)) out.tempPackages.push_back(name);
    }
    for (const auto& e : fs::recursive_directory_iterator(m.sandbox.host_path(kDataFolder), ec))
        if (e.path().extension() == ".new" && !out.usersNewFiles.count(e.path().filename().string()))
            out.strayFiles.push_back(e.path().filename().string());
    out.victim = Slurp(m.sandbox.host_path(kVictim));
    for (const auto& p : m.processes.started()) out.started.push_back(*p);
    out.ownProgram = winsim::to_utf8(m.kernel.module_path);
    out.trayProgram = m.sandbox.host_path(kTrayProgram).string();
    out.planted = m.sandbox.host_path(kPlanted).string();
    out.agentService = m.services.find(kAgentService) != nullptr;
    out.trayProgramThere = fs::is_regular_file(out.trayProgram, ec);
    if (const winsim::Session* console = m.sessions.console(); console && console->user)
        out.consoleUserSession = console->id;
    return out;
}

// ---------------------------------------------------------------- the road's end

// What a run's end is made of, so that a best-effort step's failure can be
// excused for its own part and nothing else.
enum class Part {
    shown,
    installer,
    installer_result,
    service_restart,
    tray_start,
    stopped,
    started,
    untouched
};

struct Miss {
    Part part;
    std::string what;
};

// The parts of the end a failed step takes with it: its own work, and for
// the log folder the installer's result (it cannot write the log it was
// asked for and gives up).
bool Excused(Step failed, Part part) {
    switch (failed) {
        case Step::service_restart:
            return part == Part::service_restart;
        case Step::tray:
            return part == Part::tray_start;
        case Step::log_folder:
            return part == Part::installer_result;
        default:
            return false;
    }
}

bool Named(const CallRecord& c, const char* name) { return c.call == name; }

// File operations that change something: anything but a status look and an
// open for reading.
std::vector<std::string> FileChanges(const Outcome& o) {
    std::vector<std::string> out;
    for (const auto& c : o.calls) {
        if (!c.file || c.call == "stat") continue;
        if (c.call == "open" && c.args.value("mode", std::string()) == "rb") continue;
        out.push_back(c.call + " " + c.args.value("path", std::string()));
    }
    return out;
}

std::vector<Miss> EndMisses(const Road& road, const Outcome& o) {
    std::vector<Miss> misses;
    const End& end = road.end;
    auto noBoxes = [&] {
        for (const auto& text : o.boxes) misses.push_back({Part::shown, "a message box: " + text});
    };
    auto noneStarted = [&] {
        for (const auto& p : o.started) misses.push_back({Part::started, "started " + p.image});
    };
    auto untouched = [&] {
        for (const auto& change : FileChanges(o))
            misses.push_back({Part::untouched, "file changed: " + change});
    };

    switch (end.kind) {
        case End::Kind::completed: {
            noBoxes();
            const winsim::Process* installer = o.installer();
            const auto installerEnd = o.installerEnd();
            if (!installer) {
                misses.push_back({Part::installer, "the installer never ran"});
            } else if (!installerEnd) {
                misses.push_back({Part::installer, "the installer never ended"});
            } else if (installer->exit_code != 0) {
                misses.push_back(
                    {Part::installer_result,
                     "the installer ended with exit code " + std::to_string(installer->exit_code)});
            }
            const std::uint64_t after = installerEnd.value_or(UINT64_MAX);

            // The service: asked to stop and then to start, after the installer
            // (a service that never stops refuses the start; asking is the part).
            const auto addressed = ServiceAddressed(o.calls);
            bool stopped = false, restarted = false, started = false;
            for (std::size_t i = 0; i < o.calls.size(); ++i) {
                const CallRecord& c = o.calls[i];
                if (!winsim::iequals(addressed[i], kAgentService)) continue;
                if (Named(c, "StartServiceW")) started = true;
                if (c.clock_ms < after) continue;
                if (Named(c, "ControlService")
                    && c.args.value("dwControl", 0u) == SERVICE_CONTROL_STOP)
                    stopped = true;
                if (Named(c, "StartServiceW") && stopped) restarted = true;
            }
            if (road.update() && started)
                misses.push_back({Part::service_restart, "an update restarted the service"});
            if (!road.update() && o.agentService && !restarted)
                misses.push_back({Part::service_restart,
                                  "the service was not stopped and started after the installer"});

            // The tray program: in the console user's session, after the
            // installer, where the account can have that user's token.
            bool trayStarted = false;
            for (const auto& p : o.started)
                if (p.started_by == "CreateProcessAsUserW" && p.path == o.trayProgram
                    && p.start_ms >= after && o.consoleUserSession
                    && p.session == *o.consoleUserSession)
                    trayStarted = true;
            const bool trayExpected = road.account == kLocalSystem && o.consoleUserSession
                                      && o.trayProgramThere;
            if (trayExpected && !trayStarted)
                misses.push_back({Part::tray_start,
                                  "the tray program was not started in the console session after "
                                  "the installer"});
            if (!trayExpected && trayStarted)
                misses.push_back(
                    {Part::tray_start, "the tray program was started although the account cannot"});
            break;
        }
        case End::Kind::report: {
            if (road.silent()) {
                noBoxes();
            } else if (o.boxes.size() != 1) {
                misses.push_back({Part::shown, std::to_string(o.boxes.size())
                                                   + " message boxes instead of one report"});
            } else {
                for (const auto& text : end.says)
                    if (o.boxes[0].find(text) == std::string::npos)
                        misses.push_back({Part::shown, "the report does not say \"" + text
                                                           + "\": " + o.boxes[0]});
            }
            // After the failure the installation does not go on.
            for (const auto& c : o.calls)
                if (Named(c, "StartServiceW"))
                    misses.push_back(
                        {Part::stopped, "the service was started in a run that ends in a report"});
            for (const auto& p : o.started)
                if (p.started_by == "CreateProcessAsUserW")
                    misses.push_back(
                        {Part::stopped, "started " + p.image + " in a run that ends in a report"});
            break;
        }
        case End::Kind::relaunch: {
            noBoxes();
            untouched();
            std::size_t copies = 0;
            for (const auto& p : o.started) {
                if (winsim::iequals(p.verb, "runas") && p.path == o.ownProgram)
                    ++copies;
                else
                    misses.push_back({Part::started, "started " + p.image});
            }
            if (copies != 1)
                misses.push_back(
                    {Part::started, std::to_string(copies) + " elevated copies started"});
            break;
        }
        case End::Kind::nothing:
            noBoxes();
            noneStarted();
            untouched();
            break;
    }
    return misses;
}

// ---------------------------------------------------------------- invariants

// The boxes of a run: the program's, counted as it asks for them (one that
// fails to show is still the report), and the shell's error dialogs.
std::size_t Boxes(const Outcome& o) {
    std::size_t boxes = 0;
    for (const auto& c : o.calls) boxes += Named(c, "MessageBoxW");
    return boxes + o.shellDialogs;
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

// What every run must keep to, with a fault or without; null |injection|
// for the run without.
std::vector<std::string> Violations(const Road& road, const Injection* injection,
                                    const Outcome& o) {
    std::vector<std::string> v;
    const auto& calls = o.calls;
    auto has = [&](auto pred) { return std::any_of(calls.begin(), calls.end(), pred); };
    auto indexOf = [&](const char* name, bool last) -> std::ptrdiff_t {
        std::ptrdiff_t found = -1;
        for (std::size_t i = 0; i < calls.size(); ++i)
            if (Named(calls[i], name)) {
                found = static_cast<std::ptrdiff_t>(i);
                if (!last) break;
            }
        return found;
    };
    const Step step = injection ? injection->step : Step::other;
    const bool byDesignQuiet = injection && injection->call == "CommandLineToArgvW";

    // The fault must have been taken, by the call or file operation it was
    // armed for.
    if (injection) {
        const auto hit = std::find_if(calls.begin(), calls.end(),
                                      [](const CallRecord& c) { return c.injected; });
        if (hit == calls.end())
            v.push_back("the fault was never taken");
        else if (hit->call != injection->call || hit->file != injection->file
                 || (injection->file && hit->args.value("path", std::string()) != injection->path))
            v.push_back("the fault was taken by " + hit->call + " "
                        + hit->args.value("path", std::string()));
    }

    // An exception that escaped every report ends the run through wWinMain's
    // last resort: the objects go before the apartment is left. Only a
    // command line that cannot be split is meant to end that way.
    const std::ptrdiff_t init = indexOf("CoInitializeEx", false);
    const bool joined = init >= 0 && calls[init].result.is_number() && calls[init].result.get<std::int64_t>() >= 0;
    const std::ptrdiff_t leave = indexOf("CoUninitialize", true);
    const std::ptrdiff_t revert = indexOf("RevertToSelf", true);
    if (!byDesignQuiet && joined && (revert < 0 || leave > revert))
        v.push_back("the run ended through wWinMain's last-resort handler");
    if (init < 0) v.push_back("COM was never initialised");

    const std::size_t boxes = Boxes(o);
    if (boxes > 1) v.push_back(std::to_string(boxes) + " message boxes");
    if (road.silent() && boxes != 0) v.push_back("a message box in a silent run");

    // Leaks and misuse.
    for (const auto& l : o.leaks) v.push_back("leak: " + l);
    for (const auto& p : o.problems) v.push_back("misuse: " + p);

    // What was done must be reported or finished.
    const bool installRan = has([](const CallRecord& c) {
        return Named(c, "SHGetKnownFolderPath") || Named(c, "SHGetFolderPathW");
    });
    if (road.rights()) {
        const bool adminCheckFailed =
            injection && injection->nth == 1
            && (injection->call == "AllocateAndInitializeSid" || injection->call == "CheckTokenMembership");
        const bool reachedTray = has(
            [](const CallRecord& c) { return Named(c, "WTSGetActiveConsoleSessionId"); });
        if (!installRan && !adminCheckFailed && !byDesignQuiet)
            v.push_back("the installation never started");
        if (installRan && !road.silent() && boxes == 0 && !reachedTray)
            v.push_back("the run stopped without a message box");
        if (!road.silent() && boxes == 0 && MustReport(step))
            v.push_back(std::string("a failed ") + NameOf(step) + " step was not reported");
    } else {
        if (installRan) v.push_back("installed without rights");
        const bool declined = has([](const CallRecord& c) {
            return Named(c, "ShellExecuteExW") && !c.injected && c.lastError == ERROR_CANCELLED
                   && c.result == 0;
        });
        const bool relaunched = std::any_of(
            o.started.begin(), o.started.end(),
            [](const winsim::Process& p) { return winsim::iequals(p.verb, "runas"); });
        if (!road.silent() && !byDesignQuiet && !relaunched && !declined && boxes == 0)
            v.push_back("neither re-launched nor reported");
        if (relaunched && boxes != 0) v.push_back("a message box after a re-launch");
        if (road.silent() && relaunched) v.push_back("re-launched in a silent run");
    }

    // The temporary package and the side files of the file replacement: gone
    // on every way out, except where their own removal failed. Windows
    // deletes no file that another program (a scanner, a hung installer)
    // holds open without delete sharing, and the program cannot do more than
    // ask; what is left is Windows' doing.
    auto ownRemovalFailed = [&](const std::string& name) {
        if (!injection) return false;
        if (injection->step == Step::package_removal && IsTempPackage(name)) return true;
        const bool removal = injection->call == "remove" || injection->call == "DeleteFileW"
                             || (injection->call == "SetFileInformationByHandle" && !injection->path.empty());
        return removal && winsim::file_name_of(injection->path) == name;
    };
    for (const auto& f : o.tempPackages)
        if (!ownRemovalFailed(f)) v.push_back("temporary package left: " + f);
    for (const auto& f : o.strayFiles)
        if (!ownRemovalFailed(f)) v.push_back("stray file left: " + f);
    // A fault that tells the program nothing stands at a name where a user's
    // link stands is believed; Windows tells no such thing of a name in a
    // folder that only administrators can change.
    const bool toldNothingThere = injection && injection->file
                                  && (injection->error == ERROR_FILE_NOT_FOUND
                                      || injection->error == ERROR_PATH_NOT_FOUND);
    if (o.victim != o.victimBefore && !toldNothingThere)
        v.push_back("a user's file outside the agent's folders changed: " + kVictim);
    for (const auto& p : o.started)
        if (p.path == o.planted) v.push_back("the program planted at " + kPlanted + " was started");

    // The settings file: as it was, the embedded record, or a whole saved one.
    if (o.settings != o.settingsBefore && o.settings != o.settingsTemplate) {
        std::string why;
        if (!o.settings)
            v.push_back("settings file gone");
        else if (!IsWholeSavedRecord(*o.settings, road.companyId(), why))
            v.push_back("settings file " + Shown(o.settings) + ": " + why);
    }

    // The configuration file: as it was, the template, or (in an update) the
    // earlier text; the last two with at most their tray-port line changed.
    if (o.config != o.configBefore) {
        const bool fromTemplate = o.config && WithoutTrayPortLine(*o.config) == WithoutTrayPortLine(o.configTemplate);
        const bool fromEarlier = o.config && road.update() && o.configBefore
                                 && WithoutTrayPortLine(*o.config)
                                        == WithoutTrayPortLine(*o.configBefore);
        if (!fromTemplate && !fromEarlier) v.push_back("configuration file " + Shown(o.config));
    }

    // The road's end: the run without a fault must reach it whole; a failed
    // best-effort step may take only its own part with it.
    if (!injection || BestEffort(step)) {
        for (const auto& miss : EndMisses(road, o)) {
            if (injection && Excused(step, miss.part)) continue;
            v.push_back((injection ? std::string("after a failed ") + NameOf(step) + " step, "
                                   : std::string())
                        + "not " + road.end.describe() + ": " + miss.what);
        }
    }

    // On a road that touches files the program's file operations reach the
    // model (file_interposer.cpp), so that they can be failed one by one.
    if (!injection && road.rights()) {
        // A report may come before anything is written.
        const bool writes = road.end.kind == End::Kind::completed;
        for (const char* kind : {"stat", "open", "write", "close", "rename"})
            if ((writes || kind == std::string("stat") || kind == std::string("open"))
                && !has([&](const CallRecord& c) { return c.file && c.call == kind; }))
                v.push_back(std::string("no \"") + kind + "\" file operation reached the model");
    }
    return v;
}

// ---------------------------------------------------------------- the sweep

struct Violation {
    std::string road, injection, what;
};

// What the roads run in this process came to, printed once at its end.
struct Totals {
    std::size_t roads = 0, runs = 0, fileRuns = 0, violations = 0;
};
Totals& SweepTotals() {
    static Totals totals;
    return totals;
}
class PrintTotals : public ::testing::Environment {
public:
    void TearDown() override {
        const Totals& t = SweepTotals();
        if (t.roads == 0) return;
        std::cout << "fault sweep: " << t.roads << " roads, " << t.runs << " runs (" << t.fileRuns
                  << " with a file operation failing), " << t.violations << " violations"
                  << std::endl;
    }
};
[[maybe_unused]] ::testing::Environment* const kPrintTotals = ::testing::AddGlobalTestEnvironment(
    new PrintTotals);

// One test per road, so that the roads can run side by side.
class FaultSweep : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FaultSweep, RoadSurvivesEveryFailingCall) {
    // The known-folder helper is made once per process and keeps what it
    // looked up in shell32; a first run outside the sweep makes it, so that
    // every road's record holds the same calls whatever runs first.
    static const bool warm = (RunRoad(Roads().front(), nullptr), true);
    (void)warm;

    const Road& road = Roads()[GetParam()];
    std::vector<Violation> violations;
    const Outcome baseline = RunRoad(road, nullptr);
    std::size_t runs = 1, files = 0;
    auto add = [&](const std::string& injection, const std::vector<std::string>& found) {
        for (const auto& what : found) violations.push_back({road.name, injection, what});
    };
    add("no fault", Violations(road, nullptr, baseline));

    for (const Injection& injection : InjectionsOf(baseline)) {
        const Outcome o = RunRoad(road, &injection);
        ++runs;
        files += injection.file;
        add(injection.describe(), Violations(road, &injection, o));
    }
    if (road.rights() && files == 0) add("every fault", {"no run had a file operation failing"});

    std::cout << "fault sweep: " << road.name << " (" << road.end.describe() << "): " << runs
              << " runs (" << files << " with a file operation failing), " << violations.size()
              << " violations" << std::endl;
    Totals& totals = SweepTotals();
    ++totals.roads;
    totals.runs += runs;
    totals.fileRuns += files;
    totals.violations += violations.size();

    for (const auto& v : violations)
        ADD_FAILURE() << v.road << " | " << v.injection << " | " << v.what;
}

// The road's name, in the letters a test's name may hold.
std::string TestNameOf(const ::testing::TestParamInfo<std::size_t>& info) {
    std::string name;
    for (const char c : Roads()[info.param].name) {
        if (std::isalnum(static_cast<unsigned char>(c)))
            name += c;
        else if (!name.empty() && name.back() != '_')
            name += '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Roads, FaultSweep, ::testing::Range<std::size_t>(0, Roads().size()),
                         TestNameOf);

}  // namespace
