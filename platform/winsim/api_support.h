// Shared by every API implementation file: the call record helper and the
// conversions of arguments to their JSON form in the log.
#pragma once

#include "platform/winsim/machine.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <type_traits>

namespace winsim {

// Argument forms for the log.
nlohmann::json arg(const wchar_t* s);  // null or UTF-8 text
nlohmann::json arg(const char* s);     // null or text
nlohmann::json arg_ptr(const void* p); // null or the address as a number
nlohmann::json arg_resource(const wchar_t* key);  // MAKEINTRESOURCEW id or text

// release_fault_note: a release function (CloseHandle, LocalFree, FreeSid,
// RegCloseKey, CloseServiceHandle, DestroyEnvironmentBlock, FreeLibrary)
// made to fail still lets the object go. Windows fails such a call only for
// a handle or block that is no longer valid, so after the failure there is
// nothing left that the caller could release; keeping the object would
// count as the caller's leak what no caller can avoid. Misuse (a second
// release) is still reported.
//
// One call in progress. The constructor finds the current machine and takes
// this call's fault (if one is armed); done()/fail() record the call with
// the current last-error value and return the value given. A call left by
// an exception is recorded with a null result.
class ApiCall {
public:
    ApiCall(const char* name, nlohmann::json args = nlohmann::json::object());
    ~ApiCall();
    ApiCall(const ApiCall&) = delete;
    ApiCall& operator=(const ApiCall&) = delete;

    Machine& m;
    const std::optional<Fault> fault;
    nlohmann::json args;  // add out-parameters before done()

    template <class T>
    T done(T value) {
        finish(to_result(value));
        return value;
    }
    template <class T>
    T done(T value, nlohmann::json result) {
        finish(std::move(result));
        return value;
    }
    // A failure with `error` as the last-error value.
    template <class T>
    T fail(T value, DWORD error) {
        m.set_last_error(error);
        finish(to_result(value));
        return value;
    }
    // The injected failure: its error as the last-error value.
    template <class T>
    T fail(T value) {
        injected_ = true;
        return fail(value, fault ? fault->error : 0);
    }
    // A failure that leaves the last-error value alone (HRESULT/LSTATUS).
    template <class T>
    T fail_status(T value) {
        injected_ = injected_ || fault.has_value();
        finish(to_result(value));
        return value;
    }
    void mark_injected() { injected_ = true; }

private:
    template <class T>
    static nlohmann::json to_result(T value) {
        if constexpr (std::is_pointer_v<T>)
            return arg_ptr(reinterpret_cast<const void*>(value));
        else if constexpr (std::is_same_v<T, bool>)
            return value;
        else
            return static_cast<std::int64_t>(value);
    }
    void finish(nlohmann::json result);

    std::string name_;
    bool recorded_ = false;
    bool injected_ = false;
};

}  // namespace winsim
