// kernel32: process basics, handles, the clock and critical sections.
#include "platform/winsim/api_support.h"
#include "platform/winsim/files.h"

#include <algorithm>

using winsim::ApiCall;
using winsim::arg;
using winsim::arg_ptr;

extern "C" {

LPWSTR WINAPI GetCommandLineW(void) {
    ApiCall call("GetCommandLineW");
    auto& k = call.m.kernel;
    // The same buffer for the whole run, as Windows keeps it in the process
    // block; rebuilt only when a test changes the text.
    std::wstring held(k.command_line_buffer.begin(),
                      k.command_line_buffer.empty() ? k.command_line_buffer.begin()
                                                    : k.command_line_buffer.end() - 1);
    if (k.command_line_buffer.empty() || held != k.command_line) {
        k.command_line_buffer.assign(k.command_line.begin(), k.command_line.end());
        k.command_line_buffer.push_back(L'\0');
    }
    return call.done(k.command_line_buffer.data(), winsim::to_utf8(k.command_line));
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    ApiCall call("GetModuleFileNameW", {{"hModule", arg_ptr(hModule)}, {"nSize", nSize}});
    if (call.fault) return call.fail(DWORD{0});
    auto& m = call.m;
    std::wstring path;
    if (!hModule || hModule == m.modules.program.handle) {
        path = m.kernel.module_path;
    } else if (auto* mod = m.modules.by_handle(hModule); mod && !mod->as_datafile) {
        const auto* sys = m.folders.find("System");
        path = m.host_wpath((sys ? sys->windows_path : std::string("C:\\Windows\\System32")) + "\\" + mod->name);
    } else {
        return call.fail(DWORD{0}, ERROR_MOD_NOT_FOUND);
    }
    if (nSize == 0) return call.fail(DWORD{0}, ERROR_INSUFFICIENT_BUFFER);
    if (path.size() + 1 > nSize) {
        // Truncated to fill the buffer, terminated, and nSize returned.
        std::copy_n(path.begin(), nSize - 1, lpFilename);
        lpFilename[nSize - 1] = L'\0';
        call.args["lpFilename"] = winsim::to_utf8(std::wstring(lpFilename));
        return call.fail(nSize, ERROR_INSUFFICIENT_BUFFER);
    }
    std::copy(path.begin(), path.end(), lpFilename);
    lpFilename[path.size()] = L'\0';
    call.args["lpFilename"] = winsim::to_utf8(path);
    return call.done(static_cast<DWORD>(path.size()));
}

// The system folder, as a host path: too small a buffer gets nothing written
// and the size needed, its NUL included; otherwise the length without it.
UINT WINAPI GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    ApiCall call("GetSystemDirectoryW", {{"uSize", uSize}});
    if (call.fault) return call.fail(UINT{0});
    const std::wstring path = call.m.host_wpath(call.m.folders.system_path());
    const auto length = static_cast<UINT>(path.size());
    if (!lpBuffer || uSize < length + 1) return call.done(length + 1);
    std::copy(path.begin(), path.end(), lpBuffer);
    lpBuffer[length] = L'\0';
    call.args["lpBuffer"] = winsim::to_utf8(path);
    return call.done(length);
}

DWORD WINAPI GetCurrentProcessId(void) {
    ApiCall call("GetCurrentProcessId");
    return call.done(call.m.kernel.process_id);
}

DWORD WINAPI GetLastError(void) {
    ApiCall call("GetLastError");
    return call.done(call.m.last_error());
}

void WINAPI SetLastError(DWORD dwErrCode) {
    ApiCall call("SetLastError", {{"dwErrCode", dwErrCode}});
    call.m.set_last_error(dwErrCode);
    call.done(0, nullptr);
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    // Static objects may close their handles at exit, after the machine.
    if (!winsim::Machine::current_or_null()) return TRUE;
    ApiCall call("CloseHandle", {{"hObject", arg_ptr(hObject)}});
    if (const auto* e = call.m.handles.find(hObject)) call.args["kind"] = e->kind;
    // A file's descriptor goes with its handle, whatever the close reports.
    const DWORD fileError = winsim::close_file_handle(hObject);
    const bool closed = call.m.handles.close(hObject);
    if (call.fault) return call.fail(FALSE);  // see release_fault_note in api_support.h
    if (!closed) return call.fail(FALSE, ERROR_INVALID_HANDLE);
    if (fileError != ERROR_SUCCESS) return call.fail(FALSE, fileError);
    return call.done(TRUE);
}

DWORD WINAPI GetTickCount(void) {
    ApiCall call("GetTickCount");
    return call.done(call.m.kernel.clock.tick_count());
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    ApiCall call("Sleep", {{"dwMilliseconds", dwMilliseconds}});
    call.m.kernel.clock.advance(dwMilliseconds);
    call.done(0, nullptr);
}

BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount) {
    // Static objects may make theirs at start-up, before any machine exists.
    if (!winsim::Machine::current_or_null()) {
        *lpCriticalSection = CRITICAL_SECTION{};
        lpCriticalSection->LockCount = -1;
        lpCriticalSection->SpinCount = dwSpinCount;
        return TRUE;
    }
    ApiCall call("InitializeCriticalSectionAndSpinCount",
                 {{"lpCriticalSection", arg_ptr(lpCriticalSection)}, {"dwSpinCount", dwSpinCount}});
    if (call.fault) return call.fail(FALSE);
    auto& cs = call.m.kernel.critical_sections;
    auto it = cs.find(lpCriticalSection);
    if (it != cs.end() && it->second.initialized)
        call.m.kernel.problems.push_back("critical section initialised twice without DeleteCriticalSection");
    cs[lpCriticalSection] = {true, 0};
    *lpCriticalSection = CRITICAL_SECTION{};
    lpCriticalSection->LockCount = -1;
    lpCriticalSection->SpinCount = dwSpinCount;
    return call.done(TRUE);
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    if (!winsim::Machine::current_or_null()) return;
    ApiCall call("DeleteCriticalSection", {{"lpCriticalSection", arg_ptr(lpCriticalSection)}});
    auto& k = call.m.kernel;
    auto it = k.critical_sections.find(lpCriticalSection);
    if (it == k.critical_sections.end() || !it->second.initialized)
        k.problems.push_back("DeleteCriticalSection of a critical section not initialised");
    else if (it->second.entered > 0)
        k.problems.push_back("DeleteCriticalSection of a critical section still entered");
    if (it != k.critical_sections.end()) k.critical_sections.erase(it);
    call.done(0, nullptr);
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    ApiCall call("EnterCriticalSection", {{"lpCriticalSection", arg_ptr(lpCriticalSection)}});
    auto& k = call.m.kernel;
    auto it = k.critical_sections.find(lpCriticalSection);
    if (it == k.critical_sections.end() || !it->second.initialized) {
        k.problems.push_back("EnterCriticalSection of a critical section not initialised");
    } else {
        // One thread runs the product: entering is recursion, never a wait.
        ++it->second.entered;
        ++lpCriticalSection->RecursionCount;
    }
    call.done(0, nullptr);
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    ApiCall call("LeaveCriticalSection", {{"lpCriticalSection", arg_ptr(lpCriticalSection)}});
    auto& k = call.m.kernel;
    auto it = k.critical_sections.find(lpCriticalSection);
    if (it == k.critical_sections.end() || it->second.entered == 0) {
        k.problems.push_back("LeaveCriticalSection of a critical section not entered");
    } else {
        --it->second.entered;
        --lpCriticalSection->RecursionCount;
    }
    call.done(0, nullptr);
}

}  // extern "C"
