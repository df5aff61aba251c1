#include "failing_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> g_threshold{0};
}

namespace kyv_test {
void fail_allocations_from(std::size_t bytes) { g_threshold.store(bytes); }
void stop_failing_allocations() { g_threshold.store(0); }
}  // namespace kyv_test

void* operator new(std::size_t n) {
    const std::size_t threshold = g_threshold.load(std::memory_order_relaxed);
    if (threshold != 0 && n >= threshold) throw std::bad_alloc();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
