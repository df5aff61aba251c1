// The host program's entry: builds the simulated machine, runs the product's
// wWinMain on it, writes the trace and tells what happened.
//
//   WINSIM_PROFILE  the machine's JSON profile (default: the built-in one)
//   WINSIM_ROOT     the sandbox folder (default: a new folder under the
//                   temporary folder, printed at the end)
//   WINSIM_TRACE    where the call log goes, one JSON object per line
//
// The program's own arguments become the simulated command line, after the
// quoted program path. Only this file reads the variables above.
#include "platform/win32.h"
#include "platform/winsim/api_support.h"
#include "platform/winsim/machine.h"

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

struct FileState {
    std::uintmax_t size;
    fs::file_time_type mtime;
};

std::map<fs::path, FileState> snapshot(const fs::path& root) {
    winsim::ModelFileAccess host_entry;  // not the product's file work
    std::map<fs::path, FileState> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code e2;
        if (it->is_regular_file(e2)) files[it->path()] = {it->file_size(e2), it->last_write_time(e2)};
    }
    return files;
}

// What WinMain receives: the command line without the program name and
// the blanks after it, as the C runtime cuts it.
std::wstring command_tail(const std::wstring& line) {
    std::size_t i = 0;
    if (i < line.size() && line[i] == L'"') {
        i = line.find(L'"', 1);
        i = i == std::wstring::npos ? line.size() : i + 1;
    } else {
        while (i < line.size() && line[i] != L' ' && line[i] != L'\t') ++i;
    }
    while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
    return line.substr(i);
}

std::string text(const nlohmann::json& j) { return j.is_string() ? j.get<std::string>() : j.dump(); }

void summary(winsim::Machine& m, const std::map<fs::path, FileState>& before, int rc) {
    std::ostream& out = std::cout;
    out << "\n=== simulated run ===\n";
    out << "message boxes: " << m.ui.message_boxes.size() << "\n";
    for (const auto& b : m.ui.message_boxes)
        out << "  " << (b.owner == "shell" ? "shell error dialog " : "") << "[" << b.caption_utf8()
            << "] " << b.text_utf8() << "\n";

    out << "processes started:\n";
    for (const auto& c : m.log.calls()) {
        if (c.call == "ShellExecuteExW") {
            const auto& info = c.args.contains("pExecInfo") ? c.args["pExecInfo"] : c.args;
            out << "  ShellExecuteExW " << text(info.value("lpVerb", nlohmann::json())) << " "
                << text(info.value("lpFile", nlohmann::json())) << " "
                << text(info.value("lpParameters", nlohmann::json())) << " -> " << text(c.result)
                << (c.result == 0 ? " (error " + std::to_string(c.lastError) + ")" : "") << "\n";
        } else if (c.call == "CreateProcessAsUserW") {
            out << "  CreateProcessAsUserW " << text(c.args.value("lpCommandLine", nlohmann::json())) << " -> "
                << text(c.result) << (c.result == 0 ? " (error " + std::to_string(c.lastError) + ")" : "") << "\n";
        }
    }

    out << "files written in the sandbox:\n";
    auto after = snapshot(m.sandbox.root());
    for (const auto& [p, st] : after) {
        auto it = before.find(p);
        if (it == before.end() || it->second.size != st.size || it->second.mtime != st.mtime)
            out << "  " << m.sandbox.windows_path(p) << " (" << st.size << " bytes)\n";
    }
    for (const auto& [p, st] : before)
        if (!after.count(p)) out << "  removed: " << m.sandbox.windows_path(p) << "\n";

    auto leaks = m.leaks();
    if (!leaks.empty()) {
        // Function-local statics of the product release theirs at exit.
        out << "still held when wWinMain returned:\n";
        for (const auto& l : leaks) out << "  " << l << "\n";
    }
    for (const auto& p : m.problems()) out << "problem: " << p << "\n";
    out << "calls: " << m.log.calls().size() << "\n";
    out << "wWinMain returned " << rc << "\n";
    out << "sandbox: " << m.sandbox.root().string() << "\n" << std::flush;
}

}  // namespace

