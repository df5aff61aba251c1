// The command line: split by CommandLineToArgvW, parsed by the program's
// options parse, handed on as the re-launch parameters. The elevated copy's
// command line is the program's path in quotes, a blank and those
// parameters; split again, it must give the copy the very arguments the
// first copy had, and the copy must therefore parse the same options.
#include "fuzz/support/fuzz_support.h"

#include "command_line.h"

#include "platform/win32.h"

#include <exception>
#include <string>
#include <vector>

namespace {

std::vector<std::wstring> Split(const std::wstring& line) {
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(line.c_str(), &argc);
    if (argv == nullptr || argc < 1) fuzz::Fail("CommandLineToArgvW gives at least the program", fuzz::Shown(line));
    std::vector<std::wstring> args(argv, argv + argc);
    ::LocalFree(argv);
    return args;
}

struct Parsed {
    bool threw = false;
    std::string error;
    bool silent = false, update = false, notray = false;
    bool hasCompany = false;
    std::string company;

    bool operator==(const Parsed& o) const {
        return threw == o.threw && error == o.error && silent == o.silent && update == o.update
               && notray == o.notray && hasCompany == o.hasCompany && company == o.company;
    }
};

Parsed Parse(const std::vector<std::wstring>& args) {
    std::vector<const wchar_t*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    Parsed p;
    sablewick::RunOptions options;
    try {
        options = sablewick::ParseCommandLine(static_cast<int>(args.size()), argv.data());
    } catch (const std::exception& e) {
        // Not the parser's own rejection (that one is swallowed): a value
        // the locale cannot hold. Both copies must meet it alike.
        p.threw = true;
        p.error = e.what();
        return p;
    }
    p.silent = options.silent;
    p.update = options.update;
    p.notray = options.notray;
    p.hasCompany = options.companyId.has_value();
    if (p.hasCompany) p.company = *options.companyId;
    return p;
}

std::string ShownArgs(const std::vector<std::wstring>& args) {
    std::string out;
    for (const auto& a : args) out += "  " + fuzz::Shown(a) + "\n";
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::InputScope scope;
    std::wstring line = fuzz::WideFromBytes(data, size);
    // The process's command line is a NUL-terminated text.
    line = line.substr(0, line.find(L'\0'));

    const std::vector<std::wstring> first = Split(line);
    const Parsed firstOptions = Parse(first);

    std::vector<const wchar_t*> argv;
    for (const auto& a : first) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    const std::wstring parameters =
        sablewick::BuildRelaunchParameters(static_cast<int>(first.size()), argv.data());

    const std::wstring& program = fuzz::TheMachine().kernel.module_path;
    const std::wstring elevatedLine = L"\"" + program + L"\" " + parameters;
    const std::vector<std::wstring> elevated = Split(elevatedLine);

    if (elevated.empty() || elevated[0] != program)
        fuzz::Fail("the elevated copy's first argument is the program", ShownArgs(elevated));
    if (!std::equal(first.begin() + 1, first.end(), elevated.begin() + 1, elevated.end()))
        fuzz::Fail("the elevated copy gets the first copy's arguments",
                   "command line " + fuzz::Shown(line) + "\nfirst copy:\n" + ShownArgs(first)
                       + "parameters " + fuzz::Shown(parameters) + "\nelevated copy:\n"
                       + ShownArgs(elevated));
    if (!(Parse(elevated) == firstOptions))
        fuzz::Fail("the elevated copy parses the same options", fuzz::Shown(line));

    fuzz::ExpectNothingHeld("splitting the command line");
    return 0;
}
