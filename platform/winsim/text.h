// UTF-16 units (one per wchar_t, as the model's wide strings hold them) to
// UTF-8 and back. Lone surrogates become U+FFFD on the way out.
#pragma once

#include <cctype>
#include <string>

namespace winsim {

// One code point as UTF-8 bytes.
void append_utf8(std::string& out, char32_t cp);
std::string to_utf8(const std::wstring& w);
std::string to_utf8(const wchar_t* w);
std::wstring from_utf8(const std::string& s);

// ASCII letters in lower case, the rest as it is: names Windows compares
// without regard to case.
inline std::string lower_ascii(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace winsim
