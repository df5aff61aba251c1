#include "kyv/common/string_resource.hpp"

#include "platform/atl/atl_lite.h"

namespace kyv::common {

std::wstring load_string_resource(UINT id) {
    ATL::CStringW text;
    // A missing or empty entry leaves the string empty; that is no error.
    text.LoadString(id);
    return std::wstring(static_cast<const wchar_t*>(text));
}

}  // namespace kyv::common
