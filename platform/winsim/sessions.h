// Terminal Services sessions and user environments: the console session and
// who is logged on there, and the environment blocks CreateEnvironmentBlock
// hands out.
#pragma once

#include "platform/win32.h"
#include "platform/winsim/security.h"

#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

class Machine;

inline constexpr DWORD kNoConsoleSession = 0xFFFFFFFFu;

struct Session {
    DWORD id = 0;
    std::optional<std::string> user;  // nobody at the logon screen
    TokenKind user_token = TokenKind::standard_user;
    // The user's own variables (USERNAME, USERPROFILE, APPDATA, TEMP, ...).
    std::map<std::string, std::string> environment;
};

// Environment variables compare without regard to case; Windows keeps the
// block sorted that way.
struct EnvNameLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
using Environment = std::map<std::string, std::string, EnvNameLess>;

struct Sessions {
    // WTSGetActiveConsoleSessionId's answer; kNoConsoleSession when no
    // session is attached to the console.
    DWORD console_session = 1;
    // Session 0 (services) and the console session, by id.
    std::map<DWORD, Session> sessions;

    // The machine's variables every block starts from (SystemRoot, Path,
    // ComSpec, ...), and the setup process's own ones, which a block made
    // with bInherit TRUE takes over as well.
    Environment system_environment;
    Environment process_environment;

    Session* find(DWORD id);
    Session* console();  // null when none is attached

    // A block of "NAME=value" strings, each NUL-terminated, the whole ended
    // by one more NUL; one wchar_t per UTF-16 unit. Tracked until destroyed.
    void* create_block(const Environment& vars, const std::string& label);
    bool destroy_block(void* block, Machine& m);  // false + problem when not live
    std::size_t live_blocks() const;
    // The variables of a block as CreateProcess reads it.
    static std::vector<std::string> parse_block(const void* block, bool unicode);

    // The block CreateEnvironmentBlock makes for a user (null: none) with or
    // without the process's own variables.
    Environment environment_for(const Token* token, bool inherit) const;

    // Profile section "sessions": {"console_session": 1 | null, "user":
    // "alice" | null, "user_token": "standard_user", "user_environment":
    // {...}, "process_environment": {...}, "system_environment": {...}}.
    void load(const nlohmann::json& section, Machine& m);
    void leaks(std::vector<std::string>& out) const;

private:
    struct Block {
        std::vector<wchar_t> units;
        std::string label;
        bool live = true;
    };
    std::map<void*, Block> blocks_;
};

}  // namespace winsim
