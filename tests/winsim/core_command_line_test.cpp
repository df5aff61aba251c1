// CommandLineToArgvW's splitting rules and the one-block result.
#include "support/machine_fixture.h"

#include "platform/winsim/api_support.h"

namespace {

using winsim::test::MachineTest;

std::vector<std::wstring> split(const wchar_t* line) {
    int n = -1;
    LPWSTR* argv = CommandLineToArgvW(line, &n);
    EXPECT_NE(argv, nullptr);
    std::vector<std::wstring> out;
    if (!argv) return out;
    for (int i = 0; i < n; ++i) out.push_back(argv[i]);
    EXPECT_EQ(argv[n], nullptr);
    EXPECT_EQ(LocalFree(argv), nullptr);
    return out;
}

struct Case {
    const wchar_t* line;
    std::vector<std::wstring> args;
};

class CommandLineSplit : public MachineTest {};

TEST_F(CommandLineSplit, FollowsWindowsRules) {
    const Case cases[] = {
        // the program name: to the next quote, backslashes literal
        {L"\"C:\\Program Files\\a.exe\" x", {L"C:\\Program Files\\a.exe", L"x"}},
        {L"\"C:\\dir\\\\\" x", {L"C:\\dir\\\\", L"x"}},
        {L"C:\\a.exe x", {L"C:\\a.exe", L"x"}},
        // an argument may start right after the program's closing quote
        {L"\"a.exe\"x y", {L"a.exe", L"x", L"y"}},
        // a leading blank makes the program name empty
        {L" x y", {L"", L"x", L"y"}},
        // blanks and tabs separate; runs of them count once
        {L"p  a\t\tb ", {L"p", L"a", L"b"}},
        // quotes group and vanish; an empty pair is an empty argument
        {L"p \"a b\" \"\"", {L"p", L"a b", L""}},
        {L"p a\"b c\"d", {L"p", L"ab cd"}},
        // backslashes are literal unless a quote follows
        {L"p a\\b\\\\c", {L"p", L"a\\b\\\\c"}},
        // 2n backslashes + quote: n backslashes, the quote groups
        {L"p a\\\\\"b c\"", {L"p", L"a\\b c"}},
        // 2n+1 backslashes + quote: n backslashes and a literal quote
        {L"p a\\\"b", {L"p", L"a\"b"}},
        {L"p a\\\\\\\"b", {L"p", L"a\\\"b"}},
        {L"p \"a\\\" b\"", {L"p", L"a\" b"}},
        // a doubled quote inside quotes: one literal quote, and the quoted part ends
        {L"p \"a\"\"b c\"", {L"p", L"a\"b", L"c"}},
        {L"p \"\"\"\"", {L"p", L"\""}},
        // the product's own options
        {L"\"C:\\setup.exe\" --silent --company_id=\"{0A1B}\"", {L"C:\\setup.exe", L"--silent", L"--company_id={0A1B}"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(winsim::to_utf8(c.line));
        EXPECT_EQ(split(c.line), c.args);
    }
    expect_no_leaks();
}

TEST_F(CommandLineSplit, EmptyLineNamesTheProgram) {
    EXPECT_EQ(split(L""), std::vector<std::wstring>{machine().kernel.module_path});
}

TEST_F(CommandLineSplit, QuotingRoundTrips) {
    // What the host entry builds from its arguments splits back unchanged.
    const std::vector<std::wstring> args = {L"plain", L"with blank", L"", L"q\"uote", L"tail\\", L"a\\\\\"b", L"\t"};
    std::wstring line = winsim::build_command_line(L"C:\\Program Files\\p.exe", args);
    auto got = split(line.c_str());
    ASSERT_EQ(got.size(), args.size() + 1);
    EXPECT_EQ(got[0], L"C:\\Program Files\\p.exe");
    EXPECT_EQ(std::vector<std::wstring>(got.begin() + 1, got.end()), args);
}

TEST_F(CommandLineSplit, ResultIsOneLocalAllocBlock) {
    int n = 0;
    LPWSTR* argv = CommandLineToArgvW(L"p a b", &n);
    ASSERT_EQ(n, 3);
    EXPECT_EQ(machine().memory.outstanding(winsim::Memory::Allocator::local), 1u);
    EXPECT_FALSE(winsim::test::NoLeaks(machine()));
    LocalFree(argv);
    expect_no_leaks();
}

TEST_F(CommandLineSplit, GetCommandLineReturnsTheMachinesLine) {
    machine().kernel.command_line = L"\"C:\\x.exe\" --update";
    EXPECT_STREQ(GetCommandLineW(), L"\"C:\\x.exe\" --update");
    EXPECT_EQ(GetCommandLineW(), GetCommandLineW());  // one buffer for the run
}

}  // namespace
