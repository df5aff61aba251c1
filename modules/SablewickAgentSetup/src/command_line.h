// The program's command line: its four options, parsed into the options of
// one run, and the parameters that hand the same arguments to an elevated
// copy.
#pragma once

#include <optional>
#include <string>

namespace sablewick {

// What one run was asked to do.
struct RunOptions {
    bool silent = false;
    bool update = false;
    bool notray = false;
    // The "company_id" text as given; present but empty for an empty value.
    std::optional<std::string> companyId;
};

// Parses argv[1..argc) for "--silent", "--update", "--notray" and
// "--company_id" with the options library's default style. A command line
// that the parser rejects gives no options; an option given twice stops the
// parse at its second occurrence, keeping what came before. Neither is
// reported. Arguments that are no options are ignored. Errors that are not
// the parser's own (a value the locale cannot convert) propagate.
RunOptions ParseCommandLine(int argc, const wchar_t* const argv[]);

// |argument| as CommandLineToArgvW gives it back: unchanged unless it is
// empty or holds a blank, tab, newline, vertical tab or double quote, else
// in double quotes with the backslashes before a quote doubled.
std::wstring QuoteArgument(const std::wstring& argument);

// argv[1..argc), each one quoted as needed and followed by one blank; the
// program's path (argv[0]) is not passed on.
std::wstring BuildRelaunchParameters(int argc, const wchar_t* const argv[]);

}  // namespace sablewick
