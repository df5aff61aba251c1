#include "platform/winsim/processes.h"

#include "platform/winsim/machine.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace winsim {

bool iequals(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string file_name_of(const std::string& path) {
    auto pos = path.find_last_of("\\/");
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

void Process::end(std::uint64_t when, DWORD code, const std::string& by) {
    if (end_ms && *end_ms <= when) return;
    end_ms = when;
    exit_code = code;
    ended_by = by;
}

nlohmann::json Process::to_json() const {
    nlohmann::json j = {{"id", id},
                        {"image", image},
                        {"path", path},
                        {"command_line", command_line},
                        {"started_by", started_by},
                        {"token", token_kind_name(token)},
                        {"user", user},
                        {"session", session},
                        {"start_ms", start_ms}};
    if (end_ms) {
        j["end_ms"] = *end_ms;
        j["exit_code"] = exit_code;
        j["ended_by"] = ended_by;
    }
    if (!details.empty()) j["details"] = details;
    return j;
}

DWORD Processes::new_id() {
    DWORD id = next_id_;
    next_id_ += 4;  // process ids are multiples of 4 on Windows
    return id;
}

std::shared_ptr<Process> Processes::add(Machine& m, Process p) {
    p.id = new_id();
    p.start_ms = m.clock().now();
    if (p.image.empty()) p.image = file_name_of(p.path);
    auto sp = std::make_shared<Process>(std::move(p));
    list.push_back(sp);
    return sp;
}

std::vector<std::shared_ptr<Process>> Processes::running(Machine& m, const std::string& image) {
    std::vector<std::shared_ptr<Process>> out;
    const auto now = m.clock().now();
    for (const auto& p : list)
        if (p->running_at(now) && iequals(p->image, image)) out.push_back(p);
    return out;
}

std::vector<std::shared_ptr<Process>> Processes::started() const {
    std::vector<std::shared_ptr<Process>> out;
    for (const auto& p : list)
        if (p->started_by != "profile") out.push_back(p);
    return out;
}

std::vector<std::shared_ptr<Process>> Processes::started(const std::string& image) const {
    std::vector<std::shared_ptr<Process>> out;
    for (const auto& p : started())
        if (iequals(p->image, image)) out.push_back(p);
    return out;
}

HANDLE Processes::open_process(Machine& m, const std::shared_ptr<Process>& p) {
    return m.handles.open("process", p, p->image + " (pid " + std::to_string(p->id) + ")");
}

HANDLE Processes::open_thread(Machine& m, const std::shared_ptr<Process>& p) {
    return m.handles.open("thread", p, "first thread of " + p->image);
}

std::shared_ptr<Process> Processes::by_handle(Machine& m, HANDLE h) const {
    if (auto p = m.handles.object<Process>(h, "process")) return p;
    return m.handles.object<Process>(h, "thread");
}

int Processes::spawn_elevated_copy(Machine& m, Process& copy, std::string& error) {
    nlohmann::json profile = m.profile.is_null() ? Machine::default_profile() : m.profile;
    profile["security"]["token"] = "elevated_administrator";
    profile["process"]["command_line"] = copy.command_line;
    profile["process"]["process_id"] = copy.id;
    profile["process"]["tick_count"] = m.clock().now();

    // The copy's host entry removes this file once it has read it.
    ModelFileAccess model;
    const auto profile_path = m.sandbox.root() / (".winsim-elevated-" + std::to_string(copy.id) + ".json");
    {
        std::ofstream out(profile_path, std::ios::binary | std::ios::trunc);
        out << profile.dump(2) << "\n";
        if (!out.flush()) {
            error = "cannot write " + profile_path.string();
            return 0;
        }
    }

    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        std::string v = *e;
        if (v.rfind("WINSIM_PROFILE=", 0) == 0 || v.rfind("WINSIM_ROOT=", 0) == 0 ||
            v.rfind("WINSIM_TRACE=", 0) == 0 || v.rfind("WINSIM_ELEVATED_COPY=", 0) == 0)
            continue;
        env.push_back(v);
    }
    env.push_back("WINSIM_PROFILE=" + profile_path.string());
    env.push_back("WINSIM_ROOT=" + m.sandbox.root().string());
    if (!m.host.trace_path.empty()) env.push_back("WINSIM_TRACE=" + m.host.trace_path);
    env.push_back("WINSIM_ELEVATED_COPY=1");

    std::string program = m.host.program.empty() ? std::string("/proc/self/exe") : m.host.program;
    std::vector<char*> argv{program.data(), nullptr};
    std::vector<char*> envp;
    for (auto& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);

    pid_t pid = 0;
    int rc = ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data());
    if (rc != 0) {
        error = "posix_spawn " + program + ": " + std::strerror(rc);
        return 0;
    }
    real_copies_.push_back(pid);
    copy.host_pid = pid;
    copy.details["profile"] = profile_path.string();
    return pid;
}

void Processes::wait_for_real_copies() {
    for (int pid : real_copies_) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    real_copies_.clear();
}

void Processes::load(const nlohmann::json& s, Machine& m) {
    if (s.is_null()) return;
    if (!s.is_object()) throw std::runtime_error("profile: \"processes\" must be an object");
    for (const auto& r : s.value("running", nlohmann::json::array())) {
        Process p;
        p.started_by = "profile";
        if (r.is_string()) {
            p.image = r.get<std::string>();
        } else {
            p.image = r.value("image", std::string());
            if (r.contains("path")) p.path = m.sandbox.host_path(r["path"].get<std::string>()).string();
            p.session = r.value("session", 1u);
            p.user = r.value("user", p.session == 0 ? std::string("SYSTEM") : m.security.process_user);
            if (p.session == 0) p.token = TokenKind::local_system;
            if (r.contains("token")) {
                const auto kind = token_kind_from_name(r["token"].get<std::string>());
                if (!kind)
                    throw std::runtime_error("profile: unknown token kind " + r["token"].dump());
                p.token = *kind;
            }
            p.open_files = held_files_of(m, r.value("open_files", nlohmann::json()));
            if (r.contains("watch")) p.watch = folder_watch_of(m, r["watch"]);
        }
        if (p.image.empty() && p.path.empty())
            throw std::runtime_error("profile: a running process needs an \"image\" or a \"path\"");
        p.command_line = "\"" + (p.path.empty() ? p.image : p.path) + "\"";
        auto added = add(m, std::move(p));
        added->start_ms = 0;
    }
}

void Processes::leaks(std::vector<std::string>&) const {
    // Process and thread handles are the handle table's; a process left
    // running is no leak of the product's.
}

}  // namespace winsim
