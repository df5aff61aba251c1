#include "kyv/except/windows_category.hpp"

#include "kyv/common/scope_guard.hpp"
#include "kyv/win/unique_handle.hpp"

#include <boost/bind/bind.hpp>
#include <boost/format.hpp>
#include <boost/system/system_category.hpp>
#include <utf8.h>

#include <cstdint>
#include <iterator>
#include <string>

namespace kyv::except {

namespace detail {

namespace {

// Proves at compile time that the category can be built without running any
// code, so that it is usable from other static initialisers.
constexpr bool constant_initialisable() {
    windows_error_category probe;
    static_cast<void>(probe);
    return true;
}
static_assert(constant_initialisable(), "the windows category must be constant-initialised");

bool is_wininet_code(int code) {
    return static_cast<std::uint32_t>(code) - 12000u <= 192u;
}

// Loaded on first use and never again, whether or not the load succeeded.
HMODULE wininet_module() {
    static const kyv::win::unique_hmodule module(
        ::LoadLibraryExW(L"wininet.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE));
    return module.get();
}

}  // namespace

const char* windows_error_category::name() const noexcept { return "windows"; }

boost::system::error_condition windows_error_category::default_error_condition(
    int code) const noexcept {
    return boost::system::system_category().default_error_condition(code);
}

std::string windows_error_category::message(int code) const {
    return format_system_message(code, is_wininet_code(code) ? wininet_module() : nullptr);
}

}  // namespace detail

const boost::system::error_category& windows_category() {
    static const detail::windows_error_category instance;
    return instance;
}

std::string format_system_message(int code, HMODULE module) {
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS
                | FORMAT_MESSAGE_FROM_SYSTEM;
    if (module) flags |= FORMAT_MESSAGE_FROM_HMODULE;

    wchar_t* buffer = nullptr;
    // With FORMAT_MESSAGE_ALLOCATE_BUFFER the "buffer" argument is the place
    // where the call stores the address of the block it allocates.
    const DWORD stored = ::FormatMessageW(flags, module, static_cast<DWORD>(code),
                                          LANG_USER_DEFAULT, reinterpret_cast<LPWSTR>(&buffer),
                                          0, nullptr);
    if (stored == 0 || buffer == nullptr)
        return (boost::format("Unknown system error 0x%08X") % static_cast<std::uint32_t>(code))
            .str();

    const auto release = kyv::common::make_scope_guard(boost::bind(::LocalFree, buffer));

    const wchar_t* end = buffer + std::char_traits<wchar_t>::length(buffer);
    while (end != buffer && (end[-1] == L'\n' || end[-1] == L'\r')) --end;
    if (end != buffer && end[-1] == L'.') --end;

    return wstring_to_utf8(buffer, end);
}

namespace {

bool is_lead_surrogate(wchar_t unit) {
    const std::uint32_t u = static_cast<std::uint32_t>(unit) & 0xFFFFu;
    return u >= 0xD800u && u <= 0xDBFFu;
}

}  // namespace

std::string wstring_to_utf8(const wchar_t* first, const wchar_t* last) {
    std::string out;
    // utfcpp's unchecked conversion takes the unit after a lead surrogate
    // without looking at the end, so it gets only input whose lead
    // surrogates all have a unit after them.
    const wchar_t* complete = first;
    while (complete != last) {
        if (is_lead_surrogate(*complete)) {
            if (last - complete < 2) break;
            complete += 2;
        } else {
            ++complete;
        }
    }
    utf8::unchecked::utf16to8(first, complete, std::back_inserter(out));
    // A lead surrogate that ends the text stands for itself, as a lone trail
    // surrogate does.
    if (complete != last)
        utf8::unchecked::append(static_cast<std::uint32_t>(*complete) & 0xFFFFu,
                                std::back_inserter(out));
    return out;
}

std::string wstring_to_utf8(const std::wstring& text) {
    return wstring_to_utf8(text.data(), text.data() + text.size());
}

}  // namespace kyv::except
