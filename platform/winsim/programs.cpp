#include "platform/winsim/programs.h"

#include "platform/winsim/machine.h"
#include "platform/winsim/processes.h"

#include <boost/uuid/detail/sha1.hpp>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace winsim {

namespace fs = std::filesystem;

namespace {

// Blanks separate, double quotes group and are dropped: the reading both
// msiexec and taskkill give their command lines.
std::vector<std::string> tokens_of(const std::string& text) {
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false, any = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (any) out.push_back(cur);
            cur.clear();
            any = false;
        } else {
            cur += c;
            any = true;
        }
    }
    if (any) out.push_back(cur);
    return out;
}

bool read_file(const fs::path& p, std::string& text) {
    std::ifstream in(p, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool write_file(const fs::path& p, const std::string& text) {
    std::error_code ec;
    fs::create_directories(p.parent_path(), ec);
    // A FIFO planted at the name would keep the stand-in waiting for a reader.
    const auto status = fs::status(p, ec);
    if (fs::exists(status) && !fs::is_regular_file(status)) return false;
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out.flush());
}

// The installer lays its files down at their names as new files: what it
// edits is the text of the plain file standing there (one name, no link);
// whatever stood at the name (a link, a pipe, a second name of another file)
// is replaced, never read or written through.
bool installed_text(const fs::path& p, std::string& text) {
    std::error_code ec;
    return fs::is_regular_file(fs::symlink_status(p, ec)) && fs::hard_link_count(p, ec) == 1
           && read_file(p, text);
}

bool lay_down(Machine& m, const fs::path& p, const std::string& text) {
    std::error_code ec;
    const auto status = fs::symlink_status(p, ec);
    if (fs::exists(status) && !fs::is_directory(status)) {
        m.files.forget_if_last(m, p.string());
        if (!fs::remove(p, ec)) return false;
    }
    return write_file(p, text);
}

// Replaces the first line holding `holding` (its line end included) by
// `line`, or appends `line` on a line of its own.
std::string with_line(std::string text, const std::string& holding, const std::string& line) {
    auto at = holding.empty() ? std::string::npos : text.find(holding);
    if (at != std::string::npos) {
        auto begin = text.rfind('\n', at);
        begin = begin == std::string::npos ? 0 : begin + 1;
        auto end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        return text.replace(begin, end - begin, line);
    }
    if (!text.empty() && text.back() != '\n') text += "\r\n";
    return text + line;
}

// Every effect names the file or the service it acts on: a profile that
// leaves one out is refused, never given a default.
void check_effect(const nlohmann::json& e) {
    auto text = [&e](const char* key) { return e.contains(key) && e[key].is_string(); };
    const bool named = e.is_object()
                       && ((text("replace_line") && text("holding") && text("line"))
                           || text("write_file") || text("append_file") || text("delete_file")
                           || (e.contains("service") && e["service"].is_object()
                               && e["service"].contains("name")
                               && e["service"]["name"].is_string()));
    if (!named)
        throw std::runtime_error("profile: an installer effect names its file or service: "
                                 + e.dump());
}

std::string sha1_hex(const std::string& bytes) {
    boost::uuids::detail::sha1 sha;
    sha.process_bytes(bytes.data(), bytes.size());
    boost::uuids::detail::sha1::digest_type digest;
    sha.get_digest(digest);
    char out[41];
    for (int i = 0; i < 5; ++i)
        std::snprintf(out + 8 * i, 9, "%08x", static_cast<unsigned>(digest[i]));
    return std::string(out, 40);
}

// Whether |bytes| are the package the program carries (type "MSI", 102).
bool is_embedded_package(Machine& m, const std::string& bytes) {
    const auto r = m.modules.find_resource(ResourceKey::of_name(L"MSI"), ResourceKey::of_id(102));
    return r && r->size == bytes.size()
           && std::memcmp(bytes.data(), r->data ? r->data : r->owned.data(), bytes.size()) == 0;
}

std::string line_with_end(std::string line) {
    if (line.empty() || line.back() != '\n') line += "\r\n";
    return line;
}

}  // namespace

nlohmann::json InstallerParameters::to_json() const {
    nlohmann::json props = nlohmann::json::object();
    for (const auto& [k, v] : properties) props[k] = v;
    nlohmann::json j = {{"valid", valid}, {"ui", ui}, {"norestart", norestart}, {"properties", props}};
    if (!error.empty()) j["error"] = error;
    if (log) {
        j["log"] = *log;
        j["log_mode"] = log_mode;
    }
    return j;
}

