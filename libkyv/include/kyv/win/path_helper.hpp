// Where Windows keeps its well-known folders.
#pragma once

#include "platform/win32.h"

#include <boost/filesystem/path.hpp>

namespace kyv::win {

class path_helper {
public:
    virtual ~path_helper() = default;
    virtual boost::filesystem::path GetLocalAppDataPath(HANDLE token) = 0;
    virtual boost::filesystem::path GetLocalAppDataLowPath(HANDLE token) = 0;
    virtual boost::filesystem::path GetProgramDataPath(HANDLE token) = 0;
    virtual boost::filesystem::path GetProgramFilesPath(HANDLE token) = 0;
    virtual boost::filesystem::path GetRoamingAppDataPath(HANDLE token) = 0;
    virtual boost::filesystem::path GetSystemPath(HANDLE token) = 0;
    virtual boost::filesystem::path GetSystemX86Path(HANDLE token) = 0;
    virtual boost::filesystem::path GetDesktopPath(HANDLE token) = 0;
};

// The process-wide path helper, made on first use; never null.
path_helper* path_helper_instance();

}  // namespace kyv::win
