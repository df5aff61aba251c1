#include "platform/winsim/handles.h"

#include <cstdio>

namespace winsim {

namespace {
std::string hex(const void* p) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p)));
    return buf;
}
std::string describe(HANDLE h, const HandleTable::Entry& e) {
    std::string s = e.kind + " handle " + hex(h);
    if (!e.label.empty()) s += " (" + e.label + ")";
    return s;
}
}  // namespace

HANDLE HandleTable::open(const std::string& kind, std::shared_ptr<void> object, const std::string& label) {
    // Multiples of 4, as Windows hands them out.
    HANDLE h = reinterpret_cast<HANDLE>(next_);
    next_ += 4;
    open_[h] = Entry{kind, label, std::move(object)};
    return h;
}

bool HandleTable::close(HANDLE h) {
    auto it = open_.find(h);
    if (it == open_.end()) {
        auto c = closed_.find(h);
        if (c != closed_.end())
            problems_.push_back("double close of " + describe(h, c->second));
        else
            problems_.push_back("close of handle " + hex(h) + ", which was never opened");
        return false;
    }
    closed_[h] = Entry{it->second.kind, it->second.label, nullptr};
    open_.erase(it);
    return true;
}

const HandleTable::Entry* HandleTable::find(HANDLE h) const {
    auto it = open_.find(h);
    return it == open_.end() ? nullptr : &it->second;
}

std::size_t HandleTable::open_count(const std::string& kind) const {
    std::size_t n = 0;
    for (const auto& [h, e] : open_) n += e.kind == kind;
    return n;
}

void HandleTable::leaks(std::vector<std::string>& out) const {
    for (const auto& [h, e] : open_) out.push_back("open " + describe(h, e));
}

}  // namespace winsim
