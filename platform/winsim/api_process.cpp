// kernel32/advapi32: CreateProcessAsUserW with Windows' resolution of a
// command line without an application name, WaitForSingleObject on the
// virtual clock, GetExitCodeProcess.
#include "platform/winsim/api_support.h"
#include "platform/winsim/status_codes.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

using winsim::ApiCall;
using winsim::arg;
using winsim::arg_ptr;
using winsim::Machine;
using winsim::Process;
using winsim::Token;

namespace fs = std::filesystem;

namespace {

bool is_file(Machine& m, const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(m.sandbox.host_path(path), ec);
}

std::string with_default_extension(const std::string& name) {
    return winsim::file_name_of(name).find('.') == std::string::npos ? name + ".exe" : name;
}

// A name without a folder is looked for beside the program and in the
// system folder; a path is taken as it stands.
std::string locate(Machine& m, const std::string& name) {
    if (name.find_first_of("\\/") != std::string::npos) return is_file(m, name) ? m.sandbox.host_path(name).string() : "";
    const auto* sys = m.folders.find("System");
    const fs::path dirs[] = {fs::path(winsim::to_utf8(m.kernel.module_path)).parent_path(),
                             m.sandbox.host_path(sys ? sys->windows_path : std::string("C:\\Windows\\System32"))};
    for (const auto& dir : dirs) {
        std::error_code ec;
        if (fs::is_regular_file(dir / name, ec)) return (dir / name).string();
    }
    return {};
}

// The program a command line starts when no application name is given: a
// quoted first token is the program; otherwise each blank-separated
// beginning of the line is tried in turn, ".exe" appended to a name
// without extension, and the first that exists is started.
std::string resolve(Machine& m, const std::string& line, nlohmann::json& tried) {
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) return {};
    if (line[start] == '"') {
        auto close = line.find('"', start + 1);
        std::string name = with_default_extension(
            line.substr(start + 1, close == std::string::npos ? std::string::npos : close - start - 1));
        tried.push_back(name);
        return locate(m, name);
    }
    for (std::size_t pos = start;;) {
        std::size_t blank = line.find_first_of(" \t", pos);
        std::string name = with_default_extension(line.substr(start, blank == std::string::npos ? std::string::npos : blank - start));
        tried.push_back(name);
        std::string found = locate(m, name);
        if (!found.empty() || blank == std::string::npos) return found;
        pos = blank + 1;
    }
}

nlohmann::json describe(const STARTUPINFOW* si) {
    if (!si) return nullptr;
    return {{"cb", si->cb},         {"lpDesktop", arg(si->lpDesktop)}, {"lpTitle", arg(si->lpTitle)},
            {"dwFlags", si->dwFlags}, {"wShowWindow", si->wShowWindow}};
}

}  // namespace

