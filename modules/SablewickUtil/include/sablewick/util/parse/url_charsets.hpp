// Character sets of URL syntax: the delimiters that end each part of a URL,
// and the characters that are never left unescaped.
#pragma once

#include <string>

namespace sablewick::util::parse {

extern const std::string url_charset_1;  // "?#"
extern const std::string url_charset_2;  // "?#/:;+@"
extern const std::string url_charset_3;  // "?#/:;+@&="
extern const std::string url_charset_4;  // empty
extern const std::string url_charset_5;  // %<>{}|\"^`!*'()$,[]
extern const std::string url_charset_6;  // empty

}  // namespace sablewick::util::parse
