// The agent's service for the Windows tests, installed as SablewickRemote.exe:
// a real service that registers with the service control manager, reports
// running and answers a stop. Each start appends "start <process id>" to its
// record, so a test can tell a restart from a service left alone.
//
// Run by the package's custom action as "SablewickRemote.exe --installer
// <TRAY_MODE> <ONETIME_MODE> <ONETIME_ID>", it plays the agent installer's
// part in the configuration file instead: it records the three properties
// and sets the file's "tray-port" line to kInstalledTrayPortLine (replacing
// the first line that holds "tray-port", or appending it), as the real
// package leaves the port it chose. While the marker file kNoTrayPortMarker
// lies beside the records, it takes that line out instead, line end and all:
// an installer that leaves no port, after which an update must keep the
// user's line.
#include "record.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

const wchar_t kServiceName[] = L"SablewickRemote";
SERVICE_STATUS_HANDLE g_status_handle = nullptr;
HANDLE g_stop_event = nullptr;

void Report(DWORD state) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 3000;
    ::SetServiceStatus(g_status_handle, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        Report(SERVICE_STOP_PENDING);
        ::SetEvent(g_stop_event);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    g_status_handle = ::RegisterServiceCtrlHandlerExW(kServiceName, Control, nullptr);
    if (g_status_handle == nullptr) return;
    g_stop_event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_stop_event == nullptr) {
        Report(SERVICE_STOPPED);
        return;
    }
    agent_test::AppendRecord(L"start " + std::to_wstring(::GetCurrentProcessId()));
    Report(SERVICE_RUNNING);
    ::WaitForSingleObject(g_stop_event, INFINITE);
    Report(SERVICE_STOPPED);
}

const char kInstalledTrayPortLine[] = "tray-port = 27015";
const wchar_t kNoTrayPortMarker[] = L"installer-leaves-no-tray-port";

int InstallerStep(int argc, wchar_t** argv) {
    std::wstring line = L"installer";
    for (int i = 2; i < argc; ++i) line += std::wstring(L" ") + argv[i];
    if (!agent_test::AppendRecord(line)) return 1;

    const std::wstring programData = agent_test::ProgramData();
    if (programData.empty()) return 1;
    const std::filesystem::path config =
        programData + L"\\Sablewick\\Sablewick Remote\\SablewickRemote.cfg";
    // Without the agent's data folder (the package installed by hand) there
    // is no configuration to touch.
    std::error_code ignored;
    if (!std::filesystem::is_directory(config.parent_path(), ignored)) return 0;
    std::string text;
    {
        std::ifstream in(config, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const auto begin = text.find("tray-port");
    const bool leaveNone = std::filesystem::exists(
        std::filesystem::path(agent_test::RecordFolder(programData)) / kNoTrayPortMarker, ignored);
    if (leaveNone) {
        if (begin == std::string::npos) return 0;
        const auto end = text.find('\n', begin);
        text.erase(begin, end == std::string::npos ? std::string::npos : end + 1 - begin);
    } else if (begin == std::string::npos) {
        text += kInstalledTrayPortLine;
        text += "\r\n";
    } else {
        auto end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        if (end > begin && text[end - 1] == '\r') --end;
        text.replace(begin, end - begin, kInstalledTrayPortLine);
    }
    std::ofstream out(config, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return out.good() ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 2 && std::wstring(argv[1]) == L"--installer") return InstallerStep(argc, argv);

    wchar_t name[sizeof(kServiceName) / sizeof(wchar_t)];
    ::lstrcpyW(name, kServiceName);
    SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
