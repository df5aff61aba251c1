#include "platform/winsim/security.h"

#include "platform/winsim/machine.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace winsim {

namespace {

const std::pair<const char*, TokenKind> kTokenNames[] = {
    {"elevated_administrator", TokenKind::elevated_administrator},
    {"filtered_administrator", TokenKind::filtered_administrator},
    {"standard_user", TokenKind::standard_user},
    {"local_system", TokenKind::local_system},
    {"elevated_admin", TokenKind::elevated_administrator},
    {"filtered_admin", TokenKind::filtered_administrator},
};

}  // namespace

const char* token_kind_name(TokenKind k) {
    for (const auto& [name, kind] : kTokenNames)
        if (kind == k) return name;
    return "?";
}

std::optional<TokenKind> token_kind_from_name(const std::string& name) {
    for (const auto& [n, kind] : kTokenNames)
        if (name == n) return kind;
    return std::nullopt;
}

SidValue SidValue::nt(std::vector<DWORD> subs) {
    SidValue v;
    v.authority = {0, 0, 0, 0, 0, 5};
    v.sub_authorities = std::move(subs);
    return v;
}

std::string SidValue::text() const {
    std::uint64_t auth = 0;
    for (BYTE b : authority) auth = (auth << 8) | b;
    std::string s = "S-1-" + std::to_string(auth);
    for (DWORD sub : sub_authorities) s += "-" + std::to_string(sub);
    return s;
}

namespace sids {
SidValue everyone() { return SidValue{{0, 0, 0, 0, 0, 1}, {0}}; }
SidValue creator_owner() { return SidValue{{0, 0, 0, 0, 0, 3}, {0}}; }
SidValue creator_group() { return SidValue{{0, 0, 0, 0, 0, 3}, {1}}; }
SidValue interactive() { return SidValue::nt({4}); }
SidValue authenticated_users() { return SidValue::nt({11}); }
SidValue local_system() { return SidValue::nt({SECURITY_LOCAL_SYSTEM_RID}); }
SidValue administrators() {
    return SidValue::nt({SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS});
}
SidValue users() { return SidValue::nt({SECURITY_BUILTIN_DOMAIN_RID, 545}); }
SidValue trusted_installer() {
    return SidValue::nt({80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464});
}
}  // namespace sids

namespace {

// The machine's own domain: local accounts are S-1-5-21-<these>-<RID>.
const std::vector<DWORD> kMachineDomain = {21, 1004336348, 1177238915, 682003330};

SidValue local_account(DWORD rid) {
    std::vector<DWORD> subs = kMachineDomain;
    subs.push_back(rid);
    return SidValue::nt(std::move(subs));
}

// The groups a token of |kind| holds enabled, and those it holds for deny
// only: one list for CheckTokenMembership and the access check.
void groups_of(TokenKind kind, std::vector<SidValue>& enabled, std::vector<SidValue>& deny_only) {
    enabled = {sids::everyone(), sids::authenticated_users(), sids::users()};
    // INTERACTIVE: a logon at a desktop, not a service.
    if (kind != TokenKind::local_system) enabled.push_back(sids::interactive());
    if (kind == TokenKind::elevated_administrator || kind == TokenKind::local_system)
        enabled.push_back(sids::administrators());
    // The filtered token holds Administrators for deny only.
    if (kind == TokenKind::filtered_administrator) deny_only.push_back(sids::administrators());
}

bool contains(const std::vector<SidValue>& list, const SidValue& sid) {
    for (const auto& s : list)
        if (s == sid) return true;
    return false;
}

}  // namespace

bool token_has_group(TokenKind kind, const SidValue& sid) {
    if (sid == sids::local_system()) return kind == TokenKind::local_system;
    std::vector<SidValue> enabled, deny_only;
    groups_of(kind, enabled, deny_only);
    return contains(enabled, sid);
}

bool Identity::holds(const SidValue& sid) const { return sid == user || contains(groups, sid); }

bool Identity::denied_as(const SidValue& sid) const {
    return holds(sid) || contains(deny_only, sid);
}

bool Identity::may_own(const SidValue& sid) const {
    if (sid == user) return true;
    // Administrators is an owner group of the tokens that hold it enabled.
    return sid == sids::administrators() && contains(groups, sid);
}

PSID Security::allocate_sid(const SidValue& value) {
    const std::size_t n = value.sub_authorities.size();
    SidBlock block;
    block.bytes = std::make_unique<BYTE[]>(8 + 4 * n);
    BYTE* p = block.bytes.get();
    p[0] = 1;  // SID_REVISION
    p[1] = static_cast<BYTE>(n);
    std::memcpy(p + 2, value.authority.data(), 6);
    for (std::size_t i = 0; i < n; ++i) std::memcpy(p + 8 + 4 * i, &value.sub_authorities[i], 4);
    block.value = value;
    PSID sid = p;
    sids_.emplace(sid, std::move(block));
    return sid;
}

