// FormatMessageW: lookup in the system's and wininet.dll's tables, and the
// buffer it allocates.
#include "support/machine_fixture.h"

namespace {

using winsim::test::MachineTest;

const DWORD kFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;

// The text, or nothing when the call fails; frees what it allocated.
std::optional<std::wstring> message(DWORD flags, HMODULE module, DWORD code) {
    LPWSTR buf = nullptr;
    DWORD n = FormatMessageW(flags, module, code, LANG_USER_DEFAULT, reinterpret_cast<LPWSTR>(&buf), 0, nullptr);
    if (n == 0) {
        EXPECT_EQ(buf, nullptr);
        return std::nullopt;
    }
    std::wstring text(buf, n);
    EXPECT_EQ(buf[n], L'\0');
    EXPECT_EQ(LocalFree(buf), nullptr);
    return text;
}

class FormatMessage : public MachineTest {};

TEST_F(FormatMessage, SystemTextsAsWindowsStoresThem) {
    EXPECT_EQ(message(kFlags, nullptr, 5), L"Access is denied.\r\n");
    EXPECT_EQ(message(kFlags, nullptr, 1223), L"The operation was canceled by the user.\r\n");
    EXPECT_EQ(message(kFlags, nullptr, 0x80004005u), L"Unspecified error\r\n");
    // An HRESULT of the Win32 facility finds its code's text.
    EXPECT_EQ(message(kFlags, nullptr, 0x80070002u), L"The system cannot find the file specified.\r\n");
    // Inserts stay as they are.
    EXPECT_EQ(message(kFlags, nullptr, 193), L"%1 is not a valid Win32 application.\r\n");
    expect_no_leaks();
}

TEST_F(FormatMessage, UnknownCodeFailsWithoutAllocating) {
    EXPECT_EQ(message(kFlags, nullptr, 1234567), std::nullopt);
    EXPECT_EQ(machine().last_error(), 317u);  // ERROR_MR_MID_NOT_FOUND
    expect_no_leaks();
}

TEST_F(FormatMessage, WininetTableAfterLoadingItAsDataFile) {
    const DWORD both = kFlags | FORMAT_MESSAGE_FROM_HMODULE;
    EXPECT_EQ(message(kFlags, nullptr, 12002), std::nullopt);  // not in the system's table
    HMODULE wininet = LoadLibraryExW(L"wininet.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(wininet, nullptr);
    EXPECT_EQ(message(both, wininet, 12002), L"The operation timed out\r\n");
    // The module first, then the system.
    EXPECT_EQ(message(both, wininet, 5), L"Access is denied.\r\n");
    EXPECT_TRUE(FreeLibrary(wininet));
    expect_no_leaks();
}

TEST_F(FormatMessage, WininetMissing) {
    machine().modules.wininet_loadable = false;
    EXPECT_EQ(LoadLibraryExW(L"wininet.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
    EXPECT_EQ(machine().last_error(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST_F(FormatMessage, TablesAreSetCodeByCode) {
    machine().messages.system[5] = L"Zugriff verweigert..\r\n";
    machine().messages.system.erase(2);
    EXPECT_EQ(message(kFlags, nullptr, 5), L"Zugriff verweigert..\r\n");
    EXPECT_EQ(message(kFlags, nullptr, 2), std::nullopt);
}

TEST_F(FormatMessage, CallersBuffer) {
    wchar_t small[8];
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 5, 0, small, 8,
                             nullptr),
              0u);
    EXPECT_EQ(machine().last_error(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    wchar_t big[64];
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 5, 0, big, 64,
                             nullptr),
              19u);
    EXPECT_STREQ(big, L"Access is denied.\r\n");
    // Another language than the tables' fails.
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0x0407, big, 64, nullptr), 0u);
}

}  // namespace
