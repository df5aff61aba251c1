#include "uac.h"

#include "kyv/win/unique_handle.hpp"
#include "sablewick/util/Win/KyvExcept.hpp"

#include <exception>
#include <string>

namespace sablewick {

namespace {

// The longest path Windows hands out; a buffer this size that is still cut
// means the call is not telling the truth about its length.
constexpr DWORD kLongestPath = 32768;

// The full path of this program's executable. GetModuleFileNameW reports a
// cut path as success (it fills the whole buffer), so the buffer grows until
// the path and its NUL fit.
std::wstring OwnExecutablePath() {
    std::wstring path;
    for (DWORD size = MAX_PATH;; size *= 2) {
        path.assign(size, L'\0');
        const DWORD length = ::GetModuleFileNameW(nullptr, &path[0], size);
        CheckOSError(length != 0);
        if (length < size) {
            path.resize(length);
            return path;
        }
        if (size >= kLongestPath) {
            ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
            CheckOSError(FALSE);
        }
    }
}

}  // namespace

UAC::~UAC() {
    // Nothing here impersonates; this only makes sure no impersonation
    // outlives the object, and a failure is of no consequence.
    ::RevertToSelf();
}

BOOL UAC::IsAdmin() {
    BOOL member = FALSE;
    kyv::win::unique_sid administrators;
    try {
        SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
        CheckOSError(::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                                administrators.put()));
        CheckOSError(::CheckTokenMembership(nullptr, administrators.get(), &member));
    } catch (const std::exception&) {
        // A check that cannot be made counts as "no rights".
        member = FALSE;
    }
    return member;
}

void UAC::RunElevated(const std::wstring& parameters) {
    try {
        if (IsAdmin()) return;

        const std::wstring file = OwnExecutablePath();

        SHELLEXECUTEINFOW request{};
        request.cbSize = sizeof(request);
        // The consent prompt still appears; only the shell's error box is
        // left out, since a failed re-launch is reported by the program.
        request.fMask = SEE_MASK_FLAG_NO_UI;
        request.lpVerb = L"runas";
        request.lpFile = file.c_str();
        request.lpParameters = parameters.c_str();
        request.nShow = SW_SHOWNORMAL;

        if (!::ShellExecuteExW(&request)) {
            // A declined consent prompt is the user's answer, not a failure.
            if (::GetLastError() != ERROR_CANCELLED) CheckOSError(FALSE);
        }
        // Without SEE_MASK_NOCLOSEPROCESS the shell hands back no process;
        // should one come, it is closed here, since nothing waits for the
        // elevated copy.
        kyv::win::unique_handle process(request.hProcess);
    } catch (const std::exception& e) {
        errorSignal(std::string(e.what()));
    }
}

}  // namespace sablewick
