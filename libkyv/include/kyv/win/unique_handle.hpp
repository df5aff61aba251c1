// One owner type per kind of Windows resource. Each is a unique_ptr-like
// holder over one template: the resource is released exactly once, by its
// own release function, on every way out of the scope that holds it.
#pragma once

#include "platform/win32.h"

#include <utility>

namespace kyv::win {

template <typename T, auto Release, T Invalid = T{}>
class unique_resource {
public:
    unique_resource() noexcept = default;
    explicit unique_resource(T value) noexcept : value_(value) {}
    unique_resource(const unique_resource&) = delete;
    unique_resource& operator=(const unique_resource&) = delete;
    unique_resource(unique_resource&& other) noexcept : value_(other.release()) {}
    unique_resource& operator=(unique_resource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~unique_resource() { reset(); }

    T get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Invalid; }

    // The address of the stored value, for calls that return the resource
    // through an out parameter. Anything held before is released first.
    T* put() noexcept {
        reset();
        return &value_;
    }

    T release() noexcept { return std::exchange(value_, Invalid); }

    void reset(T value = Invalid) noexcept {
        T old = std::exchange(value_, value);
        if (old != Invalid) Release(old);
    }

private:
    T value_ = Invalid;
};

namespace detail {
inline void close_handle(HANDLE h) noexcept { ::CloseHandle(h); }
inline void close_hkey(HKEY k) noexcept { ::RegCloseKey(k); }
inline void close_service_handle(SC_HANDLE h) noexcept { ::CloseServiceHandle(h); }
inline void free_sid(PSID sid) noexcept { ::FreeSid(sid); }
inline void destroy_environment_block(LPVOID env) noexcept { ::DestroyEnvironmentBlock(env); }
inline void local_free(HLOCAL mem) noexcept { ::LocalFree(mem); }
inline void free_library(HMODULE module) noexcept { ::FreeLibrary(module); }
}  // namespace detail

using unique_handle = unique_resource<HANDLE, detail::close_handle>;
using unique_hkey = unique_resource<HKEY, detail::close_hkey>;
using unique_schandle = unique_resource<SC_HANDLE, detail::close_service_handle>;
using unique_sid = unique_resource<PSID, detail::free_sid>;
using unique_environment_block = unique_resource<LPVOID, detail::destroy_environment_block>;
using unique_hlocal = unique_resource<HLOCAL, detail::local_free>;
using unique_hmodule = unique_resource<HMODULE, detail::free_library>;

}  // namespace kyv::win
