// UTF-8 and UTF-16 conversions without validation, and the ANSI conversion
// through the class library stand-in.
#include "support/machine_fixture.h"

#include "kyv/common/string_conversion.hpp"
#include "kyv/common/string_resource.hpp"
#include "kyv/except/windows_category.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

namespace {

using kyv::common::utf8_to_wstring;
using kyv::except::wstring_to_utf8;

std::wstring units(std::initializer_list<unsigned> list) {
    std::wstring out;
    for (unsigned u : list) out.push_back(static_cast<wchar_t>(u));
    return out;
}

// The input copied into a block of exactly its size, so that AddressSanitizer
// sees any read past its end.
template <typename Char>
std::unique_ptr<Char[]> exact_copy(const std::basic_string<Char>& s) {
    std::unique_ptr<Char[]> block(new Char[s.size()]);
    std::copy(s.begin(), s.end(), block.get());
    return block;
}

struct Utf8Case {
    std::string in;
    std::wstring out;
};

TEST(Utf8ToWstringTest, DecodesWithoutValidatingOrReadingPastTheEnd) {
    const Utf8Case cases[] = {
        {"", L""},
        {"GUID {8d2c}", L"GUID {8d2c}"},
        {"\xC3\xA9\xE2\x82\xAC", units({0xE9, 0x20AC})},
        {"\xF0\x9F\x98\x80", units({0xD83D, 0xDE00})},
        {std::string("a\0b", 3), units({'a', 0, 'b'})},
        // Bytes that cannot start a character stand for themselves.
        {"\x80", units({0x80})},
        {"\xBF\xF8\xFF", units({0xBF, 0xF8, 0xFF})},
        // Neither continuation bytes nor overlong forms are checked.
        {"\xC3" "A", units({0xC1})},
        {"\xC0\x80", units({0})},
        // A first byte cut off by the end stands for itself, and what follows
        // it is decoded anew.
        {"\xC3", units({0xC3})},
        {"a\xE2\x82", units({'a', 0xE2, 0x82})},
        {"\xF0\x9F\x98", units({0xF0, 0x9F, 0x98})},
        {"\xE2" "A", units({0xE2, 'A'})},
        {"\xF0\xC3\xA9", units({0xF0, 0xE9})},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8_to_wstring(c.in), c.out) << ::testing::PrintToString(c.in);
        const auto block = exact_copy(c.in);
        EXPECT_EQ(utf8_to_wstring(block.get(), block.get() + c.in.size()), c.out)
            << ::testing::PrintToString(c.in);
    }
}

struct Utf16Case {
    std::wstring in;
    std::string out;
};

TEST(WstringToUtf8Test, EncodesWithoutValidatingOrReadingPastTheEnd) {
    const Utf16Case cases[] = {
        {L"", ""},
        {L"Access is denied", "Access is denied"},
        {units({0xE9, 0x20AC}), "\xC3\xA9\xE2\x82\xAC"},
        {units({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80"},
        {units({'a', 0, 'b'}), std::string("a\0b", 3)},
        // Lone surrogates are code points of their own, a lead surrogate
        // that ends the text too.
        {units({0xDC00}), "\xED\xB0\x80"},
        {units({'a', 0xD800}), "a\xED\xA0\x80"},
        {units({0xD800, 0xDC00, 0xDBFF}), "\xF0\x90\x80\x80\xED\xAF\xBF"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(wstring_to_utf8(c.in), c.out) << ::testing::PrintToString(c.in);
        const auto block = exact_copy(c.in);
        EXPECT_EQ(wstring_to_utf8(block.get(), block.get() + c.in.size()), c.out)
            << ::testing::PrintToString(c.in);
    }
}

class StringResourceTest : public winsim::test::MachineTest {};

TEST_F(StringResourceTest, LoadsTheProgramsOwnTextOrNothing) {
    EXPECT_EQ(kyv::common::load_string_resource(106), L"SablewickAgentSetup");
    const auto load = calls("LoadStringW");
    ASSERT_EQ(load.size(), 1u);
    // A zero size asks for the resource's own text instead of a copy.
    EXPECT_EQ(load[0].args["cchBufferMax"], 0);

    EXPECT_EQ(kyv::common::load_string_resource(4711), L"");
    machine().modules.set_string(300, L"");
    EXPECT_EQ(kyv::common::load_string_resource(300), L"");
    expect_no_leaks();
}

}  // namespace
