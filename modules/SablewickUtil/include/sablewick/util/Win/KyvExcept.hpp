// The one place where a failed Windows call becomes an exception.
#pragma once

#include "platform/win32.h"

#include <boost/assert/source_location.hpp>

// Does nothing when |ok| is nonzero; otherwise throws a
// boost::system::system_error of the "windows" category carrying
// GetLastError(), read before anything else happens. The exception records
// |where|, by default the line that called: every failed call names its own
// place rather than this function's.
void CheckOSError(BOOL ok, const boost::source_location& where = BOOST_CURRENT_LOCATION);
