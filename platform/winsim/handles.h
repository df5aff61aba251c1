// The kernel handle table, shared by every area whose objects are reached
// through a HANDLE (processes, threads, tokens). Handle values are never
// reused, so a second close of the same value is always seen.
#pragma once

#include "platform/win32.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace winsim {

class HandleTable {
public:
    struct Entry {
        std::string kind;               // "process", "thread", "token", ...
        std::string label;              // what leak reports name, e.g. the image
        std::shared_ptr<void> object;   // the area's own object, if any
    };

    // A fresh handle to `object` of `kind`.
    HANDLE open(const std::string& kind, std::shared_ptr<void> object = {},
                const std::string& label = {});
    // Closes a handle; false (and a problem report) for a value that is not
    // open: a double close, a foreign or a null handle.
    bool close(HANDLE h);

    const Entry* find(HANDLE h) const;
    bool is_open(HANDLE h) const { return find(h) != nullptr; }
    // The object behind `h` if it is open and of `kind`, else null.
    template <class T>
    std::shared_ptr<T> object(HANDLE h, const std::string& kind) const {
        const Entry* e = find(h);
        if (!e || e->kind != kind) return nullptr;
        return std::static_pointer_cast<T>(e->object);
    }

    std::size_t open_count() const { return open_.size(); }
    std::size_t open_count(const std::string& kind) const;
    void leaks(std::vector<std::string>& out) const;
    // Double closes and closes of handles never opened, in order.
    const std::vector<std::string>& problems() const { return problems_; }

private:
    std::map<HANDLE, Entry> open_;
    std::map<HANDLE, Entry> closed_;
    std::uintptr_t next_ = 0x1000;
    std::vector<std::string> problems_;
};

}  // namespace winsim
