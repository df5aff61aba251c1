// wtsapi32/kernel32/userenv: the console session, its user's token and
// environment blocks.
#include "platform/winsim/api_support.h"
#include "platform/winsim/status_codes.h"

using winsim::ApiCall;
using winsim::arg_ptr;
using winsim::Machine;
using winsim::Token;

extern "C" {

DWORD WINAPI WTSGetActiveConsoleSessionId(void) {
    ApiCall call("WTSGetActiveConsoleSessionId");
    if (call.fault) return call.fail(winsim::kNoConsoleSession);
    return call.done(call.m.sessions.console_session);
}

BOOL WINAPI WTSQueryUserToken(ULONG SessionId, PHANDLE phToken) {
    ApiCall call("WTSQueryUserToken", {{"SessionId", SessionId}});
    if (call.fault) return call.fail(FALSE);
    Machine& m = call.m;
    if (!phToken) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    // Only the local system account holds the privilege to act as part of
    // the operating system, which this call demands.
    if (m.security.process_token != winsim::TokenKind::local_system)
        return call.fail(FALSE, ERROR_PRIVILEGE_NOT_HELD);
    winsim::Session* s = m.sessions.find(SessionId);
    if (!s) return call.fail(FALSE, winsim::kErrorCtxWinstationNotFound);
    if (!s->user) return call.fail(FALSE, ERROR_NO_TOKEN);

    Token t;
    t.kind = s->user_token;
    t.user = *s->user;
    t.session_id = s->id;
    t.type = TokenPrimary;
    t.origin = "WTSQueryUserToken";
    *phToken = m.security.open_token(m, t);
    call.args["phToken"] = arg_ptr(*phToken);
    return call.done(TRUE);
}

BOOL WINAPI CreateEnvironmentBlock(LPVOID* lpEnvironment, HANDLE hToken, BOOL bInherit) {
    ApiCall call("CreateEnvironmentBlock", {{"hToken", arg_ptr(hToken)}, {"bInherit", bInherit}});
    if (call.fault) return call.fail(FALSE);
    Machine& m = call.m;
    if (!lpEnvironment) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    std::shared_ptr<Token> token;
    if (hToken) {
        token = m.handles.object<Token>(hToken, "token");
        if (!token) return call.fail(FALSE, ERROR_INVALID_HANDLE);
    }
    auto vars = m.sessions.environment_for(token.get(), bInherit != FALSE);
    std::string label = "environment block of " + (token ? token->user : std::string("the system"));
    *lpEnvironment = m.sessions.create_block(vars, label);
    call.args["lpEnvironment"] = arg_ptr(*lpEnvironment);
    return call.done(TRUE);
}

BOOL WINAPI DestroyEnvironmentBlock(LPVOID lpEnvironment) {
    if (!winsim::Machine::current_or_null()) return TRUE;  // a static owner at exit
    ApiCall call("DestroyEnvironmentBlock", {{"lpEnvironment", arg_ptr(lpEnvironment)}});
    const bool destroyed = call.m.sessions.destroy_block(lpEnvironment, call.m);
    if (call.fault) return call.fail(FALSE);  // see release_fault_note in api_support.h
    if (!destroyed) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    return call.done(TRUE);
}

}  // extern "C"
