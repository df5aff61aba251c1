// The process-wide registry of singletons, ordered by disposal slot.
//
// Each singleton type owns one node in static storage, so registering
// allocates nothing. Nothing walks the registry to dispose of its entries:
// a registered singleton lives until the process ends.
#pragma once

#include <boost/thread/mutex.hpp>

namespace kyv::common {

struct singleton_node {
    void* instance;                        // null until constructed
    void (*dispose)(singleton_node& self); // destroys |instance| in place
    int slot;                              // disposal order, ascending
    singleton_node* next;                  // null until registered
};

class singleton_registry {
public:
    singleton_registry() = default;
    singleton_registry(const singleton_registry&) = delete;
    singleton_registry& operator=(const singleton_registry&) = delete;

    // Inserts |node| in front of the first node whose slot is not less than
    // its own: the list stays in ascending slot order, and among equal slots
    // the latest registration comes first. A node already in the list stays
    // where it is (a singleton rebuilt after disposal registers again).
    void insert(singleton_node& node);

    // The first node; the list must not change while it is read.
    const singleton_node* head() const noexcept { return head_; }

private:
    singleton_node* head_ = nullptr;
    boost::mutex mutex_;
};

// Inserts |node| into the process-wide registry, made on first use and
// never destroyed.
void register_singleton(singleton_node& node);

// The first node of the process-wide registry; null before any registration.
const singleton_node* registered_singletons() noexcept;

}  // namespace kyv::common
