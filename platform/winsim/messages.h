// The message tables FormatMessageW reads: the system's and wininet.dll's.
// Texts are held exactly as Windows stores them, final period and CRLF
// included; a test sets or removes any code.
#pragma once

#include "platform/win32.h"

#include <nlohmann/json.hpp>

#include <map>
#include <string>

namespace winsim {

class Machine;

struct MessageTables {
    std::map<DWORD, std::wstring> system;
    std::map<DWORD, std::wstring> wininet;

    MessageTables();  // the real English texts of the codes the product meets

    // Profile section "messages": {"system": {"5": "text", "0x80004005":
    // "text"}, "wininet": {"12002": "text"}}; a null text removes a code.
    void load(const nlohmann::json& section, Machine& m);
};

}  // namespace winsim