InstallerParameters parse_installer_parameters(const std::string& parameters) {
    InstallerParameters r;
    auto refuse = [&r](std::string why) {
        r.valid = false;
        if (r.error.empty()) r.error = std::move(why);
    };
    const auto tokens = tokens_of(parameters);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const std::string& t = tokens[i];
        if (!t.empty() && (t[0] == '/' || t[0] == '-')) {
            const std::string opt = lower_ascii(t.substr(1));
            if (opt == "norestart") {
                r.norestart = true;
            } else if (opt == "quiet" || opt == "passive" ||
                       (!opt.empty() && opt[0] == 'q' &&
                        opt.find_first_not_of("nbrf+-!", 1) == std::string::npos)) {
                r.ui = opt;
            } else if (!opt.empty() && opt[0] == 'l' &&
                       opt.find_first_not_of("iwearucmopvx+!*", 1) == std::string::npos) {
                // The next token is the log, whatever it looks like: msiexec
                // takes it as the file name.
                if (i + 1 >= tokens.size() || tokens[i + 1].empty()) {
                    refuse("/" + opt + " without a log file");
                    continue;
                }
                r.log_mode = opt.substr(1);
                r.log = tokens[++i];
            } else {
                refuse("unknown option " + t);
            }
        } else if (auto eq = t.find('='); eq != std::string::npos && eq > 0) {
            r.properties.emplace_back(t.substr(0, eq), t.substr(eq + 1));
        } else {
            refuse("unexpected argument " + t);
        }
    }
    return r;
}

std::string Programs::taskkill_host_path(Machine& m) {
    return (m.sandbox.host_path(m.folders.system_path()) / "taskkill.exe").string();
}

void Programs::run_taskkill(Machine& m, Process& p) {
    const auto now = m.clock().now();
    bool force = false;
    std::string image;
    std::string error;
    const auto tokens = tokens_of(p.parameters);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const std::string opt = lower_ascii(tokens[i]);
        if (opt == "/f") {
            force = true;
        } else if (opt == "/t") {
        } else if (opt == "/im" && i + 1 < tokens.size()) {
            image = tokens[++i];
        } else if (error.empty()) {
            error = "Invalid argument/option - '" + tokens[i] + "'.";
        }
    }
    if (error.empty() && image.empty()) error = "Invalid syntax. /IM needs an image name.";
    p.details = {{"force", force}, {"image", image}, {"ended", nlohmann::json::array()}};

    if (taskkill.hang) {
        p.details["hung"] = true;
        return;  // runs on, ending nothing
    }
    DWORD code = 0;
    if (!error.empty()) {
        p.details["error"] = error;
        code = 1;
    } else {
        auto targets = m.processes.running(m, image);
        if (targets.empty()) {
            code = 128;  // ERROR: The process "image" not found.
        } else if (!force) {
            code = 1;  // a windowless process can only be ended with /F
        } else {
            for (const auto& t : targets) {
                t->end(now, 1, "taskkill");
                p.details["ended"].push_back(t->id);
            }
        }
    }
    p.end(now + taskkill.duration_ms, code, "exit");
}

