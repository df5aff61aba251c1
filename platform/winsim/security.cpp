#include "platform/winsim/security.h"

#include "platform/winsim/machine.h"

#include <cstring>
#include <stdexcept>

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

bool token_has_group(TokenKind kind, const SidValue& sid) {
    const SidValue everyone{{0, 0, 0, 0, 0, 1}, {0}};
    if (sid == everyone) return true;
    if (sid == SidValue::nt({11}) || sid == SidValue::nt({32, 545}))  // Authenticated Users, Users
        return true;
    if (sid == SidValue::nt({4}))  // INTERACTIVE: a logon at a desktop, not a service
        return kind != TokenKind::local_system;
    if (sid == SidValue::nt({SECURITY_LOCAL_SYSTEM_RID})) return kind == TokenKind::local_system;
    if (sid == SidValue::nt({SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}))
        // The filtered token holds Administrators for deny only.
        return kind == TokenKind::elevated_administrator || kind == TokenKind::local_system;
    return false;
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

void Security::load(const nlohmann::json& s, Machine&) {
    if (s.is_null()) return;
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
