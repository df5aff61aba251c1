// The "windows" error category: Win32, HRESULT and WinINet codes with the
// texts of the system's message tables.
#pragma once

#include "platform/win32.h"

#include <boost/system/error_category.hpp>
#include <boost/system/error_condition.hpp>

#include <string>

namespace kyv::except {

namespace detail {

// Carries Boost's category id 0, so an error code belongs to it only when it
// refers to the one instance that windows_category() returns.
class windows_error_category : public boost::system::error_category {
public:
    constexpr windows_error_category() noexcept : boost::system::error_category() {}

    const char* name() const noexcept override;
    // Whatever Boost's system category maps the same value to.
    boost::system::error_condition default_error_condition(int code) const noexcept override;
    // The UTF-8 text of |code|; WinINet's codes (12000 to 12192) are looked up
    // in wininet.dll's table first. Never throws but std::bad_alloc.
    std::string message(int code) const override;
    using boost::system::error_category::message;
};

}  // namespace detail

// The one instance of the category, valid before any code runs.
const boost::system::error_category& windows_category();

// The UTF-8 text of |code| from the system's message table, looked up first
// in |module|'s table when it is not null; trailing line breaks and one final
// period removed; "Unknown system error 0x%08X" when there is no text.
std::string format_system_message(int code, HMODULE module);

// UTF-16 to UTF-8, without validation and without reading past the end: a
// lead surrogate takes the unit after it whatever that is, every other unit
// is a code point of its own, and so is a lead surrogate that ends the text.
std::string wstring_to_utf8(const std::wstring& text);
std::string wstring_to_utf8(const wchar_t* first, const wchar_t* last);

}  // namespace kyv::except
