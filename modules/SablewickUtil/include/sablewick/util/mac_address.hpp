// The hardware address of the machine's first Ethernet adapter.
#pragma once

#include <string>

// Six lowercase hex pairs joined by colons; 00:00:00:00:00:00 when no
// Ethernet adapter with a 6-byte address can be read.
std::string GetMacAddress();
