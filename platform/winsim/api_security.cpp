// advapi32: SIDs, token membership, token duplication, RevertToSelf.
#include "platform/winsim/api_support.h"
#include "platform/winsim/status_codes.h"

#include <cstring>

using winsim::ApiCall;
using winsim::arg_ptr;
using winsim::SidValue;
using winsim::Token;

namespace {

// A SID the caller built in its own memory: read as Windows lays it out.
std::optional<SidValue> read_sid(PSID sid) {
    const BYTE* p = static_cast<const BYTE*>(sid);
    if (p[0] != 1 || p[1] > 15) return std::nullopt;
    SidValue v;
    std::memcpy(v.authority.data(), p + 2, 6);
    for (BYTE i = 0; i < p[1]; ++i) {
        DWORD sub;
        std::memcpy(&sub, p + 8 + 4 * i, 4);
        v.sub_authorities.push_back(sub);
    }
    return v;
}

}  // namespace

extern "C" {

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority,
                                     BYTE nSubAuthorityCount, DWORD nSubAuthority0,
                                     DWORD nSubAuthority1, DWORD nSubAuthority2,
                                     DWORD nSubAuthority3, DWORD nSubAuthority4,
                                     DWORD nSubAuthority5, DWORD nSubAuthority6,
                                     DWORD nSubAuthority7, PSID* pSid) {
    const DWORD subs[8] = {nSubAuthority0, nSubAuthority1, nSubAuthority2, nSubAuthority3,
                           nSubAuthority4, nSubAuthority5, nSubAuthority6, nSubAuthority7};
    nlohmann::json args = {{"pIdentifierAuthority", nullptr}, {"nSubAuthorityCount", nSubAuthorityCount}};
    if (pIdentifierAuthority)
        args["pIdentifierAuthority"] = {
            {"Value", std::vector<int>(pIdentifierAuthority->Value, pIdentifierAuthority->Value + 6)}};
    for (int i = 0; i < 8; ++i) args["nSubAuthority" + std::to_string(i)] = subs[i];
    ApiCall call("AllocateAndInitializeSid", std::move(args));
    if (call.fault) return call.fail(FALSE);
    if (!pIdentifierAuthority || !pSid || nSubAuthorityCount == 0 || nSubAuthorityCount > 8)
        return call.fail(FALSE, ERROR_INVALID_PARAMETER);

    SidValue v;
    std::memcpy(v.authority.data(), pIdentifierAuthority->Value, 6);
    v.sub_authorities.assign(subs, subs + nSubAuthorityCount);
    *pSid = call.m.security.allocate_sid(v);
    call.args["pSid"] = {{"address", arg_ptr(*pSid)}, {"sid", v.text()}};
    return call.done(TRUE);
}

PVOID WINAPI FreeSid(PSID pSid) {
    // A static owner may free its SID at exit, after the machine.
    if (!winsim::Machine::current_or_null()) return nullptr;
    ApiCall call("FreeSid", {{"pSid", arg_ptr(pSid)}});
    if (auto v = call.m.security.live_sid(pSid)) call.args["sid"] = v->text();
    const bool freed = call.m.security.free_sid(pSid, call.m);
    // The failure return is the SID itself.
    if (call.fault) return call.fail(static_cast<PVOID>(pSid));  // see release_fault_note in api_support.h
    if (!freed) return call.fail(static_cast<PVOID>(pSid), ERROR_INVALID_PARAMETER);
    return call.done(static_cast<PVOID>(nullptr));
}

BOOL WINAPI CheckTokenMembership(HANDLE TokenHandle, PSID SidToCheck, PBOOL IsMember) {
    ApiCall call("CheckTokenMembership", {{"TokenHandle", arg_ptr(TokenHandle)}, {"SidToCheck", arg_ptr(SidToCheck)}});
    if (call.fault) return call.fail(FALSE);
    auto& m = call.m;
    if (!SidToCheck || !IsMember) return call.fail(FALSE, ERROR_INVALID_PARAMETER);

    std::optional<SidValue> sid = m.security.live_sid(SidToCheck);
    if (!sid && m.security.was_freed(SidToCheck)) {
        m.report_problem("CheckTokenMembership with a SID already freed");
        return call.fail(FALSE, ERROR_INVALID_SID);
    }
    if (!sid) sid = read_sid(SidToCheck);
    if (!sid) return call.fail(FALSE, ERROR_INVALID_SID);
    call.args["SidToCheck"] = sid->text();

    // Without a token Windows tests the thread's impersonation token, or
    // the process's primary token when the thread impersonates nobody. A
    // token given must be an impersonation token.
    winsim::TokenKind kind = m.security.thread_token.value_or(m.security.process_token);
    if (TokenHandle) {
        auto token = m.handles.object<Token>(TokenHandle, "token");
        if (!token) return call.fail(FALSE, ERROR_INVALID_HANDLE);
        if (token->type != TokenImpersonation) return call.fail(FALSE, winsim::kErrorNoImpersonationToken);
        kind = token->kind;
    }
    *IsMember = winsim::token_has_group(kind, *sid) ? TRUE : FALSE;
    call.args["IsMember"] = *IsMember;
    return call.done(TRUE);
}

BOOL WINAPI RevertToSelf(void) {
    ApiCall call("RevertToSelf");
    if (call.fault) return call.fail(FALSE);
    call.m.security.thread_token.reset();
    return call.done(TRUE);
}

BOOL WINAPI DuplicateTokenEx(HANDLE hExistingToken, DWORD dwDesiredAccess,
                             LPSECURITY_ATTRIBUTES lpTokenAttributes,
                             SECURITY_IMPERSONATION_LEVEL ImpersonationLevel, TOKEN_TYPE TokenType,
                             PHANDLE phNewToken) {
    ApiCall call("DuplicateTokenEx", {{"hExistingToken", arg_ptr(hExistingToken)},
                                      {"dwDesiredAccess", dwDesiredAccess},
                                      {"lpTokenAttributes", arg_ptr(lpTokenAttributes)},
                                      {"ImpersonationLevel", static_cast<int>(ImpersonationLevel)},
                                      {"TokenType", static_cast<int>(TokenType)}});
    if (call.fault) return call.fail(FALSE);
    auto& m = call.m;
    auto existing = m.handles.object<Token>(hExistingToken, "token");
    if (!existing) return call.fail(FALSE, ERROR_INVALID_HANDLE);
    if (!phNewToken || (TokenType != TokenPrimary && TokenType != TokenImpersonation) ||
        ImpersonationLevel < SecurityAnonymous || ImpersonationLevel > SecurityDelegation)
        return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    // An impersonation token cannot be raised above its own level.
    if (existing->type == TokenImpersonation && ImpersonationLevel > existing->level)
        return call.fail(FALSE, winsim::kErrorBadImpersonationLevel);

    Token copy = *existing;
    copy.type = TokenType;
    copy.level = ImpersonationLevel;
    copy.origin = "DuplicateTokenEx";
    *phNewToken = m.security.open_token(m, copy);
    call.args["phNewToken"] = arg_ptr(*phNewToken);
    return call.done(TRUE);
}

}  // extern "C"
