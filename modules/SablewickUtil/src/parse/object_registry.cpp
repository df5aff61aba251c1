#include "sablewick/util/parse/object_registry.hpp"

#include <utility>

namespace sablewick::util::parse {

CountedRef::CountedRef(std::unique_ptr<CountedObject> object) {
    if (!object) return;
    count_ = new std::atomic<std::int32_t>(1);
    object_ = object.release();
}

CountedRef::CountedRef(const CountedRef& other) noexcept
    : count_(other.count_), object_(other.object_) {
    if (count_) count_->fetch_add(1, std::memory_order_relaxed);
}

CountedRef::CountedRef(CountedRef&& other) noexcept
    : count_(std::exchange(other.count_, nullptr)), object_(std::exchange(other.object_, nullptr)) {}

CountedRef& CountedRef::operator=(CountedRef other) noexcept {
    std::swap(count_, other.count_);
    std::swap(object_, other.object_);
    return *this;
}

CountedRef::~CountedRef() { release(); }

void CountedRef::release() noexcept {
    if (!count_) return;
    if (count_->fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete object_;
        delete count_;
    }
    count_ = nullptr;
    object_ = nullptr;
}

RegistryHandles::~RegistryHandles() {
    first.reset();
    second.reset();
    third.reset();
}

CriticalSection::CriticalSection() noexcept {
    // Cannot fail on the Windows versions the program supports.
    ::InitializeCriticalSectionAndSpinCount(&section_, 4000);
}

CriticalSection::~CriticalSection() { ::DeleteCriticalSection(&section_); }

ObjectRegistry::~ObjectRegistry() { delete state_; }

ObjectRegistryState& ObjectRegistry::State() {
    lock_.Enter();
    try {
        if (!state_) state_ = new ObjectRegistryState();
    } catch (...) {
        lock_.Leave();
        throw;
    }
    lock_.Leave();
    return *state_;
}

}  // namespace sablewick::util::parse