extern "C" {

// The launcher's lookups of the program and the folder are the model's file
// work.
BOOL WINAPI CreateProcessAsUserW(HANDLE hToken, LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                                 LPSECURITY_ATTRIBUTES lpProcessAttributes,
                                 LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                                 DWORD dwCreationFlags, LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory,
                                 LPSTARTUPINFOW lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation) {
    winsim::ModelFileAccess model;
    ApiCall call("CreateProcessAsUserW", {{"hToken", arg_ptr(hToken)},
                                          {"lpApplicationName", arg(lpApplicationName)},
                                          {"lpCommandLine", arg(lpCommandLine)},
                                          {"lpProcessAttributes", arg_ptr(lpProcessAttributes)},
                                          {"lpThreadAttributes", arg_ptr(lpThreadAttributes)},
                                          {"bInheritHandles", bInheritHandles},
                                          {"dwCreationFlags", dwCreationFlags},
                                          {"lpEnvironment", arg_ptr(lpEnvironment)},
                                          {"lpCurrentDirectory", arg(lpCurrentDirectory)},
                                          {"lpStartupInfo", describe(lpStartupInfo)}});
    if (call.fault) return call.fail(FALSE);
    Machine& m = call.m;
    auto token = m.handles.object<Token>(hToken, "token");
    if (!token) return call.fail(FALSE, ERROR_INVALID_HANDLE);
    if (token->type != TokenPrimary) return call.fail(FALSE, winsim::kErrorBadTokenType);
    // Starting a process as another user takes the right to assign a primary
    // token, which the local system account holds.
    if (m.security.process_token != winsim::TokenKind::local_system && token->user != m.security.process_user)
        return call.fail(FALSE, ERROR_PRIVILEGE_NOT_HELD);
    if ((!lpApplicationName && !lpCommandLine) || !lpStartupInfo || !lpProcessInformation)
        return call.fail(FALSE, ERROR_INVALID_PARAMETER);

    const std::string line = winsim::to_utf8(lpCommandLine);
    nlohmann::json tried = nlohmann::json::array();
    std::string program;
    if (lpApplicationName) {
        const std::string app = winsim::to_utf8(lpApplicationName);
        tried.push_back(app);
        program = locate(m, app);
    } else {
        program = resolve(m, line, tried);
    }
    if (program.empty()) return call.fail(FALSE, ERROR_FILE_NOT_FOUND);

    std::string directory;
    if (lpCurrentDirectory) {
        directory = winsim::to_utf8(lpCurrentDirectory);
        std::error_code ec;
        if (!fs::is_directory(m.sandbox.host_path(directory), ec))
            return call.fail(FALSE, ERROR_DIRECTORY);
    }

    Process p;
    p.started_by = "CreateProcessAsUserW";
    p.path = program;
    p.command_line = line.empty() ? winsim::to_utf8(lpApplicationName) : line;
    p.token = token->kind;
    p.user = token->user;
    p.session = token->session_id;
    p.desktop = winsim::to_utf8(lpStartupInfo->lpDesktop);
    p.creation_flags = dwCreationFlags;
    p.has_environment = lpEnvironment != nullptr;
    p.environment = winsim::Sessions::parse_block(lpEnvironment, (dwCreationFlags & CREATE_UNICODE_ENVIRONMENT) != 0);
    p.current_directory = directory;
    p.details["tried"] = tried;
    auto started = m.processes.add(m, std::move(p));

    lpProcessInformation->hProcess = m.processes.open_process(m, started);
    lpProcessInformation->hThread = m.processes.open_thread(m, started);
    lpProcessInformation->dwProcessId = started->id;
    lpProcessInformation->dwThreadId = m.processes.new_id();
    call.args["lpProcessInformation"] = {{"hProcess", arg_ptr(lpProcessInformation->hProcess)},
                                         {"hThread", arg_ptr(lpProcessInformation->hThread)},
                                         {"dwProcessId", lpProcessInformation->dwProcessId},
                                         {"dwThreadId", lpProcessInformation->dwThreadId}};
    return call.done(TRUE);
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    ApiCall call("WaitForSingleObject", {{"hHandle", arg_ptr(hHandle)}, {"dwMilliseconds", dwMilliseconds}});
    if (call.fault) return call.fail(WAIT_FAILED);
    Machine& m = call.m;
    auto p = m.processes.by_handle(m, hHandle);
    if (!p) return call.fail(WAIT_FAILED, ERROR_INVALID_HANDLE);

    auto& clock = m.clock();
    const auto now = clock.now();
    if (p->ended_at(now)) return call.done(WAIT_OBJECT_0);
    if (p->end_ms && (dwMilliseconds == INFINITE || *p->end_ms - now <= dwMilliseconds)) {
        clock.set(*p->end_ms);
        return call.done(WAIT_OBJECT_0);
    }
    if (dwMilliseconds == INFINITE)
        throw std::logic_error("winsim: an endless wait for " + p->image + ", which never ends");
    clock.advance(dwMilliseconds);
    return call.done(WAIT_TIMEOUT);
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    ApiCall call("GetExitCodeProcess", {{"hProcess", arg_ptr(hProcess)}});
    if (call.fault) return call.fail(FALSE);
    Machine& m = call.m;
    auto p = m.handles.object<Process>(hProcess, "process");
    if (!p) return call.fail(FALSE, ERROR_INVALID_HANDLE);
    if (!lpExitCode) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    *lpExitCode = p->ended_at(m.clock().now()) ? p->exit_code : winsim::kStillActive;
    call.args["lpExitCode"] = *lpExitCode;
    return call.done(TRUE);
}

}  // extern "C"
