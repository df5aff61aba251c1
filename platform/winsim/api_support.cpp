#include "platform/winsim/api_support.h"

#include <cstdint>

namespace winsim {

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string to_utf8(const std::wstring& w) {
    std::string out;
    out.reserve(w.size());
    for (std::size_t i = 0; i < w.size(); ++i) {
        std::uint32_t u = static_cast<std::uint32_t>(w[i]) & 0xFFFF;
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < w.size()) {
            std::uint32_t t = static_cast<std::uint32_t>(w[i + 1]) & 0xFFFF;
            if (t >= 0xDC00 && t < 0xE000) {
                append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (t - 0xDC00));
                ++i;
                continue;
            }
        }
        append_utf8(out, u >= 0xD800 && u < 0xE000 ? 0xFFFD : u);
    }
    return out;
}

std::string to_utf8(const wchar_t* w) { return w ? to_utf8(std::wstring(w)) : std::string(); }

std::wstring from_utf8(const std::string& s) {
    std::wstring out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp;
        std::size_t n;
        if (c < 0x80) { cp = c; n = 1; }
        else if ((c >> 5) == 6) { cp = c & 0x1F; n = 2; }
        else if ((c >> 4) == 14) { cp = c & 0x0F; n = 3; }
        else if ((c >> 3) == 30) { cp = c & 0x07; n = 4; }
        else { out += L'\xFFFD'; ++i; continue; }
        if (i + n > s.size()) { out += L'\xFFFD'; break; }
        bool ok = true;
        for (std::size_t k = 1; k < n; ++k) {
            unsigned char t = static_cast<unsigned char>(s[i + k]);
            if ((t >> 6) != 2) { ok = false; break; }
            cp = (cp << 6) | (t & 0x3F);
        }
        if (!ok) { out += L'\xFFFD'; ++i; continue; }
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (cp >> 10));
            out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<wchar_t>(cp);
        }
    }
    return out;
}

nlohmann::json arg(const wchar_t* s) { return s ? nlohmann::json(to_utf8(s)) : nlohmann::json(); }

nlohmann::json arg(const char* s) { return s ? nlohmann::json(std::string(s)) : nlohmann::json(); }

nlohmann::json arg_ptr(const void* p) {
    if (!p) return nullptr;
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(p));
}

nlohmann::json arg_resource(const wchar_t* key) {
    if (IS_INTRESOURCE(key)) return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(key));
    return to_utf8(key);
}

ApiCall::ApiCall(const char* name, nlohmann::json a)
    : m(Machine::current()), fault(m.faults.take(name)), args(std::move(a)), name_(name) {}

ApiCall::~ApiCall() {
    if (!recorded_) finish(nullptr);
}

void ApiCall::finish(nlohmann::json result) {
    if (recorded_) return;
    recorded_ = true;
    CallRecord rec;
    rec.call = name_;
    rec.args = std::move(args);
    rec.result = std::move(result);
    rec.lastError = m.last_error();
    rec.injected = injected_;
    rec.clock_ms = m.clock().now();
    m.log.record(std::move(rec));
}

}  // namespace winsim
