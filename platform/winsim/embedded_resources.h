// The resources the host build embeds into the program, from the same files
// the Windows build compiles with its .rc script. The simulated machine loads
// them into the program's own module.
#pragma once

#include <cstddef>

namespace winsim {

struct EmbeddedResource {
    const wchar_t* type_name;  // resource type by name ("MSI", "CFG", ...), or nullptr
    unsigned type_id;          // resource type by number (RT_STRING = 6, ...) when type_name is null
    unsigned id;               // integer identifier
    unsigned language;         // LANGID, e.g. 1033 or 4105
    const unsigned char* data;
    std::size_t size;
};

// The table generated at build time (resources/host); count receives its length.
const EmbeddedResource* program_resources(std::size_t* count);

}  // namespace winsim
