// shell32: known folders (SHGetKnownFolderPath) and CSIDL folders
// (SHGetFolderPathW), answered with the folders' places in the sandbox.
#include "platform/winsim/api_support.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

using winsim::ApiCall;
using winsim::arg_ptr;

const KNOWNFOLDERID FOLDERID_LocalAppData = {0xF1B32785, 0x6FBA, 0x4FCF, {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}};
const KNOWNFOLDERID FOLDERID_LocalAppDataLow = {0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};
const KNOWNFOLDERID FOLDERID_ProgramData = {0x62AB5D82, 0xFDC1, 0x4DC3, {0xA9, 0xDD, 0x07, 0x0D, 0x1D, 0x49, 0x5D, 0x97}};
const KNOWNFOLDERID FOLDERID_ProgramFiles = {0x905E63B6, 0xC1BF, 0x494E, {0xB2, 0x9C, 0x65, 0xB7, 0x32, 0xD3, 0xD2, 0x1A}};
const KNOWNFOLDERID FOLDERID_RoamingAppData = {0x3EB685DB, 0x65F9, 0x4CF6, {0xA0, 0x3A, 0xE3, 0xEF, 0x65, 0x72, 0x9F, 0x3D}};
const KNOWNFOLDERID FOLDERID_System = {0x1AC14E77, 0x02E7, 0x4E5D, {0xB7, 0x44, 0x2E, 0xB1, 0xAE, 0x51, 0x98, 0xB7}};
const KNOWNFOLDERID FOLDERID_SystemX86 = {0xD65231B0, 0xB2F1, 0x4857, {0xA4, 0xCE, 0xA8, 0xE7, 0xC6, 0xEA, 0x7D, 0x27}};
const KNOWNFOLDERID FOLDERID_Desktop = {0xB4BFCC3A, 0xDB2C, 0x424C, {0xB0, 0x29, 0x7F, 0xE9, 0x9A, 0x87, 0xC6, 0x41}};

namespace {
struct FolderName {
    const KNOWNFOLDERID* id;
    int csidl;
    const char* name;
};
const FolderName kFolders[] = {
    {&FOLDERID_LocalAppData, CSIDL_LOCAL_APPDATA, "LocalAppData"},
    {&FOLDERID_LocalAppDataLow, -1, "LocalAppDataLow"},
    {&FOLDERID_ProgramData, CSIDL_COMMON_APPDATA, "ProgramData"},
    {&FOLDERID_ProgramFiles, CSIDL_PROGRAM_FILES, "ProgramFiles"},
    {&FOLDERID_RoamingAppData, CSIDL_APPDATA, "RoamingAppData"},
    {&FOLDERID_System, CSIDL_SYSTEM, "System"},
    {&FOLDERID_SystemX86, CSIDL_SYSTEMX86, "SystemX86"},
    {&FOLDERID_Desktop, CSIDL_DESKTOPDIRECTORY, "Desktop"},
};

std::string guid_text(const GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

// The folder's host path, made first when asked to; an HRESULT on failure.
// The shell's work on the disk, not the product's.
HRESULT resolve(winsim::Machine& m, const char* name, bool create, std::wstring& out) {
    winsim::ModelFileAccess model;
    const auto* f = m.folders.find(name);
    if (!f) return E_INVALIDARG;  // not a folder of this machine
    auto host = m.sandbox.host_path(f->windows_path);
    std::error_code ec;
    if (!std::filesystem::is_directory(host, ec)) {
        if (!create) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        std::filesystem::create_directories(host, ec);
        if (ec || !std::filesystem::is_directory(host, ec)) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    }
    out = winsim::from_utf8(host.string());
    return S_OK;
}
}  // namespace

extern "C" {

HRESULT WINAPI SHGetKnownFolderPath(REFKNOWNFOLDERID rfid, DWORD dwFlags, HANDLE hToken, PWSTR* ppszPath) {
    ApiCall call("SHGetKnownFolderPath",
                 {{"rfid", guid_text(rfid)}, {"dwFlags", dwFlags}, {"hToken", arg_ptr(hToken)}});
    if (!ppszPath) return call.fail_status(E_INVALIDARG);
    *ppszPath = nullptr;
    if (call.fault) return call.fail_status(call.fault->hresult());
    const char* name = nullptr;
    for (const auto& f : kFolders)
        if (*f.id == rfid) name = f.name;
    call.args["folder"] = name ? nlohmann::json(name) : nlohmann::json();
    std::wstring path;
    HRESULT hr = name ? resolve(call.m, name, (dwFlags & KF_FLAG_CREATE) != 0, path) : E_INVALIDARG;
    if (FAILED(hr)) return call.fail_status(hr);
    auto* block = static_cast<wchar_t*>(call.m.memory.allocate(
        winsim::Memory::Allocator::cotaskmem, (path.size() + 1) * sizeof(wchar_t), false, "SHGetKnownFolderPath"));
    std::copy(path.begin(), path.end(), block);
    block[path.size()] = L'\0';
    *ppszPath = block;
    call.args["ppszPath"] = winsim::to_utf8(path);
    return call.done(S_OK);
}

HRESULT WINAPI SHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPWSTR pszPath) {
    ApiCall call("SHGetFolderPathW", {{"hwnd", arg_ptr(hwnd)},
                                      {"csidl", csidl},
                                      {"hToken", arg_ptr(hToken)},
                                      {"dwFlags", dwFlags}});
    if (!pszPath) return call.fail_status(E_INVALIDARG);
    pszPath[0] = L'\0';
    if (call.fault) return call.fail_status(call.fault->hresult());
    const int folder = csidl & 0xFF;  // the high byte holds flags
    const char* name = nullptr;
    for (const auto& f : kFolders)
        if (f.csidl == folder) name = f.name;
    call.args["folder"] = name ? nlohmann::json(name) : nlohmann::json();
    if (!name) return call.fail_status(E_INVALIDARG);
    std::wstring path;
    HRESULT hr = resolve(call.m, name, (csidl & CSIDL_FLAG_CREATE) != 0, path);
    // The wide function reports a missing folder as E_FAIL.
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) hr = E_FAIL;
    if (FAILED(hr)) return call.fail_status(hr);
    if (path.size() >= MAX_PATH) return call.fail_status(HRESULT_FROM_WIN32(206));  // ERROR_FILENAME_EXCED_RANGE
    std::copy(path.begin(), path.end(), pszPath);
    pszPath[path.size()] = L'\0';
    call.args["pszPath"] = winsim::to_utf8(path);
    return call.done(S_OK);
}

}  // extern "C"
