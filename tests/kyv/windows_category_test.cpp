// The "windows" category's texts, read from the simulated message tables.
#include "failing_allocator.h"
#include "support/machine_fixture.h"

#include "kyv/except/windows_category.hpp"

#include <boost/system/error_code.hpp>
#include <boost/system/system_category.hpp>
#include <boost/system/system_error.hpp>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

using kyv::except::format_system_message;
using kyv::except::windows_category;
using winsim::Memory;

class WindowsCategoryTest : public winsim::test::MachineTest {
protected:
    std::size_t local_blocks() { return machine().memory.outstanding(Memory::Allocator::local); }
};

TEST_F(WindowsCategoryTest, IsOneNamedInstanceComparedByAddress) {
    EXPECT_STREQ(windows_category().name(), "windows");
    EXPECT_EQ(&windows_category(), &windows_category());
    const boost::system::error_code ours(5, windows_category());
    const boost::system::error_code system(5, boost::system::system_category());
    EXPECT_NE(ours, system);
}

TEST_F(WindowsCategoryTest, TrimsLineBreaksAndOneFinalPeriod) {
    struct Case {
        const wchar_t* stored;
        const char* text;
    };
    const Case cases[] = {
        {L"Access is denied.\r\n", "Access is denied"},
        {L"Two periods..\r\n", "Two periods."},
        {L"Break then period\r\n.", "Break then period\r\n"},
        {L"Every mix\n\r\n\r", "Every mix"},
        {L"No period", "No period"},
        {L".\r\n", ""},
        {L"\r\n.", "\r\n"},
        {L"Inserts %1 stay.\r\n", "Inserts %1 stay"},
        {L"Zugriff verweigert: \u00FC \u20AC.\r\n", "Zugriff verweigert: \xC3\xBC \xE2\x82\xAC"},
    };
    const int code = 70001;
    for (const auto& c : cases) {
        machine().messages.system[code] = c.stored;
        EXPECT_EQ(format_system_message(code, nullptr), c.text) << winsim::to_utf8(c.stored);
        EXPECT_EQ(local_blocks(), 0u);
    }
    // A text that trims to nothing still carries the code.
    machine().messages.system[code] = L".\r\n";
    EXPECT_STREQ(boost::system::system_error(code, windows_category()).what(), " [windows:70001]");
    expect_no_leaks();
}

TEST_F(WindowsCategoryTest, CodeWithoutTextGetsTheFallbackAndFreesNothing) {
    machine().messages.system.erase(static_cast<DWORD>(E_FAIL));
    EXPECT_EQ(windows_category().message(1234567), "Unknown system error 0x0012D687");
    EXPECT_EQ(windows_category().message(E_FAIL), "Unknown system error 0x80004005");
    EXPECT_EQ(calls("LocalFree").size(), 0u);
    expect_no_leaks();
}

TEST_F(WindowsCategoryTest, AsksForTheWholeCodeInTheUserLanguage) {
    const std::string text = windows_category().message(E_FAIL);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find("Unknown system error"), std::string::npos) << text;
    const auto format = calls("FormatMessageW");
    ASSERT_EQ(format.size(), 1u);
    EXPECT_EQ(format[0].args["dwFlags"], 0x1300);
    EXPECT_EQ(format[0].args["lpSource"], nullptr);
    EXPECT_EQ(format[0].args["dwMessageId"], 0x80004005u);
    EXPECT_EQ(format[0].args["dwLanguageId"], 0x0400);
    EXPECT_EQ(calls("LocalFree").size(), 1u);
    expect_no_leaks();
}

TEST_F(WindowsCategoryTest, FreesTheTextWhenTheConversionRunsOutOfMemory) {
    // Big enough that converting it needs a block the guard never does.
    machine().messages.system[70002] = std::wstring(100000, L'x') + L".\r\n";
    machine().log.on_record = [](const winsim::CallRecord& r) {
        if (r.call == "FormatMessageW") kyv_test::fail_allocations_from(64 * 1024);
    };
    EXPECT_THROW(format_system_message(70002, nullptr), std::bad_alloc);
    kyv_test::stop_failing_allocations();
    machine().log.on_record = nullptr;

    EXPECT_EQ(calls("LocalFree").size(), 1u);
    EXPECT_EQ(local_blocks(), 0u);
    expect_no_leaks();
}

