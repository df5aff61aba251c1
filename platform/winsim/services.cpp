#include "platform/winsim/services.h"

#include "platform/winsim/machine.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace winsim {

namespace {

std::string key_of(const std::string& name) {
    std::string k = name;
    for (auto& c : k) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return k;
}

const std::pair<const char*, DWORD> kStates[] = {
    {"stopped", SERVICE_STOPPED},
    {"start_pending", SERVICE_START_PENDING},
    {"stop_pending", SERVICE_STOP_PENDING},
    {"running", SERVICE_RUNNING},
};

bool is_drive_path(const std::string& p, std::size_t at) {
    return p.size() >= at + 2 && std::isalpha(static_cast<unsigned char>(p[at])) && p[at + 1] == ':';
}

// A path as the program is to see it. A drive path is mapped into the
// sandbox. A drive-relative one ("C:Agent\svc.exe") names, on Windows, a
// place below the folder current on that drive: on the current folder's
// drive the text after the drive letter, which the host resolves against
// the current folder as Windows does; on another drive (a process keeps no
// current folder there) below its root, named from the current folder. Both
// stay relative, as the program would get them. Anything else (a relative
// path, a host path) stays as it stands.
std::string map_path(Machine& m, const std::string& path) {
    if (!is_drive_path(path, 0)) return path;
    if (path.size() > 2 && (path[2] == '\\' || path[2] == '/'))
        return m.sandbox.host_path(path).string();
    const std::string rest = path.substr(2);
    const std::string current = m.sandbox.windows_path(m.kernel.current_directory);
    if (is_drive_path(current, 0)
        && std::toupper(static_cast<unsigned char>(current[0]))
               == std::toupper(static_cast<unsigned char>(path[0])))
        return rest;
    const std::filesystem::path root = m.sandbox.host_path(path.substr(0, 2) + "\\");
    return (root.lexically_relative(m.kernel.current_directory) / rest).string();
}

std::string hex(std::uintptr_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

}  // namespace

Service* Services::find(const std::string& name) {
    auto it = services.find(key_of(name));
    return it == services.end() ? nullptr : &it->second;
}

Service& Services::add(Service s) {
    auto& slot = services[key_of(s.name)];
    slot = std::move(s);
    return slot;
}

bool Services::remove(const std::string& name) { return services.erase(key_of(name)) != 0; }

std::string Services::map_binary_path(Machine& m, const std::string& text) {
    if (!text.empty() && text[0] == '"') {
        auto close = text.find('"', 1);
        std::string inner = text.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        std::string rest = close == std::string::npos ? std::string() : text.substr(close);
        return "\"" + map_path(m, inner) + rest;
    }
    // Unquoted: where the path ends is the very question an unquoted text
    // raises, so the whole text is mapped; its blanks stay where they are.
    return map_path(m, text);
}

SC_HANDLE Services::open(const Handle& h) {
    SC_HANDLE v = reinterpret_cast<SC_HANDLE>(next_);
    next_ += 8;
    open_[v] = h;
    return v;
}

Services::Handle* Services::find_handle(SC_HANDLE h) {
    auto it = open_.find(h);
    return it == open_.end() ? nullptr : &it->second;
}

bool Services::close(SC_HANDLE h, Machine& m) {
    auto it = open_.find(h);
    if (it == open_.end()) {
        const std::uintptr_t v = reinterpret_cast<std::uintptr_t>(h);
        if (closed_.count(h))
            m.report_problem("double CloseServiceHandle of SC handle " + hex(v));
        else
            m.report_problem("CloseServiceHandle of SC handle " + hex(v) + ", which was never opened");
        return false;
    }
    closed_[h] = it->second;
    open_.erase(it);
    return true;
}

DWORD Services::grantable_manager_rights(Machine& m) {
    const TokenKind k = m.security.process_token;
    if (k == TokenKind::elevated_administrator || k == TokenKind::local_system) return 0xF003Fu;  // SC_MANAGER_ALL_ACCESS
    // Authenticated users: connect, enumerate, query the lock, read control.
    return SC_MANAGER_CONNECT | 0x0004u | 0x0010u | READ_CONTROL;
}

DWORD Services::grantable_service_rights(Machine& m, const Service& s) {
    const TokenKind k = m.security.process_token;
    DWORD rights;
    if (k == TokenKind::elevated_administrator || k == TokenKind::local_system)
        rights = 0xF01FFu;  // SERVICE_ALL_ACCESS
    else  // interactive users: query config and status, enumerate dependents, interrogate, user controls
        rights = READ_CONTROL | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | 0x0008u | 0x0080u | 0x0100u;
    return rights & ~s.denied_rights;
}

void Services::apply(Machine& m, const std::string& name, const nlohmann::json& j) {
    if (!j.is_object()) throw std::runtime_error("profile: service \"" + name + "\" must be an object");
    Service* existing = find(name);
    Service s = existing ? *existing : Service{};
    s.name = name;
    if (s.display_name.empty()) s.display_name = name;
    if (j.contains("binary_path")) {
        if (j["binary_path"].is_null()) {
            s.binary_path.reset();
        } else {
            std::string text = j["binary_path"].get<std::string>();
            s.binary_path = j.value("map_path", true) ? map_binary_path(m, text) : text;
        }
    }
    if (j.contains("state")) {
        std::string st = j["state"].get<std::string>();
        bool known = false;
        for (const auto& [n, v] : kStates)
            if (st == n) {
                s.state = v;
                known = true;
            }
        if (!known) throw std::runtime_error("profile: unknown service state \"" + st + "\"");
    }
    if (j.contains("stop_polls")) {
        const auto& p = j["stop_polls"];
        if (p.is_string() && p.get<std::string>() == "never")
            s.stop_polls.reset();
        else
            s.stop_polls = p.get<unsigned>();
    }
    s.display_name = j.value("display_name", s.display_name);
    s.start_name = j.value("start_name", s.start_name);
    s.start_type = j.value("start_type", s.start_type);
    s.load_order_group = j.value("load_order_group", s.load_order_group);
    if (j.contains("dependencies")) s.dependencies = j["dependencies"].get<std::vector<std::string>>();
    s.denied_rights = j.value("denied_rights", s.denied_rights);
    s.start_error = j.value("start_error", s.start_error);
    if (j.contains("open_files")) s.open_files = held_files_of(m, j["open_files"]);
    if (s.state == SERVICE_STOPPED)
        s.process_id = 0;
    else if (s.process_id == 0)
        s.process_id = m.processes.new_id();
    add(std::move(s));
}

void Services::load(const nlohmann::json& s, Machine& m) {
    if (s.is_null()) return;
    if (!s.is_object()) throw std::runtime_error("profile: \"services\" must be an object keyed by name");
    for (const auto& [name, j] : s.items()) apply(m, name, j);
}

void Services::leaks(std::vector<std::string>& out) const {
    for (const auto& [h, e] : open_) {
        std::string what = e.manager ? "Service Control Manager" : "service " + e.service;
        out.push_back("open SC handle " + hex(reinterpret_cast<std::uintptr_t>(h)) + " (" + what + ")");
    }
}

}  // namespace winsim
