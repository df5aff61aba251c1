// shell32: ShellExecuteExW with the verbs "open" and "runas": the lookup of
// the file, the shell's error dialog, the consent prompt, the taskkill and
// Windows Installer stand-ins, the elevated copy.
#include "platform/winsim/api_support.h"

#include <filesystem>
#include <system_error>
#include <vector>

using winsim::ApiCall;
using winsim::arg;
using winsim::arg_ptr;
using winsim::Machine;
using winsim::Process;
using winsim::TokenKind;

namespace fs = std::filesystem;

namespace {

// hInstApp values of a failed launch.
constexpr std::uintptr_t kSeErrFileNotFound = 2;
constexpr std::uintptr_t kSeErrAccessDenied = 5;
constexpr std::uintptr_t kSeErrNoAssociation = 31;
constexpr std::uintptr_t kLaunched = 42;  // any value above 32

nlohmann::json describe(const SHELLEXECUTEINFOW* info) {
    if (!info) return nullptr;
    return {{"cbSize", info->cbSize},     {"fMask", info->fMask},
            {"hwnd", arg_ptr(info->hwnd)}, {"lpVerb", arg(info->lpVerb)},
            {"lpFile", arg(info->lpFile)}, {"lpParameters", arg(info->lpParameters)},
            {"lpDirectory", arg(info->lpDirectory)}, {"nShow", info->nShow}};
}

bool has_separator(const std::string& s) { return s.find_first_of("\\/") != std::string::npos; }

std::string extension_of(const std::string& path) {
    std::string name = winsim::file_name_of(path);
    auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string system_folder(Machine& m) {
    return m.sandbox.host_path(m.folders.system_path()).string();
}

// Where the shell looks for a bare name: the working folder (lpDirectory,
// else the process's current folder), the calling program's own folder
// (where the process launcher looks first), the Windows folder and the
// system folder. PATH and the App Paths key are not modelled.
std::vector<fs::path> search_folders(Machine& m, const std::string& directory) {
    const fs::path working = directory.empty() ? fs::path(m.kernel.current_directory)
                                               : m.sandbox.host_path(directory);
    const fs::path own = fs::path(winsim::to_utf8(m.kernel.module_path)).parent_path();
    const fs::path system = system_folder(m);
    return {working, own, system.parent_path(), system};
}

// The file a request names, as a host path; empty when there is none. A
// name with a folder is taken as it stands.
std::string find_file(Machine& m, const std::string& file, const std::string& directory) {
    std::error_code ec;
    if (has_separator(file)) {
        auto host = m.sandbox.host_path(file);
        return fs::is_regular_file(host, ec) ? host.string() : std::string();
    }
    for (const fs::path& dir : search_folders(m, directory)) {
        if (dir.empty()) continue;
        if (fs::is_regular_file(dir / file, ec)) return (dir / file).string();
    }
    return {};
}

bool is_own_program(Machine& m, const std::string& host_path) {
    const std::string own = winsim::to_utf8(m.kernel.module_path);
    if (host_path == own) return true;
    std::error_code ec;
    return fs::equivalent(host_path, own, ec);
}

bool is_system_taskkill(Machine& m, const std::string& host_path) {
    std::error_code ec;
    return fs::equivalent(host_path, winsim::Programs::taskkill_host_path(m), ec);
}

// What the shell's error dialog says, as Windows words it for the failures
// met here; any other error in the system's own words.
std::wstring dialog_text(Machine& m, const std::wstring& file, DWORD error) {
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return L"Windows cannot find '" + file
               + L"'. Make sure you typed the name correctly, and then try again.";
    if (error == ERROR_ACCESS_DENIED)
        return L"Windows cannot access the specified device, path, or file. You may not have the "
               L"appropriate permissions to access the item.";
    if (error == ERROR_NO_ASSOCIATION)
        return L"This file does not have a program associated with it for performing this action. "
               L"Please install a program or, if one is already installed, create an association "
               L"in the Default Programs control panel.";
    auto it = m.messages.system.find(error);
    if (it == m.messages.system.end()) return L"Error " + std::to_wstring(error) + L".";
    std::wstring text = it->second;
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
    return text;
}

// A failed launch shows the shell's own error dialog, which the call waits
// on until it is closed, unless the caller passed SEE_MASK_FLAG_NO_UI. A
// declined consent prompt is the user's answer, not an error, and shows
// nothing more.
void show_error_dialog(ApiCall& call, const SHELLEXECUTEINFOW* info, DWORD error) {
    if (!info || (info->fMask & SEE_MASK_FLAG_NO_UI) || error == ERROR_CANCELLED) return;
    winsim::MessageBoxRecord box;
    box.owner = "shell";
    box.caption = info->lpFile ? info->lpFile : L"";
    box.text = dialog_text(call.m, box.caption, error);
    box.type = MB_OK | MB_ICONERROR;
    call.m.ui.show(box);
    call.args["dialog"] = {{"caption", box.caption_utf8()}, {"text", box.text_utf8()}};
}

}  // namespace

extern "C" {

BOOL WINAPI ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo) {
    // The shell's lookups and the programs it runs are the model's file work.
    winsim::ModelFileAccess model;
    ApiCall call("ShellExecuteExW", {{"pExecInfo", describe(pExecInfo)}});
    auto failed = [&](std::uintptr_t inst, DWORD error) {
        if (pExecInfo) pExecInfo->hInstApp = reinterpret_cast<HINSTANCE>(inst);
        call.args["pExecInfo"]["hInstApp"] = inst;
        show_error_dialog(call, pExecInfo, error);
        return call.fail(FALSE, error);
    };
    if (call.fault) {
        if (pExecInfo) pExecInfo->hInstApp = reinterpret_cast<HINSTANCE>(kSeErrFileNotFound);
        show_error_dialog(call, pExecInfo, call.fault->error);
        return call.fail(FALSE);
    }
    if (!pExecInfo || pExecInfo->cbSize != sizeof(SHELLEXECUTEINFOW)) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    Machine& m = call.m;
    pExecInfo->hProcess = nullptr;

    const std::string verb = pExecInfo->lpVerb ? winsim::to_utf8(pExecInfo->lpVerb) : std::string();
    const bool runas = winsim::iequals(verb, "runas");
    if (!runas && !verb.empty() && !winsim::iequals(verb, "open"))
        return failed(kSeErrNoAssociation, ERROR_NO_ASSOCIATION);

    const std::string file = winsim::to_utf8(pExecInfo->lpFile);
    const std::string parameters = winsim::to_utf8(pExecInfo->lpParameters);
    const std::string directory = winsim::to_utf8(pExecInfo->lpDirectory);
    if (file.empty()) return failed(kSeErrFileNotFound, ERROR_FILE_NOT_FOUND);

    // What the request starts.
    enum class What { taskkill, installer, own_program, program } what;
    std::string host = m.sandbox.host_path(file).string();
    if (is_own_program(m, host)) {
        // The running program's file exists, wherever the sandbox puts it.
        what = What::own_program;
    } else {
        host = find_file(m, file, directory);
        if (host.empty()) return failed(kSeErrFileNotFound, ERROR_FILE_NOT_FOUND);
        const std::string ext = extension_of(host);
        if (winsim::iequals(ext, ".msi")) {
            if (!m.programs.installer.associated)
                return failed(kSeErrNoAssociation, ERROR_NO_ASSOCIATION);
            what = What::installer;
        } else if (is_system_taskkill(m, host)) {
            what = What::taskkill;  // the system's own, not any program of that name
        } else if (winsim::iequals(ext, ".exe")) {
            what = What::program;
        } else {
            return failed(kSeErrNoAssociation, ERROR_NO_ASSOCIATION);
        }
    }

    Process p;
    p.started_by = "ShellExecuteExW";
    p.verb = verb;
    p.file = file;
    p.parameters = parameters;
    p.directory = directory;
    p.show = pExecInfo->nShow;
    p.token = m.security.process_token;
    p.user = m.security.process_user;
    p.session = m.security.process_session;

    if (runas && p.token != TokenKind::elevated_administrator && p.token != TokenKind::local_system) {
        ++m.security.consent_prompts;
        if (!m.security.consent_accepted) return failed(kSeErrAccessDenied, ERROR_CANCELLED);
        p.token = TokenKind::elevated_administrator;
    }

    bool gives_handle = true;
    std::shared_ptr<Process> started;
    switch (what) {
    case What::taskkill:
        p.path = host;
        p.command_line = "\"" + host + "\" " + parameters;
        gives_handle = m.programs.taskkill.returns_process_handle;
        started = m.processes.add(m, std::move(p));
        m.programs.run_taskkill(m, *started);
        break;
    case What::installer:
        // The shell opens a package with the Windows Installer's registered
        // command: msiexec /i "package" and the parameters after it.
        p.path = (fs::path(system_folder(m)) / "msiexec.exe").string();
        p.image = "msiexec.exe";
        p.command_line = "\"" + p.path + "\" /i \"" + host + "\" " + parameters;
        gives_handle = m.programs.installer.returns_process_handle;
        started = m.processes.add(m, std::move(p));
        m.programs.run_installer(m, *started, host);
        break;
    case What::own_program:
    case What::program:
        p.path = host;
        p.command_line = "\"" + file + "\" " + parameters;
        started = m.processes.add(m, std::move(p));
        if (what == What::own_program) {
            started->details["elevated_copy"] = runas;
            const auto& script = m.programs.elevated_copy;
            started->end(started->start_ms + script.duration_ms, script.exit_code, "exit");
            if (runas && m.processes.spawn_real_elevated_copy && m.host.active) {
                std::string error;
                if (!m.processes.spawn_elevated_copy(m, *started, error)) {
                    m.report_problem("the elevated copy could not be started: " + error);
                    started->end(started->start_ms, 1, "exit");
                }
            }
        }
        break;
    }

    if ((pExecInfo->fMask & SEE_MASK_NOCLOSEPROCESS) && gives_handle)
        pExecInfo->hProcess = m.processes.open_process(m, started);
    pExecInfo->hInstApp = reinterpret_cast<HINSTANCE>(kLaunched);
    call.args["pExecInfo"]["hProcess"] = arg_ptr(pExecInfo->hProcess);
    call.args["pExecInfo"]["hInstApp"] = kLaunched;
    return call.done(TRUE);
}

}  // extern "C"
