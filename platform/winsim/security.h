// Security: the process token, the tokens handed out through the handle
// table, SIDs allocated and freed, and the consent prompt of "runas".
#pragma once

#include "platform/win32.h"

#include <nlohmann/json.hpp>

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

class Machine;

// The kinds of token a process of the agent's world meets.
enum class TokenKind {
    elevated_administrator,  // full administrator token (elevated, or UAC off)
    filtered_administrator,  // an administrator under UAC: Administrators deny-only
    standard_user,
    local_system,
};

const char* token_kind_name(TokenKind k);
// "elevated_administrator", "filtered_administrator", "standard_user",
// "local_system" (the short forms "elevated_admin", "filtered_admin" too).
std::optional<TokenKind> token_kind_from_name(const std::string& name);

// A security identifier by value: S-1-<authority>-<sub>-<sub>...
struct SidValue {
    std::array<BYTE, 6> authority{};
    std::vector<DWORD> sub_authorities;

    static SidValue nt(std::vector<DWORD> subs);  // authority 5 (NT AUTHORITY)
    std::string text() const;                     // "S-1-5-32-544"
    bool operator==(const SidValue& o) const {
        return authority == o.authority && sub_authorities == o.sub_authorities;
    }
};

// Well-known SIDs the model's tokens and descriptors name.
namespace sids {
SidValue everyone();             // S-1-1-0, WD
SidValue creator_owner();        // S-1-3-0, CO
SidValue creator_group();        // S-1-3-1, CG
SidValue interactive();          // S-1-5-4, IU
SidValue authenticated_users();  // S-1-5-11, AU
SidValue local_system();         // S-1-5-18, SY
SidValue administrators();       // S-1-5-32-544, BA
SidValue users();                // S-1-5-32-545, BU
SidValue trusted_installer();    // NT SERVICE\TrustedInstaller
}  // namespace sids

// Who a token says its holder is, as an access check reads it: the user,
// the groups that grant (and the groups held for deny only), the default
// owner and primary group of what it creates, and whom it may name owner
// without privileges (its user, and Administrators where that group is an
// owner group of the token).
struct Identity {
    std::string name;  // "alice", "SYSTEM"
    TokenKind kind = TokenKind::standard_user;
    SidValue user;
    std::vector<SidValue> groups;
    std::vector<SidValue> deny_only;
    SidValue owner;
    SidValue primary_group;

    // The user or an enabled group: what allow ACEs and ownership match.
    bool holds(const SidValue& sid) const;
    // Also the deny-only groups: what deny ACEs match.
    bool denied_as(const SidValue& sid) const;
    bool may_own(const SidValue& sid) const;
};

// The object behind a handle of kind "token".
struct Token {
    TokenKind kind = TokenKind::standard_user;
    std::string user;  // "alice", "SYSTEM"
    DWORD session_id = 0;
    TOKEN_TYPE type = TokenPrimary;
    SECURITY_IMPERSONATION_LEVEL level = SecurityAnonymous;
    std::string origin;  // "WTSQueryUserToken", "DuplicateTokenEx", ...
};

// Whether a token of `kind` holds `sid` as Windows' CheckTokenMembership
// answers it: a group held for deny only counts as absent, so a filtered
// administrator is no member of Administrators.
bool token_has_group(TokenKind kind, const SidValue& sid);

struct Security {
    // The process's own primary token.
    TokenKind process_token = TokenKind::elevated_administrator;
    std::string process_user = "alice";
    DWORD process_session = 1;

    // The consent prompt of "runas": accepted, or declined by the user.
    bool consent_accepted = true;
    unsigned consent_prompts = 0;  // how often it was shown

    // The calling thread's impersonation token, if it impersonates; the
    // program itself never starts impersonating, a test may put one here.
    // RevertToSelf ends it.
    std::optional<TokenKind> thread_token;

    // SIDs from AllocateAndInitializeSid, laid out as Windows lays them out
    // (revision, count, authority, sub-authorities). Freed SIDs keep their
    // memory until the machine goes, so an address is never handed out twice
    // and a second FreeSid is always seen.
    PSID allocate_sid(const SidValue& value);
    // False (and a problem report) for a SID that is not live.
    bool free_sid(PSID sid, Machine& m);
    std::optional<SidValue> live_sid(PSID sid) const;
    bool was_freed(PSID sid) const;
    std::size_t live_sids() const;

    // A token handle through the machine's handle table.
    HANDLE open_token(Machine& m, const Token& token);

    // The SID of an account by name: "SYSTEM", "Administrators", "Users",
    // "Everyone", "TrustedInstaller", a literal "S-1-...", or a local user,
    // whose SID is the machine's domain and a RID given in order of first
    // mention from 1001 ("Administrator" is 500). Null for text that is
    // none of these.
    std::optional<SidValue> account_sid(const std::string& name);
    // The token of |kind| for |user| as an access check reads it.
    Identity identity(TokenKind kind, const std::string& user);
    // The calling thread's: its impersonation token, else the process's.
    Identity program_identity();

    // Profile section "security": {"token": "elevated_administrator",
    // "user": "alice", "session": 1, "consent": "accept" | "decline"}.
    void load(const nlohmann::json& section, Machine& m);
    void leaks(std::vector<std::string>& out) const;

private:
    struct SidBlock {
        std::unique_ptr<BYTE[]> bytes;
        SidValue value;
        bool live = true;
    };
    std::map<PSID, SidBlock> sids_;
    std::vector<std::string> local_users_;  // RID 1001 + index
};

}  // namespace winsim
