#include "kyv/common/singleton_registry.hpp"

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/once.hpp>

#include <new>

namespace kyv::common {

void singleton_registry::insert(singleton_node& node) {
    const boost::lock_guard<boost::mutex> lock(mutex_);
    for (const singleton_node* n = head_; n; n = n->next)
        if (n == &node) return;
    singleton_node** link = &head_;
    while (*link && (*link)->slot < node.slot) link = &(*link)->next;
    node.next = *link;
    *link = &node;
}

namespace {

// Built in place by the first registration and never destroyed, so that a
// singleton may still be registered or looked up during static destruction.
boost::once_flag registry_once = BOOST_ONCE_INIT;
alignas(singleton_registry) unsigned char registry_storage[sizeof(singleton_registry)];
singleton_registry* process_registry = nullptr;

void init_singleton_registry() {
    process_registry = ::new (static_cast<void*>(registry_storage)) singleton_registry();
}

}  // namespace

void register_singleton(singleton_node& node) {
    boost::call_once(registry_once, &init_singleton_registry);
    process_registry->insert(node);
}

const singleton_node* registered_singletons() noexcept {
    return process_registry ? process_registry->head() : nullptr;
}

}  // namespace kyv::common
