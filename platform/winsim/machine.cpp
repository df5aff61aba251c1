#include "platform/winsim/machine.h"

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace winsim {

namespace {
std::atomic<Machine*> g_current{nullptr};

const nlohmann::json& section(const nlohmann::json& profile, const char* name) {
    static const nlohmann::json none;
    if (!profile.is_object()) return none;
    auto it = profile.find(name);
    return it == profile.end() ? none : *it;
}
}  // namespace

Machine::Machine(nlohmann::json p, const std::filesystem::path& sandbox_root)
    : profile(std::move(p)), sandbox(sandbox_root) {
    if (!profile.is_object() && !profile.is_null())
        throw std::runtime_error("winsim: a profile is a JSON object");
    Machine* expected = nullptr;
    if (!g_current.compare_exchange_strong(expected, this))
        throw std::logic_error("winsim: another Machine is current; only one may live at a time");
    try {
        // Building the machine is the model's own work on the disk.
        ModelFileAccess model;
        folders.load(section(profile, "folders"), *this);
        // Who owns what the profile stages is named by account.
        security.load(section(profile, "security"), *this);
        files.load(section(profile, "files"), *this);
        kernel.load(section(profile, "process"), *this);
        modules.load(section(profile, "modules"), *this);
        messages.load(section(profile, "messages"), *this);
        registry.load(section(profile, "registry"), *this);
        drives.load(section(profile, "drives"), *this);
        network.load(section(profile, "adapters"), *this);
        sessions.load(section(profile, "sessions"), *this);
        programs.load(section(profile, "programs"), *this);
        processes.load(section(profile, "processes"), *this);
        services.load(section(profile, "services"), *this);
        faults.load(section(profile, "faults"));
    } catch (...) {
        g_current = nullptr;
        throw;
    }
    // A relative path the product uses resolves against the process's
    // current folder, on Windows as on the host.
    std::error_code ec;
    saved_working_folder_ = std::filesystem::current_path(ec);
    std::filesystem::current_path(kernel.current_directory, ec);
    if (ec) {
        g_current = nullptr;
        throw std::runtime_error("winsim: cannot enter the current folder "
                                 + kernel.current_directory + ": " + ec.message());
    }
    // std::filesystem::temp_directory_path() follows TMPDIR: the product's
    // temporary files land in the sandbox.
    if (const char* old = std::getenv("TMPDIR")) saved_tmpdir_ = old;
    ::setenv("TMPDIR", folders.temp_host_path(*this).c_str(), 1);
    c_runtime.enter();
}

Machine::~Machine() {
    std::error_code ignored;
    if (!saved_working_folder_.empty())
        std::filesystem::current_path(saved_working_folder_, ignored);
    if (saved_tmpdir_)
        ::setenv("TMPDIR", saved_tmpdir_->c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    g_current = nullptr;
}

Machine& Machine::current() {
    Machine* m = g_current.load();
    if (!m) throw std::logic_error("winsim: a Win32 function was called with no Machine current");
    return *m;
}

Machine* Machine::current_or_null() { return g_current.load(); }

std::vector<std::string> Machine::leaks() const {
    std::vector<std::string> out;
    handles.leaks(out);
    memory.leaks(out);
    kernel.leaks(out);
    modules.leaks(out);
    registry.leaks(out);
    security.leaks(out);
    sessions.leaks(out);
    programs.leaks(out);
    processes.leaks(out);
    services.leaks(out);
    return out;
}

std::vector<std::string> Machine::problems() const {
    std::vector<std::string> out;
    for (const auto* list : {&handles.problems(), &memory.problems(), &kernel.problems, &registry.problems})
        out.insert(out.end(), list->begin(), list->end());
    out.insert(out.end(), problems_.begin(), problems_.end());
    return out;
}

}  // namespace winsim
