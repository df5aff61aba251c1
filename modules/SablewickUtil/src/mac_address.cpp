#include "sablewick/util/mac_address.hpp"

#include "platform/win32.h"

#include <cstdio>
#include <vector>

std::string GetMacAddress() {
    BYTE address[6] = {};

    // Room for one record first; a longer list reports the size it needs.
    ULONG size = sizeof(IP_ADAPTER_INFO);
    std::vector<unsigned char> buffer(size);
    ULONG result = ::GetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), &size);
    if (result == ERROR_BUFFER_OVERFLOW) {
        buffer.assign(size, 0);
        result = ERROR_SUCCESS;
    }
    if (result == ERROR_SUCCESS) {
        // Read again; the list may have changed, and a list grown in between
        // fails this call, which leaves the address zero.
        result = ::GetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), &size);
        if (result == ERROR_SUCCESS) {
            for (auto* adapter = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()); adapter;
                 adapter = adapter->Next) {
                if (adapter->Type == MIB_IF_TYPE_ETHERNET && adapter->AddressLength == 6) {
                    for (int i = 0; i < 6; ++i) address[i] = adapter->Address[i];
                    break;
                }
            }
        }
    }

    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", address[0], address[1],
                  address[2], address[3], address[4], address[5]);
    return text;
}
