// The one platform header of the product. Every system source includes this
// instead of <windows.h>: on Windows it is the SDK, elsewhere it is our own
// declaration of the Win32 subset the setup program talks to, implemented by
// the simulated machine in platform/winsim.
#pragma once

#if defined(_WIN32)

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <knownfolders.h>
#include <wtsapi32.h>
#include <userenv.h>
#include <iphlpapi.h>
#include <winsvc.h>
#include <aclapi.h>
#include <sddl.h>

#else

#include "platform/host/win32_api.h"

#endif
