// A registry of reference-counted objects keyed by name, with a critical
// section beside it. Its state is made on first use; the program never uses
// it, so at exit only the critical section is torn down.
#pragma once

#include "kyv/win/unique_handle.hpp"

#include "platform/win32.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace sablewick::util::parse {

// What a CountedRef holds; deleted through its virtual destructor.
class CountedObject {
public:
    virtual ~CountedObject() = default;
};

// Shares one object; the last reference to go deletes it.
class CountedRef {
public:
    CountedRef() noexcept = default;
    explicit CountedRef(std::unique_ptr<CountedObject> object);
    CountedRef(const CountedRef& other) noexcept;
    CountedRef(CountedRef&& other) noexcept;
    CountedRef& operator=(CountedRef other) noexcept;
    ~CountedRef();

    CountedObject* get() const noexcept { return object_; }

private:
    void release() noexcept;

    std::atomic<std::int32_t>* count_ = nullptr;  // a heap block of its own
    CountedObject* object_ = nullptr;
};

// Closes its handles first, second, third.
struct RegistryHandles {
    RegistryHandles() = default;
    RegistryHandles(const RegistryHandles&) = delete;
    RegistryHandles& operator=(const RegistryHandles&) = delete;
    ~RegistryHandles();

    kyv::win::unique_handle first;
    kyv::win::unique_handle second;
    kyv::win::unique_handle third;
};

struct ObjectRegistryState {
    std::map<std::string, CountedRef> objects;
    RegistryHandles handles;
};

// A Windows critical section, initialised with a spin count of 4000.
class CriticalSection {
public:
    CriticalSection() noexcept;
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() noexcept { ::EnterCriticalSection(&section_); }
    void Leave() noexcept { ::LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

class ObjectRegistry {
public:
    ObjectRegistry() = default;
    ObjectRegistry(const ObjectRegistry&) = delete;
    ObjectRegistry& operator=(const ObjectRegistry&) = delete;
    // The state's handles are closed before its objects are released.
    ~ObjectRegistry();

    // The state, made by the first call.
    ObjectRegistryState& State();
    bool HasState() const noexcept { return state_ != nullptr; }

private:
    CriticalSection lock_;
    ObjectRegistryState* state_ = nullptr;
};

// Built before wWinMain runs, destroyed at exit; nothing fills or locks it.
extern ObjectRegistry object_registry;

}  // namespace sablewick::util::parse
