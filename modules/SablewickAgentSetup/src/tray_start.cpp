#include "tray_start.h"

#include "agent_control.h"
#include "bootstrapper.h"

#include "kyv/win/unique_handle.hpp"

#include <vector>

namespace sablewick {

namespace {

bool EndsWithExeIgnoringCase(const std::wstring& text, std::wstring::size_type length) {
    static const wchar_t kSuffix[] = L".exe";
    constexpr std::wstring::size_type kSuffixLength = 4;
    if (length < kSuffixLength) return false;
    for (std::wstring::size_type i = 0; i < kSuffixLength; ++i) {
        wchar_t c = text[length - kSuffixLength + i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != kSuffix[i]) return false;
    }
    return true;
}

}  // namespace

std::wstring ServiceExecutableFromPathText(const std::wstring& pathText) {
    if (!pathText.empty() && pathText[0] == L'"') {
        const auto closing = pathText.find(L'"', 1);
        if (closing == std::wstring::npos) return pathText.substr(1);
        return pathText.substr(1, closing - 1);
    }

    // Cutting at the first blank would turn "C:\Program Files\Agent\svc.exe"
    // into "C:\Program" and send the tray program's search to C:\.
    for (auto end = pathText.find(L' ');; end = pathText.find(L' ', end + 1)) {
        const auto length = end == std::wstring::npos ? pathText.size() : end;
        if (EndsWithExeIgnoringCase(pathText, length)) return pathText.substr(0, length);
        if (end == std::wstring::npos) break;
    }
    return pathText.substr(0, pathText.find(L' '));
}

std::filesystem::path GetServiceInstallDir() {
    std::filesystem::path folder;

    kyv::win::unique_schandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return folder;
    kyv::win::unique_schandle service(
        ::OpenServiceW(manager.get(), kAgentServiceName, SERVICE_QUERY_CONFIG));
    if (!service) return folder;

    DWORD needed = 0;
    ::QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    if (needed == 0) return folder;

    // operator new aligns the bytes for the record's pointers.
    std::vector<BYTE> buffer(needed, 0);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!::QueryServiceConfigW(service.get(), config, needed, &needed)
        || config->lpBinaryPathName == nullptr)
        return folder;

    const std::wstring executable = ServiceExecutableFromPathText(config->lpBinaryPathName);
    folder = std::filesystem::path(executable).parent_path();
    // A path that is not absolute (a bare name, "Agent\svc.exe", "C:svc.exe")
    // would be looked up from this program's current folder, which is not
    // where the service runs from and may be one anybody can write to.
    if (!folder.is_absolute()) folder.clear();
    return folder;
}

void Bootstrapper::StartTrayAgent() {
    const DWORD session = ::WTSGetActiveConsoleSessionId();
    if (session == 0xFFFFFFFFu) return;

    kyv::win::unique_handle userToken;
    if (!::WTSQueryUserToken(session, userToken.put())) return;

    kyv::win::unique_handle primaryToken;
    if (!::DuplicateTokenEx(userToken.get(), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation,
                            TokenPrimary, primaryToken.put()))
        return;

    kyv::win::unique_environment_block environment;
    if (!::CreateEnvironmentBlock(environment.put(), primaryToken.get(), TRUE)) return;

    const std::filesystem::path folder = GetServiceInstallDir();
    if (folder.empty()) return;
    const std::filesystem::path program = folder / kTrayProgramName;
    // The throwing form on purpose: a path that cannot even be tested (access
    // refused, device not ready) is worth reporting, a missing file is not.
    if (!std::filesystem::exists(program)) return;

    // Quoted, so that with no application name the platform cannot take a
    // blank-separated beginning of the path (C:\Program.exe) for the program.
    const std::wstring quoted = L"\"" + program.wstring() + L"\"";
    std::vector<wchar_t> commandLine(quoted.begin(), quoted.end());
    commandLine.push_back(L'\0');
    const std::wstring workingFolder = folder.wstring();

    wchar_t desktop[] = L"WinSta0\\Default";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION process = {};

    if (::CreateProcessAsUserW(primaryToken.get(), nullptr, commandLine.data(), nullptr, nullptr,
                               FALSE, CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS,
                               environment.get(), workingFolder.c_str(), &startup, &process)) {
        kyv::win::unique_handle thread(process.hThread);
        kyv::win::unique_handle started(process.hProcess);
        thread.reset();
    }
}

}  // namespace sablewick
