// kernel32: modules. The program's own image and shell32.dll are loaded
// from the start; wininet.dll only when the product loads it as a data file.
#include "platform/winsim/api_support.h"

#include <cstring>

using winsim::ApiCall;
using winsim::arg;
using winsim::arg_ptr;

extern "C" {

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
    ApiCall call("GetModuleHandleW", {{"lpModuleName", arg(lpModuleName)}});
    if (call.fault) return call.fail(HMODULE{nullptr});
    auto& mods = call.m.modules;
    if (!lpModuleName) return call.done(mods.program.handle);
    auto* mod = mods.by_name(lpModuleName);
    // A module mapped as a data file is not a loaded module for this call.
    if (!mod || !mod->loaded || mod->as_datafile) return call.fail(HMODULE{nullptr}, ERROR_MOD_NOT_FOUND);
    return call.done(mod->handle);
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    bool by_ordinal = IS_INTRESOURCE(lpProcName);
    ApiCall call("GetProcAddress",
                 {{"hModule", arg_ptr(hModule)},
                  {"lpProcName", by_ordinal ? nlohmann::json(reinterpret_cast<std::uintptr_t>(lpProcName))
                                            : arg(lpProcName)}});
    if (call.fault) return call.fail(FARPROC{nullptr});
    auto* mod = call.m.modules.by_handle(hModule);
    if (!mod || mod->as_datafile) return call.fail(FARPROC{nullptr}, ERROR_MOD_NOT_FOUND);
    if (by_ordinal) return call.fail(FARPROC{nullptr}, ERROR_PROC_NOT_FOUND);
    auto it = mod->exports.find(lpProcName);
    if (it == mod->exports.end()) return call.fail(FARPROC{nullptr}, ERROR_PROC_NOT_FOUND);
    return call.done(it->second);
}

HMODULE WINAPI LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    ApiCall call("LoadLibraryExW",
                 {{"lpLibFileName", arg(lpLibFileName)}, {"hFile", arg_ptr(hFile)}, {"dwFlags", dwFlags}});
    if (call.fault) return call.fail(HMODULE{nullptr});
    if (!lpLibFileName || hFile) return call.fail(HMODULE{nullptr}, ERROR_INVALID_PARAMETER);
    auto& mods = call.m.modules;
    auto* mod = mods.by_name(lpLibFileName);
    if (!mod) return call.fail(HMODULE{nullptr}, ERROR_MOD_NOT_FOUND);
    if (mod == &mods.wininet) {
        if (!mods.wininet_loadable) return call.fail(HMODULE{nullptr}, ERROR_MOD_NOT_FOUND);
        // The model has wininet.dll only as a message-table file.
        mod->loaded = true;
        mod->as_datafile = true;
    } else if (!mod->loaded) {
        return call.fail(HMODULE{nullptr}, ERROR_MOD_NOT_FOUND);
    }
    ++mod->load_count;
    return call.done(mod->handle);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    // Function-local statics free their libraries at exit, after the machine.
    if (!winsim::Machine::current_or_null()) return TRUE;
    ApiCall call("FreeLibrary", {{"hLibModule", arg_ptr(hLibModule)}});
    auto& m = call.m;
    auto* mod = m.modules.by_handle(hLibModule);
    if (!mod) {
        m.report_problem("FreeLibrary of a module handle that is not loaded");
        return call.fail(FALSE, ERROR_INVALID_HANDLE);
    }
    if (mod->load_count == 0)
        m.report_problem("FreeLibrary of " + mod->name + " without a matching LoadLibraryExW");
    else if (--mod->load_count == 0 && mod == &m.modules.wininet)
        mod->loaded = false;
    if (call.fault) return call.fail(FALSE);  // see release_fault_note in api_support.h
    return call.done(TRUE);
}

}  // extern "C"
