// The parse code's static tables. They live in one translation unit so that
// they are built in the order written here and destroyed in reverse.
#include "sablewick/util/parse/http_method.hpp"
#include "sablewick/util/parse/object_registry.hpp"
#include "sablewick/util/parse/url_charsets.hpp"

namespace sablewick::util::parse {

HttpMethodSymbols::HttpMethodSymbols() {
    add("get", HttpMethod::Get)("post", HttpMethod::Post)("put", HttpMethod::Put)(
        "options", HttpMethod::Options)("delete", HttpMethod::Delete);
}

const HttpMethodSymbols http_method_symbols;

const std::string url_charset_1 = "?#";
const std::string url_charset_2 = "?#/:;+@";
const std::string url_charset_3 = "?#/:;+@&=";
const std::string url_charset_4;
const std::string url_charset_5 = "%<>{}|\\\"^`!*'()$,[]";
const std::string url_charset_6;

ObjectRegistry object_registry;

}  // namespace sablewick::util::parse
