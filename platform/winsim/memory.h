// Blocks handed out by LocalAlloc and CoTaskMemAlloc, so that a test sees a
// leak, a double free, or a block freed by the other allocator's function.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace winsim {

class Memory {
public:
    enum class Allocator { local, cotaskmem };

    ~Memory();

    void* allocate(Allocator a, std::size_t bytes, bool zero, const std::string& label = {});
    // False (and a problem report) when `p` is not a live block of `a`:
    // freed twice, never allocated, or allocated by the other allocator.
    bool free(Allocator a, void* p);

    bool is_live(const void* p) const { return live_.count(const_cast<void*>(p)) != 0; }
    std::size_t outstanding() const { return live_.size(); }
    std::size_t outstanding(Allocator a) const;
    std::size_t size_of(const void* p) const;

    void leaks(std::vector<std::string>& out) const;
    const std::vector<std::string>& problems() const { return problems_; }

private:
    struct Block {
        Allocator allocator;
        std::size_t size;
        std::string label;
    };
    std::map<void*, Block> live_;
    std::set<void*> freed_;
    std::vector<std::string> problems_;
};

const char* allocator_name(Memory::Allocator a);

}  // namespace winsim