// The WinINet module is a process-wide static made by the first lookup of a
// WinINet code, so these tests run their body in a fresh copy of this
// program where no lookup has happened yet. The body returns what went
// wrong, or nothing.
void expect_in_fresh_process(const std::function<std::string()>& body) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const std::string failures = body();
            std::fputs(failures.c_str(), stderr);
            std::fflush(stderr);
            std::_Exit(failures.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

void check(std::string& failures, bool ok, const std::string& what) {
    if (!ok) failures += what + "\n";
}

TEST_F(WindowsCategoryTest, WinInetCodesAreLookedUpInWinInetFirst) {
    expect_in_fresh_process([this] {
        auto& m = machine();
        m.messages.wininet[12000] = L"First WinINet code.\r\n";
        m.messages.wininet[12192] = L"Last WinINet code.\r\n";
        for (DWORD outside : {11999u, 12193u, static_cast<DWORD>(E_FAIL)}) {
            m.messages.wininet[outside] = L"Not for this code.\r\n";
            m.messages.system[outside] = L"System text.\r\n";
        }
        m.messages.wininet.erase(12157);
        m.messages.system[12157] = L"Only the system has it.\r\n";

        std::string failures;
        const auto& cat = windows_category();
        check(failures, cat.message(12000) == "First WinINet code", "12000: " + cat.message(12000));
        check(failures, cat.message(12192) == "Last WinINet code", "12192: " + cat.message(12192));
        check(failures, cat.message(12157) == "Only the system has it", "12157");
        for (int outside : {11999, 12193, static_cast<int>(E_FAIL)})
            check(failures, cat.message(outside) == "System text",
                  std::to_string(outside) + ": " + cat.message(outside));

        const auto loads = m.log.named("LoadLibraryExW");
        check(failures, loads.size() == 1, "wininet.dll loaded once");
        if (!loads.empty()) {
            check(failures, loads[0].args["lpLibFileName"] == "wininet.dll", "file name");
            check(failures, loads[0].args["hFile"].is_null(), "no file handle");
            check(failures, loads[0].args["dwFlags"] == LOAD_LIBRARY_AS_DATAFILE, "as a data file");
        }
        for (const auto& f : m.log.named("FormatMessageW")) {
            const DWORD id = f.args["dwMessageId"];
            const bool wininet = id == 12000 || id == 12192 || id == 12157;
            check(failures, f.args["dwFlags"] == (wininet ? 0x1B00 : 0x1300),
                  "flags for " + std::to_string(id));
            check(failures, f.args["lpSource"].is_null() != wininet, "module for " + std::to_string(id));
        }
        check(failures, m.memory.outstanding(Memory::Allocator::local) == 0, "message blocks freed");
        return failures;
    });
}

TEST_F(WindowsCategoryTest, FailedWinInetLoadFallsBackToTheSystemAndIsNeverRetried) {
    expect_in_fresh_process([this] {
        auto& m = machine();
        m.modules.wininet_loadable = false;
        m.messages.wininet[12029] = L"Unreachable.\r\n";
        m.messages.system[12029] = L"The system's own text.\r\n";
        m.messages.wininet[12002] = L"Unreachable.\r\n";
        m.messages.system.erase(12002);

        std::string failures;
        const auto& cat = windows_category();
        for (int round = 0; round < 2; ++round) {
            check(failures, cat.message(12029) == "The system's own text", "12029: " + cat.message(12029));
            check(failures, cat.message(12002) == "Unknown system error 0x00002EE2",
                  "12002: " + cat.message(12002));
        }
        check(failures, m.log.count("LoadLibraryExW") == 1, "one load attempt");
        for (const auto& f : m.log.named("FormatMessageW"))
            check(failures, f.args["dwFlags"] == 0x1300 && f.args["lpSource"].is_null(),
                  "no module after a failed load");
        return failures;
    });
}

}  // namespace
