// The HTTP methods the parse code knows, by their lower-case symbols.
#pragma once

#include <boost/spirit/include/qi_symbols.hpp>

namespace sablewick::util::parse {

enum class HttpMethod { Get = 0, Options = 1, Post = 2, Put = 3, Delete = 4 };

class HttpMethodSymbols : public boost::spirit::qi::symbols<char, HttpMethod> {
public:
    HttpMethodSymbols();
};

// Built before wWinMain runs, destroyed at exit; nothing reads it.
extern const HttpMethodSymbols http_method_symbols;

}  // namespace sablewick::util::parse
