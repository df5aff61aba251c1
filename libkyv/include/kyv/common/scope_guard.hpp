// Shared scope guards: the bound release call runs once, when the last
// reference to the guard goes, on a normal return and during unwinding alike.
//
// A guard cannot be dismissed. Make it only after the call that produced the
// resource has succeeded: a guard over a null pointer still calls its
// release function.
#pragma once

#include <boost/core/noncopyable.hpp>
#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include <utility>

namespace kyv::common {

namespace detail {

// Guards over different callables are all owned through this base.
class scope_guard_base {
public:
    virtual ~scope_guard_base() = default;

protected:
    scope_guard_base() = default;
};

template <typename F>
class scope_guard_impl : public scope_guard_base, private boost::noncopyable {
public:
    explicit scope_guard_impl(const F& f) : f_(f) {}
    // The release call must not throw: an exception here ends the process.
    ~scope_guard_impl() override { f_(); }

private:
    F f_;
};

}  // namespace detail

class scope_guard {
public:
    explicit scope_guard(boost::shared_ptr<detail::scope_guard_base> impl) noexcept
        : impl_(std::move(impl)) {}

private:
    boost::shared_ptr<detail::scope_guard_base> impl_;
};

// Copies |f| into a new guard and returns the only reference to it; |f| is
// called when the last copy of the returned pointer goes. Should the second
// allocation fail, the first guard is already armed and releases on the way
// out, before std::bad_alloc reaches the caller.
template <typename F>
boost::shared_ptr<scope_guard> make_scope_guard(F f) {
    boost::shared_ptr<detail::scope_guard_base> impl =
        boost::make_shared<detail::scope_guard_impl<F>>(f);
    return boost::make_shared<scope_guard>(std::move(impl));
}

}  // namespace kyv::common
