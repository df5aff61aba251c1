// The call log and fault injection: every Win32 call of the model is recorded
// here in order, and any call can be made to fail on demand.
#pragma once

#include "platform/win32.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

// One finished call. "args" is keyed by the parameter names of Microsoft's
// documentation (strings as UTF-8, numbers as numbers, structures as objects
// keyed by their field names); "result" is the return value the same way.
struct CallRecord {
    std::string call;
    nlohmann::json args = nlohmann::json::object();
    nlohmann::json result;
    DWORD lastError = 0;
    bool injected = false;  // failed by fault injection
    // A file operation of the product (files.h): its outcome is an errno
    // ("errno" in JSON, the symbolic name), not a last-error value.
    bool file = false;
    int error_number = 0;
    // The virtual clock when the call returned (Kernel::clock, milliseconds):
    // what had happened by then on the machine, such as whether a process
    // it started had ended. Not part of the trace.
    std::uint64_t clock_ms = 0;

    nlohmann::json to_json() const;
};

class CallLog {
public:
    void record(CallRecord rec);

    const std::vector<CallRecord>& calls() const { return calls_; }
    std::vector<CallRecord> named(const std::string& call) const;
    std::size_t count(const std::string& call) const;
    // Names of every call in order: handy in assertions on sequences.
    std::vector<std::string> names() const;
    void clear() { calls_.clear(); }

    // Called with each record as it is made (the host program writes its
    // trace through this, so a crash still leaves the calls before it).
    std::function<void(const CallRecord&)> on_record;

private:
    std::vector<CallRecord> calls_;
};

// What a failing call reports. Functions that set the last-error value set
// `error`; functions that return an HRESULT or LSTATUS return `status` when
// given, otherwise one derived from `error`.
struct Fault {
    DWORD error = 0;
    std::optional<std::int32_t> status;

    HRESULT hresult() const { return status ? *status : HRESULT_FROM_WIN32(error); }
    LSTATUS lstatus() const { return status ? *status : static_cast<LSTATUS>(error); }
};

class Faults {
public:
    // Makes the nth call (1-based, counted from the machine's start) of
    // `call` fail with `error` as its last-error value; nth 0 fails every call.
    void fail(const std::string& call, DWORD error, unsigned nth = 0);
    // The same for calls that return their failure: an HRESULT or LSTATUS.
    // The last-error value, for functions that set one, is the same number.
    void fail_status(const std::string& call, std::int32_t status, unsigned nth = 0);
    // The same for the file operation `call` ("open", "write", ...) on one
    // file, named as the trace names it ("C:\\ProgramData\\x.cfg", compared
    // without regard to case); nth counts that call on that file only.
    void fail_file(const std::string& call, const std::string& path, DWORD error, unsigned nth = 0);
    void clear(const std::string& call);
    void clear();

    // Counts one call of `call` and returns its fault, if one is armed for
    // this occurrence. Every API function asks this exactly once per call.
    std::optional<Fault> take(const std::string& call);
    // The same for a file operation on `path`: a fault armed for this file
    // wins over one for the call.
    std::optional<Fault> take(const std::string& call, const std::string& path);
    unsigned occurrences(const std::string& call) const;

    // Profile form: [{"call": "RegOpenKeyExW", "error": 5, "nth": 1},
    //                {"call": "SHGetKnownFolderPath", "status": -2147467259},
    //                {"call": "rename", "path": "C:\\x.cfg", "error": 32}]
    void load(const nlohmann::json& section);

private:
    struct Armed {
        Fault fault;
        unsigned nth;
    };
    std::map<std::string, std::vector<Armed>> armed_;
    std::map<std::string, unsigned> seen_;
};

}  // namespace winsim
