// Starting the tray program, which lives beside the agent's service
// executable (Bootstrapper::StartTrayAgent is declared with the Bootstrapper).
#pragma once

#include <filesystem>
#include <string>

namespace sablewick {

// The executable's path inside a service's registered path text: the quoted
// part of a quoted text; for an unquoted one the shortest blank-separated
// beginning that ends in ".exe", which is what the Service Control Manager
// itself starts, else the text before the first blank.
std::wstring ServiceExecutableFromPathText(const std::wstring& pathText);

// The folder of the executable registered for the agent's service, or an
// empty path when it cannot be had or the registered path is not absolute.
std::filesystem::path GetServiceInstallDir();

}  // namespace sablewick
