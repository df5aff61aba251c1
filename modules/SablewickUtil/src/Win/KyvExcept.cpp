#include "sablewick/util/Win/KyvExcept.hpp"

#include "kyv/except/windows_category.hpp"

#include <boost/system/system_error.hpp>
#include <boost/throw_exception.hpp>

void CheckOSError(BOOL ok, const boost::source_location& where) {
    if (ok) return;
    // Read before anything is built: a constructor could change it.
    const DWORD error = ::GetLastError();
    boost::throw_exception(
        boost::system::system_error(static_cast<int>(error), kyv::except::windows_category()),
        where);
}
