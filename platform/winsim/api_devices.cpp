// Drives (kernel32) and network adapters (iphlpapi).
#include "platform/winsim/api_support.h"

#include <algorithm>
#include <cstring>
#include <cwctype>

using winsim::ApiCall;
using winsim::arg;
using winsim::arg_ptr;

namespace {
// "C:\" (or "C:" where the call allows it) to its drive; null otherwise.
winsim::Drive* drive_of(winsim::Machine& m, LPCWSTR root, bool need_backslash) {
    if (!root || !std::iswalpha(root[0]) || root[1] != L':') return nullptr;
    if (root[2] == L'\\' ? root[3] != L'\0' : (need_backslash || root[2] != L'\0')) return nullptr;
    return m.drives.find(root[0]);
}

std::vector<winsim::Drive> sorted(const winsim::Drives& d) {
    auto v = d.drives;
    std::sort(v.begin(), v.end(), [](const auto& a, const auto& b) { return a.letter < b.letter; });
    return v;
}

bool put_text(const std::wstring& text, LPWSTR buf, DWORD size) {
    if (!buf) return true;
    if (text.size() + 1 > size) return false;
    std::copy(text.begin(), text.end(), buf);
    buf[text.size()] = L'\0';
    return true;
}

void copy_cstr(char* dst, std::size_t cap, const std::string& s) {
    std::size_t n = std::min(s.size(), cap - 1);
    std::memcpy(dst, s.data(), n);
    dst[n] = '\0';
}
}  // namespace