int main(int argc, char** argv) {
    nlohmann::json profile;
    const char* profile_path = std::getenv("WINSIM_PROFILE");
    try {
        if (profile_path && *profile_path) {
            std::ifstream in(profile_path);
            if (!in) {
                std::cerr << "SablewickAgentSetup (host): cannot read WINSIM_PROFILE " << profile_path << "\n";
                return 2;
            }
            profile = nlohmann::json::parse(in, nullptr, true, true);
            // An elevated copy's profile was written for it alone.
            if (std::getenv("WINSIM_ELEVATED_COPY")) {
                in.close();
                std::error_code gone;
                fs::remove(profile_path, gone);
            }
        } else {
            profile = winsim::Machine::default_profile();
        }
    } catch (const std::exception& e) {
        std::cerr << "SablewickAgentSetup (host): bad profile: " << e.what() << "\n";
        return 2;
    }

    // Statics, made before the machine so they outlive it: the product's
    // function-local statics are made later and released first, at exit,
    // while the machine and the trace still exist.
    static std::ofstream trace;
    static std::optional<winsim::Machine> machine;

    // Named relative to where the host program was started: the machine
    // moves the working folder into its own current folder.
    const char* trace_variable = std::getenv("WINSIM_TRACE");
    const std::string trace_path = trace_variable && *trace_variable
                                       ? fs::absolute(trace_variable).string()
                                       : std::string();
    const std::string absolute_profile_path = profile_path ? fs::absolute(profile_path).string()
                                                           : std::string();

    const char* root = std::getenv("WINSIM_ROOT");
    try {
        machine.emplace(profile, root && *root ? fs::path(root) : fs::path());
    } catch (const std::exception& e) {
        std::cerr << "SablewickAgentSetup (host): cannot build the machine: " << e.what() << "\n";
        return 2;
    }
    winsim::Machine& m = *machine;
    m.sandbox.keep = true;
    m.ui.echo_to_stderr = true;
    m.host.active = true;
    m.processes.spawn_real_elevated_copy = true;
    std::error_code ec;
    m.host.program = fs::canonical("/proc/self/exe", ec).string();
    if (profile_path) m.host.profile_path = absolute_profile_path;

    if (!trace_path.empty()) {
        m.host.trace_path = trace_path;
        // The elevated copy of a "runas" appends to the trace of the run that started it.
        const bool copy = std::getenv("WINSIM_ELEVATED_COPY") != nullptr;
        // Both runs write in append mode: the first run goes on logging while
        // its copy runs, and a plain offset would overwrite the copy's lines.
        if (!copy) std::ofstream(trace_path, std::ios::out | std::ios::trunc);
        trace.open(trace_path, std::ios::out | std::ios::app);
        if (!trace) {
            std::cerr << "SablewickAgentSetup (host): cannot write WINSIM_TRACE " << trace_path << "\n";
            return 2;
        }
        m.log.on_record = [&m](const winsim::CallRecord& rec) {
            auto line = rec.to_json();
            line["pid"] = m.kernel.process_id;
            trace << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n' << std::flush;
        };
    }

    if (argc > 1) {
        std::vector<std::wstring> args;
        for (int i = 1; i < argc; ++i) args.push_back(winsim::from_utf8(argv[i]));
        m.kernel.command_line = winsim::build_command_line(m.kernel.module_path, args);
    }
    std::wstring tail = command_tail(m.kernel.command_line);
    std::vector<wchar_t> cmd(tail.begin(), tail.end());
    cmd.push_back(L'\0');

    const auto before = snapshot(m.sandbox.root());
    int rc;
    try {
        rc = wWinMain(reinterpret_cast<HINSTANCE>(m.modules.program.handle), nullptr, cmd.data(), SW_SHOWNORMAL);
    } catch (const std::exception& e) {
        // On Windows an exception leaving wWinMain ends the process abnormally.
        std::cerr << "SablewickAgentSetup (host): wWinMain threw: " << e.what() << "\n";
        rc = 3;
    }
    // The elevated copy runs on its own; waiting here keeps the output of
    // both runs apart.
    m.processes.wait_for_real_copies();
    summary(m, before, rc);
    return rc;
}
