// Prints what the Windows tests need to compute the computer identity on
// their own: every adapter GetAdaptersInfo reports, in its order, as
// "adapter <type> <address in lower-case hex pairs joined by colons>". The
// choice among them is the test's.
#include <windows.h>
#include <iphlpapi.h>

#include <cstdio>
#include <vector>

int wmain() {
    ULONG size = 0;
    if (::GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW) return 1;
    std::vector<unsigned char> buffer(size);
    auto* adapter = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
    if (::GetAdaptersInfo(adapter, &size) != NO_ERROR) return 1;
    for (; adapter != nullptr; adapter = adapter->Next) {
        std::printf("adapter %u ", static_cast<unsigned>(adapter->Type));
        for (UINT i = 0; i < adapter->AddressLength; ++i)
            std::printf(i == 0 ? "%02x" : ":%02x", adapter->Address[i]);
        std::printf("\n");
    }
    return 0;
}
