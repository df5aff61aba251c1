// The program's command line: its four options, the parse into the options
// map, and the parameters that hand the same arguments to an elevated copy.
#pragma once

#include <boost/program_options/options_description.hpp>
#include <boost/program_options/variables_map.hpp>

#include <string>

namespace sablewick {

// "silent", "update", "notray" and "company_id" under "Allowed options".
boost::program_options::options_description MakeOptionsDescription();

// Parses argv[1..argc) with the library's default style and stores the result
// in |options|. A command line that the parser rejects stores nothing; an
// option given twice stops the store at its second occurrence, keeping what
// came before. Neither is reported. Errors that are not the parser's own (a
// value the locale cannot convert) propagate.
void ParseCommandLine(int argc, const wchar_t* const argv[],
                      const boost::program_options::options_description& description,
                      boost::program_options::variables_map& options);

// |argument| as CommandLineToArgvW gives it back: unchanged unless it is
// empty or holds a blank, tab, newline, vertical tab or double quote, else
// in double quotes with the backslashes before a quote doubled.
std::wstring QuoteArgument(const std::wstring& argument);

// argv[1..argc), each one quoted as needed and followed by one blank; the
// program's path (argv[0]) is not passed on.
std::wstring BuildRelaunchParameters(int argc, const wchar_t* const argv[]);

}  // namespace sablewick
