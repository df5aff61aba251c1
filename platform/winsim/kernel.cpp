#include "platform/winsim/kernel.h"

#include "platform/winsim/api_support.h"
#include "platform/winsim/machine.h"

#include <filesystem>
#include <system_error>

namespace winsim {

std::wstring quote_argument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
        } else if (c == L'"') {
            out.append(backslashes * 2 + 1, L'\\');
            out += L'"';
            backslashes = 0;
        } else {
            out.append(backslashes, L'\\');
            out += c;
            backslashes = 0;
        }
    }
    // Backslashes before the closing quote are doubled so they stay literal.
    out.append(backslashes * 2, L'\\');
    out += L'"';
    return out;
}

std::wstring build_command_line(const std::wstring& program, const std::vector<std::wstring>& args) {
    // The program name has no escapes: it ends at the next quote.
    std::wstring line = L"\"" + program + L"\"";
    for (const auto& a : args) line += L" " + quote_argument(a);
    return line;
}

void Kernel::load(const nlohmann::json& s, Machine& m) {
    std::string module;
    if (s.is_object() && s.contains("module_path") && !s["module_path"].is_null()) {
        module = m.sandbox.host_path(s["module_path"].get<std::string>()).string();
    } else {
        std::error_code ec;
        module = std::filesystem::read_symlink("/proc/self/exe", ec).string();
        if (ec) module = "/proc/self/exe";
    }
    module_path = from_utf8(module);

    // Without a current folder of its own the program has the one a program
    // started from the desktop gets, its own folder; when that is no folder
    // of the machine (the host executable), the system folder, which a
    // service or a deployment tool hands on.
    if (s.is_object() && s.contains("current_directory") && !s["current_directory"].is_null()) {
        current_directory = m.sandbox.host_path(s["current_directory"].get<std::string>()).string();
    } else {
        const std::filesystem::path module_folder = std::filesystem::path(module).parent_path();
        current_directory = m.sandbox.contains(module_folder)
                                ? module_folder.string()
                                : m.sandbox.host_path(m.folders.system_path()).string();
    }
    std::filesystem::create_directories(current_directory);

    if (s.is_object() && s.contains("command_line") && !s["command_line"].is_null()) {
        command_line = from_utf8(s["command_line"].get<std::string>());
    } else {
        std::vector<std::wstring> args;
        if (s.is_object() && s.contains("arguments"))
            for (const auto& a : s["arguments"]) args.push_back(from_utf8(a.get<std::string>()));
        command_line = build_command_line(module_path, args);
    }
    if (s.is_object()) {
        process_id = s.value("process_id", process_id);
        clock.set(s.value("tick_count", std::uint64_t{0}));
    }
}

void Kernel::leaks(std::vector<std::string>& out) const {
    for (const auto& [cs, st] : critical_sections)
        if (st.initialized) out.push_back("critical section not deleted");
    for (const auto& [thread, st] : com)
        if (st.count > 0)
            out.push_back("COM initialised " + std::to_string(st.count) + " time(s) more than uninitialised");
}

DWORD Kernel::last_error() const {
    std::lock_guard<std::mutex> lock(error_mutex_);
    auto it = last_error_.find(std::this_thread::get_id());
    return it == last_error_.end() ? 0 : it->second;
}

void Kernel::set_last_error(DWORD e) {
    std::lock_guard<std::mutex> lock(error_mutex_);
    last_error_[std::this_thread::get_id()] = e;
}

}  // namespace winsim
