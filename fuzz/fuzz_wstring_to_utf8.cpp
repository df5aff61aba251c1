// wstring_to_utf8 on any 16-bit units, in a buffer of exactly their size: no
// read past the end, and well-formed UTF-16 comes back unchanged through
// utf8_to_wstring.
#include "fuzz/support/fuzz_support.h"

#include "kyv/common/string_conversion.hpp"
#include "kyv/except/windows_category.hpp"

#include <algorithm>
#include <memory>
#include <string>

namespace {

// Every lead surrogate followed by a trail surrogate, no trail alone.
bool WellFormed(const std::wstring& units) {
    for (std::size_t i = 0; i < units.size(); ++i) {
        const auto u = static_cast<std::uint32_t>(units[i]);
        if (u >= 0xDC00 && u <= 0xDFFF) return false;
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 == units.size()) return false;
            const auto t = static_cast<std::uint32_t>(units[++i]);
            if (t < 0xDC00 || t > 0xDFFF) return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring units = fuzz::UnitsFromBytes(data, size);
    std::unique_ptr<wchar_t[]> block(new wchar_t[units.size()]);
    std::copy(units.begin(), units.end(), block.get());
    const std::string text = kyv::except::wstring_to_utf8(block.get(), block.get() + units.size());
    if (kyv::except::wstring_to_utf8(units) != text)
        fuzz::Fail("both forms of wstring_to_utf8 agree", fuzz::Shown(units));
    if (text.size() > 3 * units.size())
        fuzz::Fail("wstring_to_utf8 gives at most three bytes a unit", fuzz::Shown(units) + " -> " + fuzz::Shown(text));

    if (WellFormed(units)) {
        const std::wstring back = kyv::common::utf8_to_wstring(text);
        if (back != units)
            fuzz::Fail("well-formed UTF-16 comes back unchanged",
                       fuzz::Shown(units) + " -> " + fuzz::Shown(text) + " -> " + fuzz::Shown(back));
    }
    return 0;
}
