// Texts of the program's own string table.
#pragma once

#include "platform/win32.h"

#include <string>

namespace kyv::common {

// The text of string-table entry |id|, or an empty string when it has none.
std::wstring load_string_resource(UINT id);

}  // namespace kyv::common