bool Security::free_sid(PSID sid, Machine& m) {
    auto it = sids_.find(sid);
    if (it == sids_.end()) {
        m.report_problem("FreeSid of a SID that AllocateAndInitializeSid never returned");
        return false;
    }
    if (!it->second.live) {
        m.report_problem("double FreeSid of SID " + it->second.value.text());
        return false;
    }
    it->second.live = false;
    return true;
}

std::optional<SidValue> Security::live_sid(PSID sid) const {
    auto it = sids_.find(sid);
    if (it == sids_.end() || !it->second.live) return std::nullopt;
    return it->second.value;
}

bool Security::was_freed(PSID sid) const {
    auto it = sids_.find(sid);
    return it != sids_.end() && !it->second.live;
}

std::size_t Security::live_sids() const {
    std::size_t n = 0;
    for (const auto& [sid, block] : sids_) n += block.live;
    return n;
}

HANDLE Security::open_token(Machine& m, const Token& token) {
    std::string label = std::string(token_kind_name(token.kind)) + " token of " + token.user +
                        (token.type == TokenPrimary ? ", primary" : ", impersonation");
    if (!token.origin.empty()) label += ", from " + token.origin;
    return m.handles.open("token", std::make_shared<Token>(token), label);
}

std::optional<SidValue> Security::account_sid(const std::string& name) {
    const std::pair<const char*, SidValue (*)()> named[] = {
        {"system", sids::local_system},
        {"local system", sids::local_system},
        {"administrators", sids::administrators},
        {"users", sids::users},
        {"everyone", sids::everyone},
        {"authenticated users", sids::authenticated_users},
        {"trustedinstaller", sids::trusted_installer},
        {"creator owner", sids::creator_owner},
    };
    const std::string key = lower_ascii(name);
    for (const auto& [n, make] : named)
        if (key == n) return make();
    if (key.rfind("s-1-", 0) == 0) {
        SidValue v;
        std::size_t pos = 4;
        try {
            std::size_t used = 0;
            const std::uint64_t authority = std::stoull(name.substr(pos), &used);
            pos += used;
            for (int i = 5; i >= 0; --i)
                v.authority[5 - i] = static_cast<BYTE>(authority >> (8 * i));
            while (pos < name.size()) {
                if (name[pos] != '-') return std::nullopt;
                ++pos;
                const unsigned long sub = std::stoul(name.substr(pos), &used);
                if (sub > 0xFFFFFFFFul) return std::nullopt;
                v.sub_authorities.push_back(static_cast<DWORD>(sub));
                pos += used;
            }
        } catch (const std::exception&) {
            return std::nullopt;
        }
        if (v.sub_authorities.empty() || v.sub_authorities.size() > 15) return std::nullopt;
        return v;
    }
    if (name.empty() || name.find_first_of("\\/:*?\"<>|") != std::string::npos) return std::nullopt;
    if (key == "administrator") return local_account(500);
    for (std::size_t i = 0; i < local_users_.size(); ++i)
        if (lower_ascii(local_users_[i]) == key) return local_account(static_cast<DWORD>(1001 + i));
    local_users_.push_back(name);
    return local_account(static_cast<DWORD>(1000 + local_users_.size()));
}

Identity Security::identity(TokenKind kind, const std::string& user) {
    Identity id;
    id.kind = kind;
    id.name = kind == TokenKind::local_system ? std::string("SYSTEM") : user;
    groups_of(kind, id.groups, id.deny_only);
    if (kind == TokenKind::local_system) {
        id.user = sids::local_system();
        id.owner = sids::local_system();
        id.primary_group = sids::local_system();
    } else {
        id.user = account_sid(user).value_or(local_account(1001));
        // An elevated administrator's objects belong to Administrators.
        id.owner = kind == TokenKind::elevated_administrator ? sids::administrators() : id.user;
        id.primary_group = local_account(513);  // the machine's "None"
    }
    return id;
}

Identity Security::program_identity() {
    return identity(thread_token.value_or(process_token), process_user);
}

void Security::load(const nlohmann::json& s, Machine&) {
    if (s.is_null()) {
        account_sid(process_user);
        return;
    }
    if (!s.is_object()) throw std::runtime_error("profile: \"security\" must be an object");
    if (s.contains("token")) {
        std::string name = s["token"].get<std::string>();
        auto kind = token_kind_from_name(name);
        if (!kind) throw std::runtime_error("profile: unknown token kind \"" + name + "\"");
        process_token = *kind;
    }
    if (process_token == TokenKind::local_system) {
        process_user = "SYSTEM";
        process_session = 0;
    }
    process_user = s.value("user", process_user);
    process_session = s.value("session", process_session);
    // The process's user is the first local account: RID 1001.
    if (process_token != TokenKind::local_system) account_sid(process_user);
    if (s.contains("consent")) {
        std::string c = s["consent"].get<std::string>();
        if (c != "accept" && c != "decline")
            throw std::runtime_error("profile: \"consent\" is \"accept\" or \"decline\"");
        consent_accepted = c == "accept";
    }
}

void Security::leaks(std::vector<std::string>& out) const {
    for (const auto& [sid, block] : sids_)
        if (block.live) out.push_back("SID " + block.value.text() + " not freed (FreeSid)");
}

}  // namespace winsim
