// Makes large allocations fail on demand, so that a test can see what a
// function releases when memory runs out part-way through. The replacement
// operator new/delete of this test program serve every allocation; only
// those of at least the armed size fail, and only while armed.
#pragma once

#include <cstddef>

namespace kyv_test {

void fail_allocations_from(std::size_t bytes);  // 0 disarms
void stop_failing_allocations();

}  // namespace kyv_test
