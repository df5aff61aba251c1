#include "agent_control.h"

#include "platform/win32.h"

#include "kyv/win/unique_handle.hpp"

#include <filesystem>
#include <string>

namespace sablewick {

namespace {

constexpr DWORD kTaskkillWaitMs = 15000;
constexpr int kStopPolls = 30;
constexpr DWORD kStopPollIntervalMs = 1000;

// The system folder's taskkill.exe, or an empty path when the system folder
// cannot be had. Never the bare name: the shell looks for one in the current
// folder and beside this program before the system folder, and a user
// without rights may have put a program of that name there for this elevated
// run to start.
std::filesystem::path SystemTaskkill() {
    std::wstring folder(MAX_PATH, L'\0');
    UINT length = ::GetSystemDirectoryW(&folder[0], static_cast<UINT>(folder.size()));
    if (length >= folder.size()) {
        // Too small: the length is the size needed, its NUL included.
        folder.assign(length, L'\0');
        length = ::GetSystemDirectoryW(&folder[0], static_cast<UINT>(folder.size()));
    }
    if (length == 0 || length >= folder.size()) return {};
    folder.resize(length);
    return std::filesystem::path(folder) / L"taskkill.exe";
}

// Runs "taskkill.exe /F /IM <image>" hidden and gives it a bounded time:
// a taskkill that hangs must not hold up the installation.
void KillImage(const std::wstring& image) {
    const std::filesystem::path program = SystemTaskkill();
    if (program.empty()) return;
    const std::wstring file = program.wstring();
    const std::wstring parameters = L"/F /IM " + image;

    SHELLEXECUTEINFOW request = {};
    request.cbSize = sizeof(request);
    // No shell error box: a taskkill that cannot start is passed over in
    // silence, also in a silent run where nobody could close the box.
    request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    request.lpVerb = L"open";
    request.lpFile = file.c_str();
    request.lpParameters = parameters.c_str();
    request.nShow = SW_HIDE;

    if (!::ShellExecuteExW(&request)) return;
    kyv::win::unique_handle process(request.hProcess);
    if (!process) return;
    ::WaitForSingleObject(process.get(), kTaskkillWaitMs);
}

}  // namespace

void StopAgentProcesses() {
    KillImage(L"SablewickRemoteDesktop.exe");
    KillImage(kTrayProgramName);
}

void RestartAgentService() {
    kyv::win::unique_schandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return;
    kyv::win::unique_schandle service(::OpenServiceW(
        manager.get(), kAgentServiceName, SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP));
    if (!service) return;

    SERVICE_STATUS stopStatus = {};
    if (::ControlService(service.get(), SERVICE_CONTROL_STOP, &stopStatus)) {
        for (int poll = 0; poll < kStopPolls; ++poll) {
            SERVICE_STATUS_PROCESS status = {};
            DWORD needed = 0;
            if (!::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                                        reinterpret_cast<LPBYTE>(&status), sizeof(status),
                                        &needed)
                || status.dwCurrentState == SERVICE_STOPPED)
                break;
            ::Sleep(kStopPollIntervalMs);
        }
    }

    // Started in every case: a refused stop (already stopped) or a slow stop
    // still leaves a service that should run after the installation.
    ::StartServiceW(service.get(), 0, nullptr);
}

}  // namespace sablewick
