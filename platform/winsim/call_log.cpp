#include "platform/winsim/call_log.h"

#include "platform/winsim/text.h"

#include <cstring>
#include <stdexcept>

namespace winsim {

nlohmann::json CallRecord::to_json() const {
    nlohmann::json j = {{"call", call}, {"args", args}, {"result", result}};
    if (file) {
        const char* name = error_number ? ::strerrorname_np(error_number) : nullptr;
        j["errno"] = error_number == 0 ? nlohmann::json() : nlohmann::json(name ? name : std::to_string(error_number));
    } else {
        j["lastError"] = lastError;
    }
    if (injected) j["injected"] = true;
    return j;
}

void CallLog::record(CallRecord rec) {
    calls_.push_back(std::move(rec));
    if (on_record) on_record(calls_.back());
}

std::vector<CallRecord> CallLog::named(const std::string& call) const {
    std::vector<CallRecord> out;
    for (const auto& c : calls_)
        if (c.call == call) out.push_back(c);
    return out;
}

std::size_t CallLog::count(const std::string& call) const {
    std::size_t n = 0;
    for (const auto& c : calls_) n += c.call == call;
    return n;
}

std::vector<std::string> CallLog::names() const {
    std::vector<std::string> out;
    out.reserve(calls_.size());
    for (const auto& c : calls_) out.push_back(c.call);
    return out;
}

void Faults::fail(const std::string& call, DWORD error, unsigned nth) {
    armed_[call].push_back({Fault{error, std::nullopt}, nth});
}

void Faults::fail_status(const std::string& call, std::int32_t status, unsigned nth) {
    armed_[call].push_back({Fault{static_cast<DWORD>(status), status}, nth});
}

namespace {
// The key of one file's faults and count: the call and the path without case.
std::string file_key(const std::string& call, const std::string& path) {
    return lower_ascii(call + '\n' + path);
}
}  // namespace

void Faults::fail_file(const std::string& call, const std::string& path, DWORD error, unsigned nth) {
    armed_[file_key(call, path)].push_back({Fault{error, std::nullopt}, nth});
}

std::optional<Fault> Faults::take(const std::string& call, const std::string& path) {
    auto general = take(call);
    const auto own = take(file_key(call, path));
    return own ? own : general;
}

void Faults::clear(const std::string& call) { armed_.erase(call); }

void Faults::clear() { armed_.clear(); }

std::optional<Fault> Faults::take(const std::string& call) {
    unsigned n = ++seen_[call];
    auto it = armed_.find(call);
    if (it == armed_.end()) return std::nullopt;
    // A fault for this very occurrence wins over one for every occurrence.
    for (const auto& a : it->second)
        if (a.nth == n) return a.fault;
    for (const auto& a : it->second)
        if (a.nth == 0) return a.fault;
    return std::nullopt;
}

unsigned Faults::occurrences(const std::string& call) const {
    auto it = seen_.find(call);
    return it == seen_.end() ? 0 : it->second;
}

void Faults::load(const nlohmann::json& section) {
    if (section.is_null()) return;
    if (!section.is_array()) throw std::runtime_error("profile: \"faults\" must be a list");
    for (const auto& f : section) {
        std::string call = f.at("call").get<std::string>();
        unsigned nth = f.value("nth", 0u);
        if (f.contains("path"))
            fail_file(call, f["path"].get<std::string>(), static_cast<DWORD>(f.value("error", 0LL)), nth);
        else if (f.contains("status"))
            fail_status(call, static_cast<std::int32_t>(f["status"].get<std::int64_t>()), nth);
        else
            fail(call, static_cast<DWORD>(f.value("error", 0LL)), nth);
    }
}

}  // namespace winsim
