// The settings records as the program carries and stores them.
#pragma once

#include "resource_data.h"
#include "snet/types/client_settings.hpp"

namespace sablewick {

// The settings record whose text archive |record| holds (the one embedded in
// the program); the archive's errors pass.
snet::types::ClientSettings SettingsOfRecord(const ResourceData& record);

}  // namespace sablewick
