#include "command_line.h"

#include <boost/program_options/errors.hpp>
#include <boost/program_options/options_description.hpp>
#include <boost/program_options/parsers.hpp>
#include <boost/program_options/variables_map.hpp>

namespace po = boost::program_options;

namespace sablewick {

namespace {

po::options_description MakeOptionsDescription() {
    po::options_description description("Allowed options");
    description.add_options()
        ("silent", "Provides silent installation.")
        ("update", "Is bootstrapper running in the update mode.")
        ("notray", "Is bootstrapper running when user is logged off.")
        ("company_id", po::value<std::string>(), "Company ID");
    return description;
}

}  // namespace

RunOptions ParseCommandLine(int argc, const wchar_t* const argv[]) {
    const po::options_description description = MakeOptionsDescription();
    po::variables_map stored;
    try {
        po::store(po::parse_command_line(argc, argv, description, 0), stored);
    } catch (const po::error&) {
        // A bad command line runs as one without options (or with those
        // stored before a repeated one); the user is not told.
    }

    RunOptions options;
    options.silent = stored.count("silent") != 0;
    options.update = stored.count("update") != 0;
    options.notray = stored.count("notray") != 0;
    if (stored.count("company_id") != 0) options.companyId = stored["company_id"].as<std::string>();
    return options;
}

std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;

    std::wstring quoted(1, L'"');
    std::wstring::size_type backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"')
            quoted.append(2 * backslashes + 1, L'\\');
        else
            quoted.append(backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    // Backslashes before the closing quote would escape it unless doubled.
    quoted.append(2 * backslashes, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

std::wstring BuildRelaunchParameters(int argc, const wchar_t* const argv[]) {
    std::wstring parameters;
    for (int i = 1; i < argc; ++i) {
        parameters += QuoteArgument(argv[i]);
        parameters += L' ';
    }
    return parameters;
}

}  // namespace sablewick
