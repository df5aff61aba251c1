#include "platform/winsim/memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace winsim {

const char* allocator_name(Memory::Allocator a) {
    return a == Memory::Allocator::local ? "LocalAlloc" : "CoTaskMemAlloc";
}

namespace {
std::string hex(const void* p) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p)));
    return buf;
}
const char* free_name(Memory::Allocator a) {
    return a == Memory::Allocator::local ? "LocalFree" : "CoTaskMemFree";
}
}  // namespace

Memory::~Memory() {
    // Leaked blocks are reported, not kept: release them with the machine.
    for (auto& [p, b] : live_) std::free(p);
}

void* Memory::allocate(Allocator a, std::size_t bytes, bool zero, const std::string& label) {
    // Never a zero-sized malloc: every block must have an address of its own.
    void* p = std::malloc(bytes ? bytes : 1);
    if (!p) return nullptr;
    if (zero) std::memset(p, 0, bytes ? bytes : 1);
    freed_.erase(p);  // an address reused by malloc is a new block
    live_[p] = Block{a, bytes, label};
    return p;
}

bool Memory::free(Allocator a, void* p) {
    auto it = live_.find(p);
    if (it == live_.end()) {
        if (freed_.count(p))
            problems_.push_back(std::string("double ") + free_name(a) + " of block " + hex(p));
        else
            problems_.push_back(std::string(free_name(a)) + " of " + hex(p) + ", which is no block of the process");
        return false;
    }
    if (it->second.allocator != a) {
        problems_.push_back(std::string(free_name(a)) + " of block " + hex(p) + " made by " +
                            allocator_name(it->second.allocator));
        return false;
    }
    live_.erase(it);
    freed_.insert(p);
    std::free(p);
    return true;
}

std::size_t Memory::outstanding(Allocator a) const {
    std::size_t n = 0;
    for (const auto& [p, b] : live_) n += b.allocator == a;
    return n;
}

std::size_t Memory::size_of(const void* p) const {
    auto it = live_.find(const_cast<void*>(p));
    return it == live_.end() ? 0 : it->second.size;
}

void Memory::leaks(std::vector<std::string>& out) const {
    for (const auto& [p, b] : live_) {
        std::string s = std::string(allocator_name(b.allocator)) + " block " + hex(p) + " of " +
                        std::to_string(b.size) + " bytes not freed";
        if (!b.label.empty()) s += " (" + b.label + ")";
        out.push_back(s);
    }
}

}  // namespace winsim
