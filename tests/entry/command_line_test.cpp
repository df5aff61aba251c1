// The options a command line gives the run, and the re-launch parameters
// that must give the elevated copy exactly the arguments of the first one.
#include "command_line.h"
#include "support/machine_fixture.h"

#include "kyv/win/unique_handle.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

struct Stored {
    bool silent = false;
    bool update = false;
    bool notray = false;
    std::optional<std::string> companyId;

    bool operator==(const Stored& o) const {
        return silent == o.silent && update == o.update && notray == o.notray && companyId == o.companyId;
    }
};

std::ostream& operator<<(std::ostream& os, const Stored& s) {
    return os << "{silent " << s.silent << ", update " << s.update << ", notray " << s.notray
              << ", company_id " << (s.companyId ? "\"" + *s.companyId + "\"" : std::string("none")) << "}";
}

Stored Parse(const std::vector<std::wstring>& args) {
    std::vector<const wchar_t*> argv{L"C:\\setup.exe"};
    for (const auto& a : args) argv.push_back(a.c_str());
    const sablewick::RunOptions o = sablewick::ParseCommandLine(static_cast<int>(argv.size()),
                                                                argv.data());
    return Stored{o.silent, o.update, o.notray, o.companyId};
}

struct ParseCase {
    const char* name;
    std::vector<std::wstring> args;
    Stored expected;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

const Stored kNothing{};

class CommandLineParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(CommandLineParse, StoresWhatTheRulesAllow) {
    EXPECT_EQ(Parse(GetParam().args), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Accepted, CommandLineParse,
    ::testing::Values(
        ParseCase{"none", {}, kNothing},
        ParseCase{"flags", {L"--silent", L"--update", L"--notray"}, {true, true, true, {}}},
        ParseCase{"prefixes", {L"--sil", L"--u", L"--n"}, {true, true, true, {}}},
        ParseCase{"value_next", {L"--company_id", L"X"}, {false, false, false, "X"}},
        ParseCase{"value_after_equals", {L"--company_id=X"}, {false, false, false, "X"}},
        ParseCase{"prefix_with_equals", {L"--c=X"}, {false, false, false, "X"}},
        ParseCase{"prefix_value_next", {L"--c", L"X"}, {false, false, false, "X"}},
        ParseCase{"value_that_looks_like_an_option", {L"--company_id", L"--silent"}, {false, false, false, "--silent"}},
        ParseCase{"empty_value_is_present", {L"--company_id", L""}, {false, false, false, ""}},
        ParseCase{"value_with_blank", {L"--company_id", L"A B"}, {false, false, false, "A B"}},
        ParseCase{"double_dash_ends_options", {L"--silent", L"--", L"--update"}, {true, false, false, {}}},
        ParseCase{"slash_and_bare_words_ignored", {L"/silent", L"silent", L"-", L"--notray"}, {false, false, true, {}}}),
    [](const auto& info) { return std::string(info.param.name); });

// A rejected command line stores nothing, not even the options before the
// argument at fault.
INSTANTIATE_TEST_SUITE_P(
    Rejected, CommandLineParse,
    ::testing::Values(
        ParseCase{"wrong_case", {L"--update", L"--Silent"}, kNothing},
        ParseCase{"unknown_name", {L"--update", L"--x"}, kNothing},
        ParseCase{"short_option", {L"--update", L"-s"}, kNothing},
        ParseCase{"single_dash_long_name", {L"--update", L"-silent"}, kNothing},
        ParseCase{"flag_with_value", {L"--update", L"--silent=1"}, kNothing},
        ParseCase{"empty_after_equals", {L"--update", L"--company_id="}, kNothing},
        ParseCase{"flag_empty_after_equals", {L"--update", L"--silent="}, kNothing},
        ParseCase{"value_missing_at_end", {L"--update", L"--company_id"}, kNothing}),
    [](const auto& info) { return std::string(info.param.name); });

// A repeated option stops the store there: what came before stays.
INSTANTIATE_TEST_SUITE_P(
    Repeated, CommandLineParse,
    ::testing::Values(
        ParseCase{"same_flag_twice", {L"--silent", L"--silent"}, {true, false, false, {}}},
        ParseCase{"later_options_lost", {L"--update", L"--silent", L"--update", L"--notray"}, {true, true, false, {}}},
        ParseCase{"as_prefix", {L"--s", L"--silent", L"--notray"}, {true, false, false, {}}},
        ParseCase{"first_value_kept", {L"--company_id", L"X", L"--company_id", L"Y"}, {false, false, false, "X"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLineParse, NonAsciiValueTheLocaleCannotHoldIsNotSwallowed) {
    // Not a parser error: the caller decides (wWinMain ends the run quietly).
    EXPECT_ANY_THROW(Parse({L"--company_id", L"caf\u20ac"}));
}

// ---------------------------------------------------------------- re-launch

struct RelaunchCase {
    const char* name;
    std::vector<std::wstring> args;
    std::wstring parameters;
};

void PrintTo(const RelaunchCase& c, std::ostream* os) { *os << c.name; }

class RelaunchParameters : public winsim::test::MachineTest,
                           public ::testing::WithParamInterface<RelaunchCase> {};

TEST_P(RelaunchParameters, ElevatedCopySplitsThemBackIntoTheSameArguments) {
    const auto& c = GetParam();
    std::vector<const wchar_t*> argv{L"C:\\setup.exe"};
    for (const auto& a : c.args) argv.push_back(a.c_str());

    const std::wstring parameters =
        sablewick::BuildRelaunchParameters(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(parameters, c.parameters);

    // The shell starts the copy with the quoted path, a blank and the text.
    const std::wstring line = L"\"C:\\setup.exe\" " + parameters;
    int count = 0;
    kyv::win::unique_hlocal block(::CommandLineToArgvW(line.c_str(), &count));
    ASSERT_TRUE(block);
    auto** split = static_cast<LPWSTR*>(block.get());
    std::vector<std::wstring> received(split + 1, split + count);
    EXPECT_EQ(received, c.args);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RelaunchParameters,
    ::testing::Values(
        RelaunchCase{"no_arguments", {}, L""},
        RelaunchCase{"plain_arguments_unchanged", {L"--silent", L"/silent", L"C:\\dir\\"}, LR"(--silent /silent C:\dir\ )"},
        RelaunchCase{"blank", {L"--company_id", L"A B"}, LR"(--company_id "A B" )"},
        RelaunchCase{"empty", {L"--update", L"--company_id", L""}, LR"(--update --company_id "" )"},
        RelaunchCase{"quote", {L"say \"hi\""}, LR"("say \"hi\"" )"},
        RelaunchCase{"lone_quote", {L"\""}, LR"("\"" )"},
        RelaunchCase{"trailing_backslash", {L"C:\\My Dir\\"}, LR"("C:\My Dir\\" )"},
        RelaunchCase{"backslashes_before_quote", {L"a\\\\\"b"}, LR"("a\\\\\"b" )"},
        RelaunchCase{"backslashes_not_before_quote", {L"a\\\\ b"}, LR"("a\\ b" )"},
        RelaunchCase{"tab_newline_vertical_tab", {L"a\tb", L"c\nd", L"e\vf"},
                     L"\"a\tb\" \"c\nd\" \"e\vf\" "}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
