// An embedded resource as the program's image holds it.
#pragma once

#include <cstdint>

namespace sablewick {

// An embedded resource's bytes inside the loaded image: read-only, never
// freed, valid until the process ends.
struct ResourceData {
    const unsigned char* data = nullptr;
    std::uint32_t size = 0;
};

}  // namespace sablewick
