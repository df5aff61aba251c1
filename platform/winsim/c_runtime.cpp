// The C runtime's conversions of a current machine (see c_runtime.h): the
// Windows runtime's "C" locale for 8-bit text, and the sandbox's file names
// behind the C library's own conversions in its "C" locale.
//
// libstdc++'s std::codecvt<wchar_t, char, std::mbstate_t> switches the
// thread to the C library's "C" locale and converts with wcsnrtombs,
// wcrtomb, mbsnrtowcs and mbrtowc, sizing its buffers by MB_CUR_MAX
// (__ctype_get_mb_cur_max). The definitions below, in the executable that
// links the model, come before the C library's for libstdc++.so and
// libboost_filesystem.so alike; in the "C" locale of a current machine they
// convert the model's wide strings (UTF-16 units, one per wchar_t) to UTF-8
// and back, and otherwise hand the call to the next definition (the C
// library's, or AddressSanitizer's interceptor).
#undef _FORTIFY_SOURCE

#include "platform/winsim/c_runtime.h"

#include <boost/filesystem/path.hpp>
#include <utf8.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <langinfo.h>
#include <locale.h>

namespace winsim {

namespace {

std::atomic<bool> g_file_names{false};

template <class Fn>
Fn next_definition(const char* name) {
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

#define WINSIM_REAL(name) \
    static const auto real_##name = winsim::next_definition<decltype(&::name)>(#name)

// The C library's "C" (or POSIX) locale on this thread: its codeset is
// ASCII, whether the thread uses the global locale or one of its own, as
// libstdc++'s codecvt does.
bool in_c_locale() {
    const locale_t current = ::uselocale(static_cast<locale_t>(nullptr));
    const char* codeset = current == LC_GLOBAL_LOCALE ? ::nl_langinfo(CODESET)
                                                      : ::nl_langinfo_l(CODESET, current);
    return codeset && std::strcmp(codeset, "ANSI_X3.4-1968") == 0;
}

bool converts_file_names_now() { return g_file_names.load() && in_c_locale(); }

constexpr std::size_t kFailed = static_cast<std::size_t>(-1);
constexpr std::size_t kIncomplete = static_cast<std::size_t>(-2);
// UTF-8 needs at most 4 bytes for a character, 3 for one UTF-16 unit.
constexpr std::size_t kMaxBytes = 4;

bool is_high_surrogate(std::uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(std::uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// A high surrogate waits in the conversion state for its low one, the way
// a stateful encoding keeps its shift state between calls.
bool pending(const std::mbstate_t& state) { return state.__count != 0; }

// One UTF-16 unit to UTF-8 in |out|: the count of bytes, 0 for a high
// surrogate (kept in |state|), -1 for a unit that cannot stand where it is
// (a lone surrogate: no file of the sandbox can carry it).
int encode_unit(wchar_t unit, std::mbstate_t& state, char* out) {
    const auto u = static_cast<std::uint32_t>(unit);
    std::uint32_t cp = u;
    if (pending(state)) {
        if (!is_low_surrogate(u)) return -1;
        cp = 0x10000 + ((state.__value.__wch - 0xD800) << 10) + (u - 0xDC00);
        state = std::mbstate_t();
    } else if (is_high_surrogate(u)) {
        state.__count = 1;
        state.__value.__wch = u;
        return 0;
    } else if (is_low_surrogate(u) || u > 0xFFFF) {
        return -1;
    }
    return static_cast<int>(utf8::append(cp, out) - out);
}

struct Decoded {
    std::uint32_t cp = 0;
    int length = 0;  // 0: the bytes end inside the character; -1: no UTF-8
};

Decoded decode(const char* s, const char* end) {
    const char* it = s;
    try {
        const std::uint32_t cp = utf8::next(it, end);
        return {cp, static_cast<int>(it - s)};
    } catch (const utf8::not_enough_room&) {
        return {0, 0};
    } catch (const utf8::exception&) {
        return {0, -1};
    }
}

std::size_t fail() {
    errno = EILSEQ;
    return kFailed;
}

// wcsnrtombs: at most |nwc| units from *src, at most |len| bytes to |dst|
// (counted only when |dst| is null, which leaves *src and the state alone).
// A surrogate pair converts whole or not at all: its high unit never waits
// at the end of the text for a low one that may not come.
std::size_t file_names_out(char* dst, const wchar_t** src, std::size_t nwc, std::size_t len,
                           std::mbstate_t& caller_state) {
    std::mbstate_t counting = caller_state;
    std::mbstate_t& state = dst ? caller_state : counting;
    const wchar_t* s = *src;
    std::size_t written = 0;
    while (nwc > 0) {
        if (*s == L'\0') {
            if (pending(state)) {
                if (dst) *src = s;
                return fail();
            }
            if (!dst) return written;
            if (written == len) break;
            dst[written] = '\0';
            *src = nullptr;
            return written;
        }
        char bytes[kMaxBytes];
        std::mbstate_t next = state;
        std::size_t units = 1;
        int n = encode_unit(s[0], next, bytes);
        if (n == 0) {
            n = nwc > 1 ? encode_unit(s[1], next, bytes) : -1;
            units = 2;
        }
        if (n < 0) {
            if (dst) *src = s;
            return fail();
        }
        if (dst) {
            if (len - written < static_cast<std::size_t>(n)) break;
            std::memcpy(dst + written, bytes, static_cast<std::size_t>(n));
        }
        state = next;
        written += static_cast<std::size_t>(n);
        s += units;
        nwc -= units;
    }
    if (dst) *src = s;
    return written;
}

// mbsnrtowcs: at most |nms| bytes from *src, at most |len| units to |dst|
// (counted only when |dst| is null). A character the bytes end inside is
// left where it starts.
std::size_t file_names_in(wchar_t* dst, const char** src, std::size_t nms, std::size_t len) {
    const char* s = *src;
    const std::size_t text = ::strnlen(s, nms);
    const char* const end = s + text;
    std::size_t written = 0;
    while (s < end) {
        const Decoded d = decode(s, end);
        if (d.length < 0) {
            if (dst) *src = s;
            return fail();
        }
        if (d.length == 0) break;
        const std::size_t units = d.cp >= 0x10000 ? 2 : 1;
        if (dst) {
            if (len - written < units) break;
            if (units == 2) {
                dst[written] = static_cast<wchar_t>(0xD800 + ((d.cp - 0x10000) >> 10));
                dst[written + 1] = static_cast<wchar_t>(0xDC00 + ((d.cp - 0x10000) & 0x3FF));
            } else {
                dst[written] = static_cast<wchar_t>(d.cp);
            }
        }
        written += units;
        s += d.length;
    }
    if (dst) {
        if (s == end && text < nms && written < len) {
            dst[written] = L'\0';
            *src = nullptr;
            return written;
        }
        *src = s;
    }
    return written;
}

// mbrtowc: one character. One wchar_t holds one UTF-16 unit, so a character
// beyond U+FFFF is refused here; mbsnrtowcs converts it.
std::size_t file_name_in(wchar_t* pwc, const char* s, std::size_t n) {
    if (!s) return 0;
    if (n == 0) return kIncomplete;
    const Decoded d = decode(s, s + std::min(n, kMaxBytes));
    if (d.length == 0) return kIncomplete;
    if (d.length < 0 || d.cp >= 0x10000) return fail();
    if (pwc) *pwc = static_cast<wchar_t>(d.cp);
    return d.cp == 0 ? 0 : static_cast<std::size_t>(d.length);
}

// wcrtomb: one unit; a null |s| returns the state to its start.
std::size_t file_name_out(char* s, wchar_t wc, std::mbstate_t& state) {
    char ignored[kMaxBytes];
    if (!s) {
        s = ignored;
        wc = L'\0';
    }
    if (wc == L'\0') {
        if (pending(state)) return fail();
        *s = '\0';
        return 1;
    }
    const int n = encode_unit(wc, state, s);
    return n < 0 ? fail() : static_cast<std::size_t>(n);
}

}  // namespace

CRuntimeCodecvt::result CRuntimeCodecvt::do_out(state_type&, const intern_type* from,
                                                const intern_type* from_end,
                                                const intern_type*& from_next, extern_type* to,
                                                extern_type* to_end, extern_type*& to_next) const {
    for (from_next = from, to_next = to; from_next != from_end; ++from_next, ++to_next) {
        if (to_next == to_end) return partial;
        const auto unit = static_cast<std::uint32_t>(*from_next);
        if (unit > 0xFF) return error;
        *to_next = static_cast<extern_type>(static_cast<unsigned char>(unit));
    }
    return ok;
}

CRuntimeCodecvt::result CRuntimeCodecvt::do_in(state_type&, const extern_type* from,
                                               const extern_type* from_end,
                                               const extern_type*& from_next, intern_type* to,
                                               intern_type* to_end, intern_type*& to_next) const {
    for (from_next = from, to_next = to; from_next != from_end; ++from_next, ++to_next) {
        if (to_next == to_end) return partial;
        *to_next = static_cast<intern_type>(static_cast<unsigned char>(*from_next));
    }
    return ok;
}

CRuntimeCodecvt::result CRuntimeCodecvt::do_unshift(state_type&, extern_type* to, extern_type*,
                                                    extern_type*& to_next) const {
    to_next = to;
    return noconv;
}

int CRuntimeCodecvt::do_length(state_type&, const extern_type* from, const extern_type* end,
                               std::size_t max) const {
    return static_cast<int>(std::min(max, static_cast<std::size_t>(end - from)));
}

void CRuntime::enter() {
    saved_global_ = std::locale::global(std::locale(std::locale::classic(), new CRuntimeCodecvt));
    // Boost.Filesystem takes its path conversion from the environment's
    // locale on Linux; the classic one's is the C library's "C" locale,
    // which is the sandbox's file names while the machine is current.
    saved_path_locale_ = boost::filesystem::path::imbue(std::locale::classic());
    g_file_names = true;
}

CRuntime::~CRuntime() {
    if (!saved_global_) return;
    g_file_names = false;
    boost::filesystem::path::imbue(*saved_path_locale_);
    std::locale::global(*saved_global_);
}

bool CRuntime::converts_file_names() {
    return converts_file_names_now()
           && ::dlsym(RTLD_DEFAULT, "wcsnrtombs") == reinterpret_cast<void*>(&::wcsnrtombs);
}

}  // namespace winsim

extern "C" {

std::size_t wcsnrtombs(char* dst, const wchar_t** src, std::size_t nwc, std::size_t len,
                       std::mbstate_t* ps) noexcept {
    WINSIM_REAL(wcsnrtombs);
    if (!winsim::converts_file_names_now()) return real_wcsnrtombs(dst, src, nwc, len, ps);
    static std::mbstate_t own;
    return winsim::file_names_out(dst, src, nwc, len, ps ? *ps : own);
}

std::size_t wcrtomb(char* s, wchar_t wc, std::mbstate_t* ps) noexcept {
    WINSIM_REAL(wcrtomb);
    if (!winsim::converts_file_names_now()) return real_wcrtomb(s, wc, ps);
    static std::mbstate_t own;
    return winsim::file_name_out(s, wc, ps ? *ps : own);
}

std::size_t mbsnrtowcs(wchar_t* dst, const char** src, std::size_t nms, std::size_t len,
                       std::mbstate_t* ps) noexcept {
    WINSIM_REAL(mbsnrtowcs);
    if (!winsim::converts_file_names_now()) return real_mbsnrtowcs(dst, src, nms, len, ps);
    return winsim::file_names_in(dst, src, nms, len);
}

std::size_t mbrtowc(wchar_t* pwc, const char* s, std::size_t n, std::mbstate_t* ps) noexcept {
    WINSIM_REAL(mbrtowc);
    if (!winsim::converts_file_names_now()) return real_mbrtowc(pwc, s, n, ps);
    return winsim::file_name_in(pwc, s, n);
}

std::size_t __ctype_get_mb_cur_max() noexcept {
    WINSIM_REAL(__ctype_get_mb_cur_max);
    return winsim::converts_file_names_now() ? winsim::kMaxBytes : real___ctype_get_mb_cur_max();
}

}  // extern "C"
