#include "kyv/win/path_helper_impl.hpp"

#include "kyv/common/scope_guard.hpp"
#include "kyv/except/windows_category.hpp"
#include "kyv/win/wide_string_buffer.hpp"

#include <boost/bind/bind.hpp>
#include <boost/system/system_error.hpp>
#include <boost/throw_exception.hpp>

#include <string>
#include <utility>

namespace kyv::win {

namespace {

[[noreturn]] void throw_folder_error(HRESULT hr, const boost::source_location& where) {
    boost::throw_exception(
        boost::system::system_error(static_cast<int>(hr), kyv::except::windows_category()),
        where);
}

}  // namespace

path_helper_impl::path_helper_impl() {
    // shell32 is already part of the process; it is looked up, not loaded.
    // Windows before Vista lacks the export and gets the CSIDL service.
    const FARPROC proc = ::GetProcAddress(::GetModuleHandleW(L"shell32.dll"), "SHGetKnownFolderPath");
    get_known_folder_path_ = reinterpret_cast<known_folder_path_function>(
        reinterpret_cast<void (*)()>(proc));
}

boost::filesystem::path path_helper_impl::GetFolderPath(const KNOWNFOLDERID& id, int csidl,
                                                        HANDLE token) {
    if (get_known_folder_path_) {
        PWSTR path = nullptr;
        const HRESULT hr = get_known_folder_path_(id, KF_FLAG_CREATE, token, &path);
        // The caller owns whatever string the call leaves, whether or not
        // it succeeded.
        boost::shared_ptr<kyv::common::scope_guard> release;
        if (path) release = kyv::common::make_scope_guard(boost::bind(::CoTaskMemFree, path));
        if (FAILED(hr)) throw_folder_error(hr, BOOST_CURRENT_LOCATION);
        return boost::filesystem::path(path ? path : L"");
    }

    if (csidl != 0) {
        std::wstring folder;
        HRESULT hr;
        {
            wide_string_buffer buffer(folder);
            // The CSIDL service is asked without the caller's token.
            hr = ::SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr,
                                    SHGFP_TYPE_CURRENT, buffer);
        }
        if (FAILED(hr)) throw_folder_error(hr, BOOST_CURRENT_LOCATION);
        // On Windows the path keeps the wide text as it is and takes over its
        // buffer; elsewhere it converts, and the move costs nothing.
        // NOLINTNEXTLINE(performance-move-const-arg)
        return boost::filesystem::path(std::move(folder));
    }

    return boost::filesystem::path();
}

boost::filesystem::path path_helper_impl::GetLocalAppDataPath(HANDLE token) {
    return GetFolderPath(FOLDERID_LocalAppData, CSIDL_LOCAL_APPDATA, token);
}

boost::filesystem::path path_helper_impl::GetLocalAppDataLowPath(HANDLE token) {
    // The CSIDL service has no such folder.
    return GetFolderPath(FOLDERID_LocalAppDataLow, 0, token);
}

boost::filesystem::path path_helper_impl::GetProgramDataPath(HANDLE token) {
    return GetFolderPath(FOLDERID_ProgramData, CSIDL_COMMON_APPDATA, token);
}

boost::filesystem::path path_helper_impl::GetProgramFilesPath(HANDLE token) {
    return GetFolderPath(FOLDERID_ProgramFiles, CSIDL_PROGRAM_FILES, token);
}

boost::filesystem::path path_helper_impl::GetRoamingAppDataPath(HANDLE token) {
    return GetFolderPath(FOLDERID_RoamingAppData, CSIDL_APPDATA, token);
}

boost::filesystem::path path_helper_impl::GetSystemPath(HANDLE token) {
    return GetFolderPath(FOLDERID_System, CSIDL_SYSTEM, token);
}

boost::filesystem::path path_helper_impl::GetSystemX86Path(HANDLE token) {
    return GetFolderPath(FOLDERID_SystemX86, CSIDL_SYSTEMX86, token);
}

boost::filesystem::path path_helper_impl::GetDesktopPath(HANDLE token) {
    return GetFolderPath(FOLDERID_Desktop, CSIDL_DESKTOPDIRECTORY, token);
}

path_helper* path_helper_instance() { return path_helper_impl::instance(); }

}  // namespace kyv::win
