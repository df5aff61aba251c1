// The class library stand-in: ANSI conversion with its one retry, the
// exception it throws, and the registry key.
#include "support/machine_fixture.h"

#include "kyv/common/string_conversion.hpp"
#include "platform/atl/atl_lite.h"

#include <exception>
#include <string>

namespace {

using kyv::common::wstring_to_ansi;

class AtlLiteTest : public winsim::test::MachineTest {};

TEST_F(AtlLiteTest, ConvertsToTheAnsiCodePageUpToTheFirstNul) {
    EXPECT_EQ(wstring_to_ansi(L""), "");
    EXPECT_EQ(wstring_to_ansi(L"8d2c7a5e-1f3b-4c9d-a2e4-6b7f8091c3d5"),
              "8d2c7a5e-1f3b-4c9d-a2e4-6b7f8091c3d5");
    EXPECT_EQ(wstring_to_ansi(std::wstring(L"ab\0cd", 5)), "ab");
    // Windows-1252, with the platform's default character for the rest.
    EXPECT_EQ(wstring_to_ansi(L"\u20AC\u00E9\u4E2D"), "\x80\xE9?");
    // Longer than the inline buffer.
    EXPECT_EQ(wstring_to_ansi(std::wstring(300, L'g')), std::string(300, 'g'));

    const auto first = calls("WideCharToMultiByte")[0];
    EXPECT_EQ(first.args["CodePage"], CP_ACP);
    EXPECT_EQ(first.args["dwFlags"], 0);
    EXPECT_EQ(first.args["cchWideChar"], 1);
    EXPECT_EQ(first.args["cbMultiByte"], 4);
    EXPECT_EQ(first.args["lpDefaultChar"], nullptr);
}

TEST_F(AtlLiteTest, RetriesOnceIntoTheSizeWindowsAsksFor) {
    machine().faults.fail("WideCharToMultiByte", ERROR_INSUFFICIENT_BUFFER, 1);
    EXPECT_EQ(wstring_to_ansi(L"retry"), "retry");
    const auto tries = calls("WideCharToMultiByte");
    ASSERT_EQ(tries.size(), 3u);
    EXPECT_EQ(tries[1].args["cbMultiByte"], 0);
    EXPECT_EQ(tries[2].args["cbMultiByte"], tries[1].result);
}

TEST_F(AtlLiteTest, FailedConversionThrowsAStandardExceptionNamingTheHresult) {
    machine().faults.fail("WideCharToMultiByte", ERROR_NO_UNICODE_TRANSLATION);
    try {
        wstring_to_ansi(L"text");
        ADD_FAILURE() << "no exception";
    } catch (const std::exception& e) {
        const auto* atl = dynamic_cast<const ATL::CAtlException*>(&e);
        ASSERT_NE(atl, nullptr);
        EXPECT_EQ(static_cast<HRESULT>(*atl), HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
        EXPECT_STREQ(e.what(), "ATL conversion failed (HRESULT 0x80070459)");
    }
    // A failure that leaves no error behind still is one.
    machine().faults.clear();
    machine().faults.fail("WideCharToMultiByte", ERROR_SUCCESS);
    EXPECT_THROW(wstring_to_ansi(L"text"), ATL::CAtlException);
}

TEST_F(AtlLiteTest, RegistryKeyReadsAValueAndClosesItself) {
    machine().registry.set(L"SOFTWARE\\Microsoft\\Cryptography", L"MachineGuid",
                           winsim::RegistryValue::sz(L"8d2c7a5e"));
    {
        ATL::CRegKey key;
        ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography",
                           KEY_READ | KEY_WOW64_64KEY),
                  ERROR_SUCCESS);
        wchar_t data[40] = {};
        DWORD type = 0;
        ULONG bytes = sizeof data;
        ASSERT_EQ(key.QueryValue(L"MachineGuid", &type, data, &bytes), ERROR_SUCCESS);
        EXPECT_EQ(type, REG_SZ);
        EXPECT_EQ(std::wstring(data), L"8d2c7a5e");

        ATL::CRegKey missing;
        EXPECT_EQ(missing.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Nowhere", KEY_READ),
                  ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(static_cast<HKEY>(missing), nullptr);
    }
    EXPECT_EQ(calls("RegCloseKey").size(), 1u);
    expect_no_leaks();
}

}  // namespace
