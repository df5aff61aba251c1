// Reads or changes the program path a service is registered with, through
// the service control manager (Wine's sc knows neither "qc" nor "config"):
//   service_path.exe <service>          prints the registered path text
//   service_path.exe <service> <text>   registers <text> as it stands
#include <windows.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2 && argc != 3) return 2;
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return 1;
    SC_HANDLE service =
        ::OpenServiceW(manager, argv[1], SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG);
    if (!service) return 1;
    int result = 1;
    if (argc == 3) {
        if (::ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                   SERVICE_NO_CHANGE, argv[2], nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr))
            result = 0;
    } else {
        DWORD needed = 0;
        ::QueryServiceConfigW(service, nullptr, 0, &needed);
        std::vector<BYTE> buffer(needed);
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        if (needed != 0 && ::QueryServiceConfigW(service, config, needed, &needed)) {
            const int size = ::WideCharToMultiByte(CP_UTF8, 0, config->lpBinaryPathName, -1,
                                                   nullptr, 0, nullptr, nullptr);
            std::vector<char> text(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
            ::WideCharToMultiByte(CP_UTF8, 0, config->lpBinaryPathName, -1, text.data(), size,
                                  nullptr, nullptr);
            std::printf("%s\n", text.data());
            result = 0;
        }
    }
    ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    return result;
}
