// The one place where a failed Windows call becomes an exception.
#pragma once

#include "platform/win32.h"

// Does nothing when |ok| is nonzero; otherwise throws a
// boost::system::system_error of the "windows" category carrying
// GetLastError(), read before anything else happens.
void CheckOSError(BOOL ok);
