// Elevation: whether this process runs with an administrator's full rights,
// and the re-launch of the program through the shell's "runas" verb.
#pragma once

#include "platform/win32.h"

#include <boost/noncopyable.hpp>
#include <boost/signals2/signal.hpp>

#include <string>

namespace sablewick {

class UAC : private boost::noncopyable {
public:
    ~UAC();

    // Nonzero when the calling thread's token is a member of the built-in
    // Administrators group (an elevated token). A failed check answers FALSE.
    BOOL IsAdmin();

    // Starts an elevated copy of this program with |parameters| as its
    // command line after the program's path, unless IsAdmin() already
    // answers nonzero. Does not wait for the copy. A failure is announced
    // through errorSignal; a declined consent prompt announces nothing.
    void RunElevated(const std::wstring& parameters);

    // Carries the UTF-8 text of the exception that stopped a re-launch.
    boost::signals2::signal<void(const std::string&)> errorSignal;
};

}  // namespace sablewick
