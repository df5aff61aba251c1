// Finding the tray program beside the agent's service executable.
#pragma once

#include <string>

namespace sablewick {

// The executable's path inside a service's registered path text: the quoted
// part of a quoted text; for an unquoted one the shortest blank-separated
// beginning that ends in ".exe", which is what the Service Control Manager
// itself starts, else the text before the first blank.
std::wstring ServiceExecutableFromPathText(const std::wstring& pathText);

}  // namespace sablewick
