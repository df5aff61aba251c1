// utf8_to_wstring on any bytes, in a buffer of exactly their size: no read
// past the end, one UTF-16 unit or a surrogate pair per character, and
// well-formed UTF-8 comes back unchanged through wstring_to_utf8.
#include "fuzz/support/fuzz_support.h"

#include "kyv/common/string_conversion.hpp"
#include "kyv/except/windows_category.hpp"

#include <cstring>
#include <memory>
#include <string>

namespace {

// Well-formed UTF-8: shortest forms, no surrogates, nothing above U+10FFFF.
bool WellFormed(const std::uint8_t* p, std::size_t n) {
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t b = p[i];
        std::size_t len;
        std::uint32_t cp, min;
        if (b < 0x80) { ++i; continue; }
        if (b >= 0xC2 && b <= 0xDF) { len = 2; cp = b & 0x1F; min = 0x80; }
        else if (b >= 0xE0 && b <= 0xEF) { len = 3; cp = b & 0x0F; min = 0x800; }
        else if (b >= 0xF0 && b <= 0xF4) { len = 4; cp = b & 0x07; min = 0x10000; }
        else return false;
        if (n - i < len) return false;
        for (std::size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A block of exactly the input's size: a read past |last| is caught.
    std::unique_ptr<char[]> block(new char[size]);
    if (size) std::memcpy(block.get(), data, size);
    const std::wstring wide = kyv::common::utf8_to_wstring(block.get(), block.get() + size);
    const std::string text(block.get(), size);
    if (kyv::common::utf8_to_wstring(text) != wide)
        fuzz::Fail("both forms of utf8_to_wstring agree", fuzz::Shown(text));
    if (wide.size() > size) fuzz::Fail("utf8_to_wstring gives at most one unit a byte", fuzz::Shown(text));
    for (wchar_t w : wide)
        if (static_cast<std::uint32_t>(w) > 0xFFFF)
            fuzz::Fail("utf8_to_wstring gives UTF-16 units", fuzz::Shown(text) + " -> " + fuzz::Shown(wide));

    if (WellFormed(data, size)) {
        const std::string back = kyv::except::wstring_to_utf8(wide);
        if (back != text)
            fuzz::Fail("well-formed UTF-8 comes back unchanged",
                       fuzz::Shown(text) + " -> " + fuzz::Shown(wide) + " -> " + fuzz::Shown(back));
    }
    return 0;
}
