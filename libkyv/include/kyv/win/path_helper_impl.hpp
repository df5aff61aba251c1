// The path helper of the running Windows: the shell's known-folder service
// where it exists, the older CSIDL service otherwise.
#pragma once

#include "kyv/win/path_helper.hpp"
#include "kyv/win/singleton.hpp"

#include "platform/win32.h"

#include <boost/core/noncopyable.hpp>
#include <boost/filesystem/path.hpp>

namespace kyv::win {

class path_helper_impl : public boost::singleton<path_helper_impl, 0, void>,
                         private boost::noncopyable,
                         public path_helper {
public:
    using known_folder_path_function = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);

    ~path_helper_impl() override = default;

    boost::filesystem::path GetLocalAppDataPath(HANDLE token) override;
    boost::filesystem::path GetLocalAppDataLowPath(HANDLE token) override;
    boost::filesystem::path GetProgramDataPath(HANDLE token) override;
    boost::filesystem::path GetProgramFilesPath(HANDLE token) override;
    boost::filesystem::path GetRoamingAppDataPath(HANDLE token) override;
    boost::filesystem::path GetSystemPath(HANDLE token) override;
    boost::filesystem::path GetSystemX86Path(HANDLE token) override;
    boost::filesystem::path GetDesktopPath(HANDLE token) override;

    // The folder |id|, created when missing. Without the known-folder service
    // the folder comes from |csidl| with no token (0: no such folder there,
    // and the result is empty). A failed lookup throws its HRESULT as a
    // boost::system::system_error of the "windows" category.
    boost::filesystem::path GetFolderPath(const KNOWNFOLDERID& id, int csidl, HANDLE token);

private:
    friend class boost::singleton<path_helper_impl, 0, void>;
    path_helper_impl();

    // Resolved once, at construction; null on a Windows without it.
    known_folder_path_function get_known_folder_path_ = nullptr;
};

}  // namespace kyv::win
