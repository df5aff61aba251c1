// shell32: CommandLineToArgvW with Windows' splitting rules.
#include "platform/winsim/api_support.h"

#include <cstring>
#include <string>
#include <vector>

using winsim::ApiCall;
using winsim::arg;
using winsim::arg_ptr;

namespace {
bool blank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::vector<std::wstring> split(const std::wstring& line) {
    std::vector<std::wstring> args;
    std::size_t i = 0;
    const std::size_t n = line.size();

    // The program name has a rule of its own: in quotes it runs to the next
    // quote, backslashes and all; otherwise to the first blank. A line that
    // begins with a blank thus has an empty program name.
    std::wstring program;
    if (i < n && line[i] == L'"') {
        ++i;
        while (i < n && line[i] != L'"') program += line[i++];
        if (i < n) ++i;  // the next argument may start right after the quote
    } else {
        while (i < n && !blank(line[i])) program += line[i++];
    }
    args.push_back(program);

    while (true) {
        while (i < n && blank(line[i])) ++i;
        if (i >= n) break;
        std::wstring a;
        bool quoted = false;
        while (i < n && (quoted || !blank(line[i]))) {
            if (line[i] == L'\\') {
                std::size_t run = 0;
                while (i < n && line[i] == L'\\') ++run, ++i;
                if (i < n && line[i] == L'"') {
                    // 2n backslashes: n of them and a quote that counts;
                    // 2n+1: n of them and a literal quote.
                    a.append(run / 2, L'\\');
                    if (run % 2) {
                        a += L'"';
                        ++i;
                    }
                } else {
                    a.append(run, L'\\');
                }
                continue;
            }
            if (line[i] == L'"') {
                ++i;
                if (!quoted) {
                    quoted = true;
                } else if (i < n && line[i] == L'"') {
                    // A doubled quote inside quotes is one literal quote and
                    // ends the quoted part.
                    a += L'"';
                    ++i;
                    quoted = false;
                } else {
                    quoted = false;
                }
                continue;
            }
            a += line[i++];
        }
        args.push_back(a);
    }
    return args;
}
}  // namespace

extern "C" LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR lpCmdLine, int* pNumArgs) {
    ApiCall call("CommandLineToArgvW", {{"lpCmdLine", arg(lpCmdLine)}});
    if (call.fault) return call.fail(static_cast<LPWSTR*>(nullptr));
    if (!pNumArgs) return call.fail(static_cast<LPWSTR*>(nullptr), ERROR_INVALID_PARAMETER);
    auto& m = call.m;
    std::vector<std::wstring> args;
    if (!lpCmdLine || !*lpCmdLine)
        args.push_back(m.kernel.module_path);  // an empty line names the program
    else
        args = split(lpCmdLine);

    // One LocalAlloc block, so that one LocalFree releases it: the pointer
    // array (with a null after the last) and then the strings.
    std::size_t bytes = (args.size() + 1) * sizeof(LPWSTR);
    for (const auto& a : args) bytes += (a.size() + 1) * sizeof(wchar_t);
    auto* block = static_cast<unsigned char*>(
        m.memory.allocate(winsim::Memory::Allocator::local, bytes, true, "CommandLineToArgvW"));
    if (!block) return call.fail(static_cast<LPWSTR*>(nullptr), ERROR_NOT_ENOUGH_MEMORY);
    auto** argv = reinterpret_cast<LPWSTR*>(block);
    auto* text = reinterpret_cast<wchar_t*>(block + (args.size() + 1) * sizeof(LPWSTR));
    nlohmann::json shown = nlohmann::json::array();
    for (std::size_t k = 0; k < args.size(); ++k) {
        argv[k] = text;
        std::copy(args[k].begin(), args[k].end(), text);
        text += args[k].size();
        *text++ = L'\0';
        shown.push_back(winsim::to_utf8(args[k]));
    }
    argv[args.size()] = nullptr;
    *pNumArgs = static_cast<int>(args.size());
    call.args["pNumArgs"] = *pNumArgs;
    call.args["argv"] = shown;
    return call.done(argv);
}
