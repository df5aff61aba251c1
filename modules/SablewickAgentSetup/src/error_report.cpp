#include "bootstrapper.h"

#include "kyv/common/string_conversion.hpp"
#include "kyv/common/string_resource.hpp"
#include "platform/win32.h"
#include "resources/resource.h"

#include <boost/format.hpp>

namespace sablewick {

namespace {

// The report must reach the user even when its own texts cannot be had, so
// a text that fails to load counts as missing.
std::wstring LoadTextOrEmpty(UINT id) {
    try {
        return kyv::common::load_string_resource(id);
    } catch (...) {
        return std::wstring();
    }
}

}  // namespace

void Bootstrapper::OnError(const std::string& message) {
    if (silent) return;

    const std::wstring caption = LoadTextOrEmpty(IDS_SABLEWICK_CAPTION);
    const std::wstring format = LoadTextOrEmpty(IDS_SABLEWICK_ERROR);
    const std::wstring details = kyv::common::utf8_to_wstring(message);

    std::wstring text;
    try {
        text = boost::str(boost::wformat(format) % details.c_str());
    } catch (const boost::io::format_error&) {
        // A format text that is missing or does not take exactly one
        // argument: the failure's own text is still worth showing.
        text = details.c_str();
    }

    ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace sablewick
