// Conversions between the system's kinds of string.
#pragma once

#include <string>

namespace kyv::common {

// UTF-8 to UTF-16, without validation and without reading past the end. A
// byte that cannot start a character, and a first byte announcing more
// bytes than remain, becomes one unit of its own value; decoding goes on
// with the next byte.
std::wstring utf8_to_wstring(const std::string& text);
std::wstring utf8_to_wstring(const char* first, const char* last);

// UTF-16 to the ANSI code page, through the class library's CW2A; stops at
// the first NUL of |text|. Throws ATL::CAtlException when Windows cannot
// convert.
std::string wstring_to_ansi(const std::wstring& text);

}  // namespace kyv::common
