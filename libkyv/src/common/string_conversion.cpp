#include "kyv/common/string_conversion.hpp"

#include "platform/atl/atl_lite.h"

#include <utf8.h>

#include <cstddef>
#include <iterator>

namespace kyv::common {

namespace {

// How many bytes the character starting with |lead| announces; a byte that
// cannot start one counts as a character of its own.
std::ptrdiff_t announced_length(char lead) {
    const unsigned char b = static_cast<unsigned char>(lead);
    if (b < 0x80) return 1;
    if ((b >> 5) == 0x06) return 2;
    if ((b >> 4) == 0x0E) return 3;
    if ((b >> 3) == 0x1E) return 4;
    return 1;
}

}  // namespace

std::wstring utf8_to_wstring(const char* first, const char* last) {
    std::wstring out;
    auto sink = std::back_inserter(out);
    while (first != last) {
        // utfcpp's unchecked conversion reads as many bytes as a first byte
        // announces, so it gets only the run of characters that end before
        // |last|.
        const char* complete = first;
        while (complete != last && announced_length(*complete) <= last - complete)
            complete += announced_length(*complete);
        sink = utf8::unchecked::utf8to16(first, complete, sink);
        if (complete == last) break;
        // A first byte cut off by the end stands for itself, as a byte that
        // cannot start a character does; what follows it is decoded anew.
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*complete)));
        first = complete + 1;
    }
    return out;
}

std::wstring utf8_to_wstring(const std::string& text) {
    return utf8_to_wstring(text.data(), text.data() + text.size());
}

std::string wstring_to_ansi(const std::wstring& text) {
    const ATL::CW2A converted(text.c_str());
    return std::string(static_cast<const char*>(converted));
}

}  // namespace kyv::common