void Programs::run_installer(Machine& m, Process& p, const std::string& package) {
    const auto now = m.clock().now();
    InstallerParameters params = parse_installer_parameters(p.parameters);
    nlohmann::json& d = p.details;
    d = params.to_json();
    d["package"] = package;

    std::error_code ec;
    // msiexec opens the package to read it, sharing reading only, as the
    // user who started it.
    std::string bytes, why;
    const Actor reader{m.security.identity(p.token, p.user),
                       p.image + " (pid " + std::to_string(p.id) + ")"};
    const DWORD opened = m.files.read_as(m, reader, package, FILE_SHARE_READ, bytes, why);
    const std::uintmax_t size = bytes.size();
    d["package_size"] = size;
    d["package_sha1"] = sha1_hex(bytes);
    d["package_is_embedded"] = is_embedded_package(m, bytes);
    if (opened) {
        d["package_open_error"] = opened;
        d["package_open_refused"] = why;
    }
    const bool is_msi = !opened
                        && bytes.compare(0, 8, std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8))
                               == 0;
    d["package_is_msi"] = is_msi;
    d["effects"] = nlohmann::json::array();

    auto finish = [&](DWORD code) {
        d["exit_code"] = code;
        if (installer.hang)
            d["hung"] = true;
        else
            p.end(now + installer.duration_ms, code, "exit");
    };

    if (!params.valid) return finish(kMsiInvalidCommandLine);

    fs::path log;
    if (params.log) {
        log = m.sandbox.host_path(*params.log);
        if (!fs::is_directory(log.parent_path(), ec)) {
            d["log_written"] = false;
            return finish(kMsiLogFailure);
        }
    }

    std::string trail;
    DWORD code = installer.exit_code;
    if (opened || (installer.check_package && !is_msi)) {
        code = kMsiPackageInvalid;
        trail += "MSI (c): This installation package could not be opened.\r\n";
    } else {
        for (const auto& e : installer.effects) {
            check_effect(e);
            std::string what;
            bool ok = true;
            auto named = [&e](const char* key) { return e[key].get<std::string>(); };
            if (e.contains("replace_line")) {
                const std::string file = named("replace_line");
                const fs::path host = m.sandbox.host_path(file);
                std::string text;
                installed_text(host, text);
                const std::string holding = named("holding");
                ok = lay_down(m, host, with_line(text, holding, line_with_end(named("line"))));
                what = "line holding \"" + holding + "\" set in " + file;
            } else if (e.contains("write_file")) {
                ok = lay_down(m, m.sandbox.host_path(named("write_file")),
                                e.value("text", std::string()));
                what = "file " + named("write_file") + " written";
            } else if (e.contains("append_file")) {
                const fs::path host = m.sandbox.host_path(named("append_file"));
                std::string text;
                installed_text(host, text);
                ok = lay_down(m, host, text + e.value("text", std::string()));
                what = "file " + named("append_file") + " appended to";
            } else if (e.contains("delete_file")) {
                ok = fs::remove(m.sandbox.host_path(named("delete_file")), ec) || !ec;
                what = "file " + named("delete_file") + " deleted";
            } else {
                const auto& s = e["service"];
                const std::string name = s["name"].get<std::string>();
                m.services.apply(m, name, s);
                what = "service " + name + " installed";
            }
            d["effects"].push_back({{"effect", what}, {"ok", ok}});
            trail += "MSI (s): " + what + (ok ? "" : " FAILED") + "\r\n";
        }
    }

    if (params.log) {
        std::string text = "=== Verbose logging started (virtual time " + std::to_string(now) +
                           " ms)  Calling process: msiexec.exe ===\r\n";
        text += "MSI (c): Command line: " + p.command_line + "\r\n";
        text += "MSI (c): Package: " + package + " (" + std::to_string(size) + " bytes)\r\n";
        text += "Property(C): UILevel = " + params.ui + "\r\n";
        for (const auto& [k, v] : params.properties) text += "Property(S): " + k + " = " + v + "\r\n";
        text += trail;
        text += "MSI (s): Installation ended with exit code " + std::to_string(code) + ".\r\n";
        if (installer.hang) text += "MSI (s): Waiting for an action that does not return.\r\n";
        else text += "=== Verbose logging stopped ===\r\n";
        d["log_written"] = write_file(log, text);
    }
    finish(code);
}

void Programs::load(const nlohmann::json& s, Machine& m) {
    if (!s.is_null() && !s.is_object()) throw std::runtime_error("profile: \"programs\" must be an object");
    const nlohmann::json none = nlohmann::json::object();
    const auto& j = s.is_object() ? s : none;

    const auto& tk = j.value("taskkill", none);
    const fs::path system_taskkill = taskkill_host_path(m);
    std::error_code missing;
    if (tk.value("present", true) && fs::is_directory(system_taskkill.parent_path(), missing)
        && !fs::exists(system_taskkill, missing))
        write_file(system_taskkill, "the system's taskkill.exe\r\n");
    taskkill.duration_ms = tk.value("duration_ms", taskkill.duration_ms);
    taskkill.hang = tk.value("hang", taskkill.hang);
    taskkill.returns_process_handle = tk.value("process_handle", taskkill.returns_process_handle);

    const auto& mi = j.value("msiexec", none);
    installer.associated = mi.value("associated", installer.associated);
    installer.exit_code = mi.value("exit_code", installer.exit_code);
    installer.duration_ms = mi.value("duration_ms", installer.duration_ms);
    installer.hang = mi.value("hang", installer.hang);
    installer.returns_process_handle = mi.value("process_handle", installer.returns_process_handle);
    installer.check_package = mi.value("check_package", installer.check_package);
    installer.effects = nlohmann::json::array();
    for (const auto& e : mi.value("effects", nlohmann::json::array())) {
        check_effect(e);
        installer.effects.push_back(e);
    }

    const auto& ec = j.value("elevated_copy", none);
    elevated_copy.exit_code = ec.value("exit_code", elevated_copy.exit_code);
    elevated_copy.duration_ms = ec.value("duration_ms", elevated_copy.duration_ms);
}

void Programs::leaks(std::vector<std::string>&) const {
    // The stand-ins hold nothing the product must release.
}

}  // namespace winsim
