#include "platform/winsim/sessions.h"

#include "platform/winsim/api_support.h"
#include "platform/winsim/machine.h"

#include <cctype>
#include <cstring>
#include <stdexcept>

namespace winsim {

namespace {

Environment machine_variables() {
    return {
        {"ALLUSERSPROFILE", "C:\\ProgramData"},
        {"ComSpec", "C:\\Windows\\system32\\cmd.exe"},
        {"NUMBER_OF_PROCESSORS", "4"},
        {"OS", "Windows_NT"},
        {"Path", "C:\\Windows\\system32;C:\\Windows;C:\\Windows\\System32\\Wbem"},
        {"PATHEXT", ".COM;.EXE;.BAT;.CMD;.VBS;.JS;.MSC"},
        {"PROCESSOR_ARCHITECTURE", "AMD64"},
        {"ProgramData", "C:\\ProgramData"},
        {"ProgramFiles", "C:\\Program Files"},
        {"ProgramFiles(x86)", "C:\\Program Files (x86)"},
        {"PUBLIC", "C:\\Users\\Public"},
        {"SystemDrive", "C:"},
        {"SystemRoot", "C:\\Windows"},
        {"windir", "C:\\Windows"},
    };
}

std::map<std::string, std::string> user_variables(const std::string& user) {
    if (user == "SYSTEM")
        return {{"USERNAME", "SYSTEM"},
                {"USERPROFILE", "C:\\Windows\\system32\\config\\systemprofile"},
                {"TEMP", "C:\\Windows\\TEMP"},
                {"TMP", "C:\\Windows\\TEMP"}};
    const std::string home = "C:\\Users\\" + user;
    return {{"APPDATA", home + "\\AppData\\Roaming"},
            {"HOMEDRIVE", "C:"},
            {"HOMEPATH", "\\Users\\" + user},
            {"LOCALAPPDATA", home + "\\AppData\\Local"},
            {"TEMP", home + "\\AppData\\Local\\Temp"},
            {"TMP", home + "\\AppData\\Local\\Temp"},
            {"USERDOMAIN", "SABLEPC"},
            {"USERNAME", user},
            {"USERPROFILE", home}};
}

template <class Map>
void overlay(Environment& into, const Map& from) {
    for (const auto& [k, v] : from) {
        into.erase(k);  // a later source replaces the spelling too
        into.emplace(k, v);
    }
}

template <class Map>
void read_variables(const nlohmann::json& j, Map& into, const char* what) {
    if (j.is_null()) return;
    if (!j.is_object()) throw std::runtime_error(std::string("profile: \"") + what + "\" must be an object");
    for (const auto& [k, v] : j.items()) {
        into.erase(k);
        if (!v.is_null()) into.emplace(k, v.template get<std::string>());
    }
}

}  // namespace

bool EnvNameLess::operator()(const std::string& a, const std::string& b) const {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        int x = std::toupper(static_cast<unsigned char>(a[i]));
        int y = std::toupper(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

Session* Sessions::find(DWORD id) {
    auto it = sessions.find(id);
    return it == sessions.end() ? nullptr : &it->second;
}

Session* Sessions::console() {
    return console_session == kNoConsoleSession ? nullptr : find(console_session);
}

void* Sessions::create_block(const Environment& vars, const std::string& label) {
    Block b;
    b.label = label;
    for (const auto& [k, v] : vars) {
        std::wstring entry = from_utf8(k + "=" + v);
        b.units.insert(b.units.end(), entry.begin(), entry.end());
        b.units.push_back(L'\0');
    }
    if (vars.empty()) b.units.push_back(L'\0');
    b.units.push_back(L'\0');
    void* p = b.units.data();
    blocks_.emplace(p, std::move(b));
    return p;
}

bool Sessions::destroy_block(void* block, Machine& m) {
    auto it = blocks_.find(block);
    if (it == blocks_.end()) {
        m.report_problem("DestroyEnvironmentBlock of a block CreateEnvironmentBlock never made");
        return false;
    }
    if (!it->second.live) {
        m.report_problem("double DestroyEnvironmentBlock of the " + it->second.label);
        return false;
    }
    // The units stay allocated: the address is never handed out again.
    it->second.live = false;
    return true;
}

std::size_t Sessions::live_blocks() const {
    std::size_t n = 0;
    for (const auto& [p, b] : blocks_) n += b.live;
    return n;
}

std::vector<std::string> Sessions::parse_block(const void* block, bool unicode) {
    std::vector<std::string> out;
    if (!block) return out;
    if (unicode) {
        const wchar_t* p = static_cast<const wchar_t*>(block);
        while (*p) {
            std::wstring entry(p);
            out.push_back(to_utf8(entry));
            p += entry.size() + 1;
        }
    } else {
        // Without CREATE_UNICODE_ENVIRONMENT the block is read as 8-bit
        // text, whatever it holds: a wide block then yields its first letter.
        const char* p = static_cast<const char*>(block);
        while (*p) {
            std::string entry(p);
            out.push_back(entry);
            p += entry.size() + 1;
        }
    }
    return out;
}

Environment Sessions::environment_for(const Token* token, bool inherit) const {
    Environment env;
    if (inherit) env = process_environment;
    overlay(env, system_environment);
    if (token) {
        overlay(env, user_variables(token->user));
        auto it = sessions.find(token->session_id);
        if (it != sessions.end() && it->second.user == token->user) overlay(env, it->second.environment);
    }
    return env;
}

void Sessions::load(const nlohmann::json& s, Machine& m) {
    if (!s.is_null() && !s.is_object()) throw std::runtime_error("profile: \"sessions\" must be an object");
    const nlohmann::json none = nlohmann::json::object();  // value() needs an object
    const auto& j = s.is_object() ? s : none;

    if (j.contains("console_session"))
        console_session = j["console_session"].is_null() ? kNoConsoleSession : j["console_session"].get<DWORD>();

    sessions.clear();
    sessions[0] = Session{0, std::nullopt, TokenKind::standard_user, {}};
    if (console_session != kNoConsoleSession) {
        Session console{console_session, std::string("alice"), TokenKind::standard_user, {}};
        if (j.contains("user"))
            console.user = j["user"].is_null() ? std::nullopt : std::optional<std::string>(j["user"].get<std::string>());
        if (j.contains("user_token")) {
            auto kind = token_kind_from_name(j["user_token"].get<std::string>());
            if (!kind) throw std::runtime_error("profile: unknown \"user_token\" kind");
            console.user_token = *kind;
        }
        if (console.user) console.environment = user_variables(*console.user);
        read_variables(j.value("user_environment", nlohmann::json()), console.environment, "user_environment");
        sessions[console_session] = std::move(console);
    }

    system_environment = machine_variables();
    read_variables(j.value("system_environment", nlohmann::json()), system_environment, "system_environment");

    // The setup's own environment: the machine's, its user's, and what the
    // shell that started it added.
    process_environment = system_environment;
    overlay(process_environment, user_variables(m.security.process_user));
    process_environment.emplace("SESSIONNAME", "Console");
    read_variables(j.value("process_environment", nlohmann::json()), process_environment, "process_environment");
}

void Sessions::leaks(std::vector<std::string>& out) const {
    for (const auto& [p, b] : blocks_)
        if (b.live) out.push_back(b.label + " not destroyed (DestroyEnvironmentBlock)");
}

}  // namespace winsim
