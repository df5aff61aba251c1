// Resources of the program's own image: FindResourceW and its companions,
// and LoadStringW over RT_STRING blocks of 16 counted UTF-16 strings.
#include "platform/winsim/api_support.h"

using winsim::ApiCall;
using winsim::arg_ptr;
using winsim::arg_resource;
using winsim::Resource;
using winsim::ResourceKey;

namespace {
bool is_program(winsim::Machine& m, HMODULE h) { return !h || h == m.modules.program.handle; }

bool has_type(winsim::Machine& m, const ResourceKey& type) {
    for (const auto& r : m.modules.resources)
        if (r->type == type) return true;
    return false;
}

// The wide view of a string block, made on first use.
const std::vector<wchar_t>& wide_block(Resource& r) {
    if (r.wide.empty() && r.size >= 2) {
        r.wide.reserve(r.size / 2);
        for (std::size_t i = 0; i + 1 < r.size; i += 2)
            r.wide.push_back(static_cast<wchar_t>(r.data[i] | (r.data[i + 1] << 8)));
    }
    return r.wide;
}

const unsigned char kEmpty[1] = {0};
}  // namespace

extern "C" {

HRSRC WINAPI FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
    ApiCall call("FindResourceW",
                 {{"hModule", arg_ptr(hModule)}, {"lpName", arg_resource(lpName)}, {"lpType", arg_resource(lpType)}});
    if (call.fault) return call.fail(HRSRC{nullptr});
    auto& m = call.m;
    if (!lpName || !lpType) return call.fail(HRSRC{nullptr}, ERROR_INVALID_PARAMETER);
    if (!is_program(m, hModule)) {
        if (!m.modules.by_handle(hModule)) return call.fail(HRSRC{nullptr}, ERROR_INVALID_HANDLE);
        return call.fail(HRSRC{nullptr}, ERROR_RESOURCE_TYPE_NOT_FOUND);
    }
    auto type = ResourceKey::of(lpType);
    if (!has_type(m, type)) return call.fail(HRSRC{nullptr}, ERROR_RESOURCE_TYPE_NOT_FOUND);
    auto r = m.modules.find_resource(type, ResourceKey::of(lpName));
    if (!r) return call.fail(HRSRC{nullptr}, ERROR_RESOURCE_NAME_NOT_FOUND);
    call.args["language"] = r->language;
    return call.done(reinterpret_cast<HRSRC>(r.get()));
}

DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo) {
    ApiCall call("SizeofResource", {{"hModule", arg_ptr(hModule)}, {"hResInfo", arg_ptr(hResInfo)}});
    if (call.fault) return call.fail(DWORD{0});
    Resource* r = call.m.modules.by_hrsrc(hResInfo);
    if (!r || !is_program(call.m, hModule)) return call.fail(DWORD{0}, ERROR_INVALID_HANDLE);
    return call.done(static_cast<DWORD>(r->size));
}

HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo) {
    ApiCall call("LoadResource", {{"hModule", arg_ptr(hModule)}, {"hResInfo", arg_ptr(hResInfo)}});
    if (call.fault) return call.fail(HGLOBAL{nullptr});
    Resource* r = call.m.modules.by_hrsrc(hResInfo);
    if (!r || !is_program(call.m, hModule)) return call.fail(HGLOBAL{nullptr}, ERROR_INVALID_HANDLE);
    // The bytes stay mapped with the image: nothing to free.
    return call.done(HGLOBAL{const_cast<unsigned char*>(r->data ? r->data : kEmpty)});
}

LPVOID WINAPI LockResource(HGLOBAL hResData) {
    ApiCall call("LockResource", {{"hResData", arg_ptr(hResData)}});
    if (call.fault) return call.fail(LPVOID{nullptr});
    return call.done(LPVOID{hResData});
}

int WINAPI LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax) {
    ApiCall call("LoadStringW", {{"hInstance", arg_ptr(hInstance)}, {"uID", uID}, {"cchBufferMax", cchBufferMax}});
    if (call.fault) return call.fail(0);
    auto& m = call.m;
    if (!lpBuffer || cchBufferMax < 0) return call.fail(0, ERROR_INVALID_PARAMETER);
    if (!is_program(m, hInstance)) return call.fail(0, ERROR_RESOURCE_TYPE_NOT_FOUND);
    auto type = ResourceKey::of_id(6);
    if (!has_type(m, type)) return call.fail(0, ERROR_RESOURCE_TYPE_NOT_FOUND);
    auto r = m.modules.find_resource(type, ResourceKey::of_id(uID / 16 + 1));
    if (!r) return call.fail(0, ERROR_RESOURCE_NAME_NOT_FOUND);
    const auto& w = wide_block(*r);
    std::size_t pos = 0;
    for (unsigned k = 0; k < uID % 16 && pos < w.size(); ++k) pos += 1 + (static_cast<std::size_t>(w[pos]) & 0xFFFF);
    if (pos >= w.size()) return call.fail(0, ERROR_RESOURCE_NAME_NOT_FOUND);
    std::size_t len = static_cast<std::size_t>(w[pos]) & 0xFFFF;
    if (pos + 1 + len > w.size()) len = w.size() - pos - 1;  // a block cut short
    if (len == 0) return call.fail(0, ERROR_RESOURCE_NAME_NOT_FOUND);
    const wchar_t* text = w.data() + pos + 1;
    call.args["text"] = winsim::to_utf8(std::wstring(text, len));
    if (cchBufferMax == 0) {
        // A read-only pointer into the image; the text is not terminated.
        *reinterpret_cast<const wchar_t**>(lpBuffer) = text;
        return call.done(static_cast<int>(len));
    }
    std::size_t n = std::min(len, static_cast<std::size_t>(cchBufferMax) - 1);
    std::copy_n(text, n, lpBuffer);
    lpBuffer[n] = L'\0';
    return call.done(static_cast<int>(n));
}

}  // extern "C"
