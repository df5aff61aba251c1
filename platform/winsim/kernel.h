// Process basics of the one simulated process: its command line, module
// path, id, the virtual clock, per-thread last-error values, critical
// sections and the COM apartment count.
#pragma once

#include "platform/win32.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace winsim {

class Machine;

// One argument quoted so that CommandLineToArgvW gives it back unchanged:
// bare when it has no blank, tab or quote, else in quotes with backslashes
// doubled before a quote and quotes escaped.
std::wstring quote_argument(const std::wstring& arg);
// The program path in quotes, then each argument quoted by the rule above.
std::wstring build_command_line(const std::wstring& program, const std::vector<std::wstring>& args);

// Milliseconds since the machine started. Nothing advances it but the model:
// Sleep, wait time-outs and scripted durations, so a 30-minute wait costs no
// real time.
class VirtualClock {
public:
    std::uint64_t now() const { return now_; }
    DWORD tick_count() const { return static_cast<DWORD>(now_); }  // wraps as GetTickCount does
    void advance(std::uint64_t ms) { now_ += ms; }
    void set(std::uint64_t ms) { now_ = ms; }

private:
    std::uint64_t now_ = 0;
};

struct Kernel {
    // GetCommandLineW's text (UTF-16 units). Empty in a profile means the
    // quoted module path alone.
    std::wstring command_line;
    // GetModuleFileNameW(nullptr)'s text: the program's path as a host path.
    std::wstring module_path;
    // The process's current folder, as a host path. Relative paths resolve
    // against it on Windows, so the host process's working folder is this
    // folder while the machine is current (set from the profile; a test
    // that wants another one builds its machine with it).
    std::string current_directory;
    DWORD process_id = 4242;

    VirtualClock clock;

    struct CriticalSectionState {
        bool initialized = true;
        int entered = 0;
    };
    std::map<const void*, CriticalSectionState> critical_sections;

    // CoInitializeEx/CoUninitialize balance per thread, with the apartment
    // kind of the first successful call.
    struct ComState {
        int count = 0;
        DWORD mode = 0;
    };
    std::map<std::thread::id, ComState> com;

    std::vector<std::string> problems;  // misuse: unbalanced CoUninitialize, ...

    // Profile section "process": {"module_path": "C:\\...", "command_line":
    // "...", or "arguments": ["--silent"], "current_directory": "C:\\...",
    // "process_id": 4242, "tick_count": 5000000}
    void load(const nlohmann::json& section, Machine& m);
    void leaks(std::vector<std::string>& out) const;

    DWORD last_error() const;
    void set_last_error(DWORD e);

private:
    mutable std::mutex error_mutex_;
    std::map<std::thread::id, DWORD> last_error_;

public:
    // The terminated text GetCommandLineW hands out; it stays valid until
    // command_line changes.
    std::vector<wchar_t> command_line_buffer;
};

}  // namespace winsim
