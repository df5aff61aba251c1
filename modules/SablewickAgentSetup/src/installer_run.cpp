#include "installer_run.h"

#include "kyv/win/unique_handle.hpp"
#include "sablewick/util/Win/KyvExcept.hpp"

#include <boost/assert/source_location.hpp>
#include <boost/format.hpp>
#include <boost/throw_exception.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <cwchar>
#include <stdexcept>
#include <system_error>

namespace sablewick {

namespace {

constexpr DWORD kInstallerWaitMs = 30 * 60 * 1000;

}  // namespace

std::wstring TempMsiFileName(DWORD processId, DWORD tickCount) {
    // The longest name the pattern yields is 42 characters; the buffer bounds
    // it all the same.
    wchar_t name[64];
    std::swprintf(name, sizeof(name) / sizeof(name[0]), L"sablewick_remote_%lu_%lu.msi",
                  static_cast<unsigned long>(processId), static_cast<unsigned long>(tickCount));
    return name;
}

std::filesystem::path TempMsiPath() {
    std::filesystem::path folder = std::filesystem::temp_directory_path();
    const DWORD tick = ::GetTickCount();
    const DWORD pid = ::GetCurrentProcessId();
    return folder / TempMsiFileName(pid, tick);
}

std::wstring BuildMsiParameters(bool silent, const std::filesystem::path& logPath, bool notray,
                                const snet::types::OneTimeSettings& oneTime) {
    // Only the log path can hold blanks, so only it is quoted.
    boost::wformat pattern(L" /%s /norestart /l*v \"%s\" TRAY_MODE=%s ONETIME_MODE=%s ONETIME_ID=%s");
    pattern % (silent ? L"qn" : L"qb") % logPath.wstring() % (notray ? L"notray" : L"install")
        % (oneTime.onetime ? L"onetime" : L"manytimes") % boost::uuids::to_wstring(oneTime.id);
    return pattern.str();
}

void RunInstaller(const std::filesystem::path& package, const std::wstring& parameters,
                  bool silent) {
    const std::wstring file = package.wstring();

    SHELLEXECUTEINFOW request = {};
    request.cbSize = sizeof(request);
    // The program's own box reports a failed launch (none when silent); the
    // shell's would come on top of it, and hold a silent run until closed.
    request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    request.lpVerb = L"open";
    request.lpFile = file.c_str();
    request.lpParameters = parameters.c_str();
    request.nShow = silent ? SW_HIDE : SW_SHOWNORMAL;

    CheckOSError(::ShellExecuteExW(&request));
    kyv::win::unique_handle installer(request.hProcess);

    // Without a process handle the wait fails at once and ends like a
    // time-out: there is no way to know when the installer is done.
    if (::WaitForSingleObject(installer.get(), kInstallerWaitMs) == WAIT_OBJECT_0) {
        CheckOSError(::CloseHandle(installer.release()));
        return;
    }

    installer.reset();
    boost::throw_exception(
        std::runtime_error("msiexec did not finish within 30 minutes; see the MSI log named in "
                           "/l*v for the action it was blocked on"),
        BOOST_CURRENT_LOCATION);
}

RemoveTempMsiOnExit::~RemoveTempMsiOnExit() {
    std::error_code ignored;
    std::filesystem::remove(package_, ignored);
}

}  // namespace sablewick
