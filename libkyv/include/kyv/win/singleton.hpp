// The in-house singleton base: the instance is built on first use in static
// storage (never on the heap) under a one-time flag and registered in the
// process-wide singleton registry under its disposal slot.
#pragma once

#include "kyv/common/singleton_registry.hpp"

#include <boost/thread/once.hpp>

#include <new>

namespace boost {

template <class Derived, int Slot = 0, class Tag = void>
class singleton {
public:
    // The one instance, built by the first call; concurrent first callers
    // wait until it is ready.
    static Derived* instance() {
        boost::call_once(once_, &construct_instance);
        return static_cast<Derived*>(node_.instance);
    }

    // This type's entry in the registry.
    static kyv::common::singleton_node& registry_node() noexcept { return node_; }

    // Destroys the instance in place through its virtual destructor without
    // freeing its storage. Nothing in the program calls it.
    static void dispose_singleton_instance(kyv::common::singleton_node& node) {
        if (node.instance) static_cast<Derived*>(node.instance)->~Derived();
    }

protected:
    singleton() = default;

    // Once the instance is gone, the next access builds it afresh.
    ~singleton() {
        node_.instance = nullptr;
        ::new (static_cast<void*>(&once_)) boost::once_flag();
    }

private:
    // Kept apart from the class so that the size of Derived is asked for
    // only once Derived is complete.
    struct storage {
        alignas(Derived) static unsigned char bytes[sizeof(Derived)];
    };

    static void construct_instance() {
        Derived* object = ::new (static_cast<void*>(storage::bytes)) Derived();
        node_.instance = object;
        kyv::common::register_singleton(node_);
    }

    static kyv::common::singleton_node node_;
    static boost::once_flag once_;
};

template <class Derived, int Slot, class Tag>
kyv::common::singleton_node singleton<Derived, Slot, Tag>::node_ = {
    nullptr, &singleton<Derived, Slot, Tag>::dispose_singleton_instance, Slot, nullptr};

template <class Derived, int Slot, class Tag>
boost::once_flag singleton<Derived, Slot, Tag>::once_ = BOOST_ONCE_INIT;

template <class Derived, int Slot, class Tag>
alignas(Derived) unsigned char singleton<Derived, Slot, Tag>::storage::bytes[sizeof(Derived)];

}  // namespace boost