extern "C" {

DWORD WINAPI GetLogicalDriveStringsW(DWORD nBufferLength, LPWSTR lpBuffer) {
    ApiCall call("GetLogicalDriveStringsW", {{"nBufferLength", nBufferLength}});
    if (call.fault) return call.fail(DWORD{0});
    std::wstring list;
    for (const auto& d : sorted(call.m.drives)) {
        list += d.letter;
        list += L":\\";
        list += L'\0';
    }
    const DWORD length = static_cast<DWORD>(list.size());  // without the final NUL
    // Too small a buffer: the size needed, final NUL included, and nothing written.
    if (!lpBuffer || nBufferLength < length + 1) return call.done(length + 1);
    std::copy(list.begin(), list.end(), lpBuffer);
    lpBuffer[length] = L'\0';
    nlohmann::json roots = nlohmann::json::array();
    for (const auto& d : sorted(call.m.drives)) roots.push_back(winsim::to_utf8(std::wstring(1, d.letter) + L":\\"));
    call.args["lpBuffer"] = roots;
    return call.done(length);
}

UINT WINAPI GetDriveTypeW(LPCWSTR lpRootPathName) {
    ApiCall call("GetDriveTypeW", {{"lpRootPathName", arg(lpRootPathName)}});
    if (call.fault) return call.fail(UINT{DRIVE_UNKNOWN});
    if (!lpRootPathName) {
        auto* c = call.m.drives.find(L'C');
        return call.done(c ? c->type : UINT{DRIVE_NO_ROOT_DIR});
    }
    auto* d = drive_of(call.m, lpRootPathName, false);
    return call.done(d ? d->type : UINT{DRIVE_NO_ROOT_DIR});
}

BOOL WINAPI GetVolumeInformationW(LPCWSTR lpRootPathName, LPWSTR lpVolumeNameBuffer, DWORD nVolumeNameSize,
                                  LPDWORD lpVolumeSerialNumber, LPDWORD lpMaximumComponentLength,
                                  LPDWORD lpFileSystemFlags, LPWSTR lpFileSystemNameBuffer, DWORD nFileSystemNameSize) {
    ApiCall call("GetVolumeInformationW", {{"lpRootPathName", arg(lpRootPathName)},
                                           {"lpVolumeNameBuffer", arg_ptr(lpVolumeNameBuffer)},
                                           {"nVolumeNameSize", nVolumeNameSize},
                                           {"lpVolumeSerialNumber", arg_ptr(lpVolumeSerialNumber)},
                                           {"lpMaximumComponentLength", arg_ptr(lpMaximumComponentLength)},
                                           {"lpFileSystemFlags", arg_ptr(lpFileSystemFlags)},
                                           {"lpFileSystemNameBuffer", arg_ptr(lpFileSystemNameBuffer)},
                                           {"nFileSystemNameSize", nFileSystemNameSize}});
    if (call.fault) return call.fail(FALSE);
    auto& m = call.m;
    winsim::Drive* d = nullptr;
    if (lpRootPathName) {
        const bool root_form = std::iswalpha(lpRootPathName[0]) && lpRootPathName[1] == L':' &&
                               lpRootPathName[2] == L'\\' && lpRootPathName[3] == L'\0';
        if (!root_form) return call.fail(FALSE, 123);  // ERROR_INVALID_NAME: a root is "C:\"
        d = m.drives.find(lpRootPathName[0]);
    } else {
        d = m.drives.find(L'C');
    }
    if (!d) return call.fail(FALSE, ERROR_PATH_NOT_FOUND);
    if (!d->ready) return call.fail(FALSE, ERROR_NOT_READY);
    if (!put_text(d->label, lpVolumeNameBuffer, nVolumeNameSize) ||
        !put_text(d->filesystem, lpFileSystemNameBuffer, nFileSystemNameSize))
        return call.fail(FALSE, 24);  // ERROR_BAD_LENGTH
    if (lpVolumeSerialNumber) *lpVolumeSerialNumber = d->serial;
    if (lpMaximumComponentLength) *lpMaximumComponentLength = d->max_component_length;
    if (lpFileSystemFlags) *lpFileSystemFlags = d->filesystem_flags;
    call.args["serial"] = d->serial;
    return call.done(TRUE);
}

ULONG WINAPI GetAdaptersInfo(PIP_ADAPTER_INFO AdapterInfo, PULONG SizePointer) {
    ApiCall call("GetAdaptersInfo", {{"AdapterInfo", arg_ptr(AdapterInfo)},
                                     {"SizePointer", SizePointer ? nlohmann::json(*SizePointer) : nlohmann::json()}});
    if (call.fault) return call.fail_status(static_cast<ULONG>(call.fault->lstatus()));
    if (!SizePointer) return call.fail_status(ULONG{ERROR_INVALID_PARAMETER});
    const auto& adapters = call.m.network.adapters;
    if (adapters.empty()) return call.fail_status(ULONG{ERROR_NO_DATA});
    const ULONG needed = static_cast<ULONG>(adapters.size() * sizeof(IP_ADAPTER_INFO));
    if (!AdapterInfo || *SizePointer < needed) {
        *SizePointer = needed;
        call.args["needed"] = needed;
        return call.fail_status(ULONG{ERROR_BUFFER_OVERFLOW});
    }
    nlohmann::json shown = nlohmann::json::array();
    for (std::size_t i = 0; i < adapters.size(); ++i) {
        const auto& a = adapters[i];
        IP_ADAPTER_INFO& r = AdapterInfo[i];
        std::memset(&r, 0, sizeof r);
        r.Next = i + 1 < adapters.size() ? &AdapterInfo[i + 1] : nullptr;
        r.ComboIndex = a.index;
        copy_cstr(r.AdapterName, sizeof r.AdapterName, a.name);
        copy_cstr(r.Description, sizeof r.Description, a.description);
        r.AddressLength = static_cast<UINT>(a.address.size());
        std::copy(a.address.begin(), a.address.end(), r.Address);
        r.Index = a.index;
        r.Type = a.type;
        copy_cstr(r.IpAddressList.IpAddress.String, sizeof r.IpAddressList.IpAddress.String, a.ip);
        copy_cstr(r.IpAddressList.IpMask.String, sizeof r.IpAddressList.IpMask.String, a.mask);
        copy_cstr(r.GatewayList.IpAddress.String, sizeof r.GatewayList.IpAddress.String, "0.0.0.0");
        copy_cstr(r.GatewayList.IpMask.String, sizeof r.GatewayList.IpMask.String, "0.0.0.0");
        shown.push_back({{"AdapterName", a.name}, {"Description", a.description}, {"Type", a.type},
                         {"AddressLength", r.AddressLength}});
    }
    call.args["records"] = shown;
    return call.done(ULONG{ERROR_SUCCESS});
}

}  // extern "C"
