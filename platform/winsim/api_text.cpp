// WideCharToMultiByte: the ANSI code page is Windows-1252, as on an English
// or Western European Windows; CP_UTF8 as well. CompareStringOrdinal.
#include "platform/winsim/api_support.h"
#include "platform/winsim/text.h"

#include <algorithm>
#include <cstdint>
#include <string>

using winsim::ApiCall;
using winsim::arg_ptr;

namespace {
// Unicode of the bytes 0x80..0x9F of Windows-1252. The five bytes the code
// page leaves undefined map to the C1 controls of the same value, so they
// round-trip as they do on Windows.
const char16_t kHigh1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool to_1252(char32_t cp, unsigned char& out) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
        out = static_cast<unsigned char>(cp);
        return true;
    }
    for (int i = 0; i < 32; ++i)
        if (kHigh1252[i] == cp) {
            out = static_cast<unsigned char>(0x80 + i);
            return true;
        }
    return false;
}

// The upper case CompareStringOrdinal compares by when told to ignore
// case: one UTF-16 unit to one, the simple mappings of Basic Latin, Latin-1,
// Latin Extended-A, Greek and Cyrillic (the file system's own table goes
// further; these cover the names the program meets).
wchar_t upper_unit(wchar_t c) {
    const auto u = static_cast<std::uint32_t>(c) & 0xFFFF;
    if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7)
        || (u >= 0x3B1 && u <= 0x3C9 && u != 0x3C2) || (u >= 0x430 && u <= 0x44F))
        return static_cast<wchar_t>(u - 0x20);
    if (u == 0xFF) return static_cast<wchar_t>(0x178);
    if (u >= 0x450 && u <= 0x45F) return static_cast<wchar_t>(u - 0x50);
    if (u >= 0x100 && u <= 0x17F && u != 0x131 && u != 0x138 && u != 0x149 && u != 0x17F) {
        // Pairs: even upper, odd lower, shifted by one between 0x139 and 0x148 and from 0x179.
        const bool shifted = (u >= 0x139 && u <= 0x148) || u >= 0x179;
        if ((u % 2 == 1) != shifted) return static_cast<wchar_t>(u - 1);
    }
    return static_cast<wchar_t>(u);
}

}  // namespace

extern "C" int WINAPI CompareStringOrdinal(LPCWCH lpString1, int cchCount1, LPCWCH lpString2,
                                           int cchCount2, BOOL bIgnoreCase) {
    ApiCall call("CompareStringOrdinal", {{"lpString1", arg_ptr(lpString1)},
                                          {"cchCount1", cchCount1},
                                          {"lpString2", arg_ptr(lpString2)},
                                          {"cchCount2", cchCount2},
                                          {"bIgnoreCase", bIgnoreCase}});
    if (call.fault) return call.fail(0);
    if (!lpString1 || !lpString2 || cchCount1 < -1 || cchCount2 < -1
        || (bIgnoreCase != FALSE && bIgnoreCase != TRUE))
        return call.fail(0, ERROR_INVALID_PARAMETER);
    // -1: up to the terminating null.
    const std::wstring a = cchCount1 < 0
                               ? std::wstring(lpString1)
                               : std::wstring(lpString1, static_cast<std::size_t>(cchCount1));
    const std::wstring b = cchCount2 < 0
                               ? std::wstring(lpString2)
                               : std::wstring(lpString2, static_cast<std::size_t>(cchCount2));
    call.args["lpString1"] = winsim::to_utf8(a);
    call.args["lpString2"] = winsim::to_utf8(b);
    // By code unit value: UTF-16 order, not the order of code points.
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const wchar_t x = bIgnoreCase ? upper_unit(a[i]) : static_cast<wchar_t>(a[i] & 0xFFFF);
        const wchar_t y = bIgnoreCase ? upper_unit(b[i]) : static_cast<wchar_t>(b[i] & 0xFFFF);
        if (x != y) return call.done(x < y ? CSTR_LESS_THAN : CSTR_GREATER_THAN);
    }
    if (a.size() == b.size()) return call.done(CSTR_EQUAL);
    return call.done(a.size() < b.size() ? CSTR_LESS_THAN : CSTR_GREATER_THAN);
}

extern "C" int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                                          LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                                          LPBOOL lpUsedDefaultChar) {
    ApiCall call("WideCharToMultiByte", {{"CodePage", CodePage},
                                         {"dwFlags", dwFlags},
                                         {"cchWideChar", cchWideChar},
                                         {"cbMultiByte", cbMultiByte},
                                         {"lpDefaultChar", winsim::arg(lpDefaultChar)},
                                         {"lpUsedDefaultChar", arg_ptr(lpUsedDefaultChar)}});
    if (call.fault) return call.fail(0);
    if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && !lpMultiByteStr))
        return call.fail(0, ERROR_INVALID_PARAMETER);
    bool utf8 = CodePage == CP_UTF8;
    if (!utf8 && CodePage != CP_ACP && CodePage != 1252) return call.fail(0, ERROR_INVALID_PARAMETER);
    // UTF-8 has no default character: asking for one is an error.
    if (utf8 && (lpDefaultChar || lpUsedDefaultChar)) return call.fail(0, ERROR_INVALID_PARAMETER);

    std::size_t n = cchWideChar == -1 ? std::char_traits<wchar_t>::length(lpWideCharStr) + 1
                                      : static_cast<std::size_t>(cchWideChar);
    call.args["lpWideCharStr"] = winsim::to_utf8(std::wstring(lpWideCharStr, n));
    const char def = lpDefaultChar ? lpDefaultChar[0] : '?';
    bool used_default = false;
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        char32_t u = static_cast<char32_t>(lpWideCharStr[i]) & 0xFFFF;
        char32_t cp = u;
        bool lone = false;
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < n) {
            char32_t t = static_cast<char32_t>(lpWideCharStr[i + 1]) & 0xFFFF;
            if (t >= 0xDC00 && t < 0xE000) {
                cp = 0x10000 + ((u - 0xD800) << 10) + (t - 0xDC00);
                ++i;
            } else {
                lone = true;
            }
        } else if (u >= 0xD800 && u < 0xE000) {
            lone = true;
        }
        if (utf8) {
            winsim::append_utf8(out, lone ? char32_t{0xFFFD} : cp);
            continue;
        }
        unsigned char b;
        if (!lone && to_1252(cp, b)) {
            out += static_cast<char>(b);
        } else {
            out += def;
            used_default = true;
        }
    }
    if (lpUsedDefaultChar) *lpUsedDefaultChar = used_default ? TRUE : FALSE;
    if (cbMultiByte == 0) return call.done(static_cast<int>(out.size()));
    if (out.size() > static_cast<std::size_t>(cbMultiByte)) {
        out.copy(lpMultiByteStr, static_cast<std::size_t>(cbMultiByte));
        return call.fail(0, ERROR_INSUFFICIENT_BUFFER);
    }
    out.copy(lpMultiByteStr, out.size());
    if (utf8) {
        call.args["lpMultiByteStr"] = out;
    } else {
        // Logged as the text those code-page bytes stand for.
        std::wstring shown;
        for (unsigned char b : out)
            shown += static_cast<wchar_t>(b >= 0x80 && b < 0xA0 ? kHigh1252[b - 0x80] : b);
        call.args["lpMultiByteStr"] = winsim::to_utf8(shown);
    }
    return call.done(static_cast<int>(out.size()));
}
