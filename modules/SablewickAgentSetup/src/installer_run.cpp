#include "installer_run.h"

#include "file_replace.h"
#include "folder_security.h"
#include "kyv/win/unique_handle.hpp"
#include "sablewick/util/Win/KyvExcept.hpp"

#include <boost/assert/source_location.hpp>
#include <boost/format.hpp>
#include <boost/throw_exception.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <cwchar>
#include <stdexcept>
#include <system_error>

namespace sablewick {

namespace {

constexpr DWORD kInstallerWaitMs = 30 * 60 * 1000;

// The package's descriptor: SYSTEM and administrators only. The temporary
// folder may be an ordinary user's, whose rights the file would inherit.
constexpr wchar_t kPackageSddl[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";

}  // namespace

std::wstring TempMsiFileName(DWORD processId, DWORD tickCount) {
    // The longest name the pattern yields is 42 characters; the buffer bounds
    // it all the same.
    wchar_t name[64];
    std::swprintf(name, sizeof(name) / sizeof(name[0]), L"sablewick_remote_%lu_%lu.msi",
                  static_cast<unsigned long>(processId), static_cast<unsigned long>(tickCount));
    return name;
}

std::filesystem::path TempMsiPath() {
    std::filesystem::path folder = std::filesystem::temp_directory_path();
    const DWORD tick = ::GetTickCount();
    const DWORD pid = ::GetCurrentProcessId();
    return folder / TempMsiFileName(pid, tick);
}

std::wstring BuildMsiParameters(bool silent, const std::filesystem::path& logPath, bool notray,
                                const snet::types::OneTimeSettings& oneTime) {
    // Only the log path can hold blanks, so only it is quoted.
    boost::wformat pattern(L" /%s /norestart /l*v \"%s\" TRAY_MODE=%s ONETIME_MODE=%s ONETIME_ID=%s");
    pattern % (silent ? L"qn" : L"qb") % logPath.wstring() % (notray ? L"notray" : L"install")
        % (oneTime.onetime ? L"onetime" : L"manytimes") % boost::uuids::to_wstring(oneTime.id);
    return pattern.str();
}

void RunInstaller(const std::filesystem::path& package, const std::wstring& parameters,
                  bool silent) {
    const std::wstring file = package.wstring();

    SHELLEXECUTEINFOW request = {};
    request.cbSize = sizeof(request);
    // The program's own box reports a failed launch (none when silent); the
    // shell's would come on top of it, and hold a silent run until closed.
    request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    request.lpVerb = L"open";
    request.lpFile = file.c_str();
    request.lpParameters = parameters.c_str();
    request.nShow = silent ? SW_HIDE : SW_SHOWNORMAL;

    CheckOSError(::ShellExecuteExW(&request));
    kyv::win::unique_handle installer(request.hProcess);

    // Without a process handle the wait fails at once and ends like a
    // time-out: there is no way to know when the installer is done.
    if (::WaitForSingleObject(installer.get(), kInstallerWaitMs) == WAIT_OBJECT_0) {
        CheckOSError(::CloseHandle(installer.release()));
        return;
    }

    installer.reset();
    boost::throw_exception(
        std::runtime_error("msiexec did not finish within 30 minutes; see the MSI log named in "
                           "/l*v for the action it was blocked on"),
        BOOST_CURRENT_LOCATION);
}

void RemoveTempMsiOnExit::Written(std::optional<FileId> file) {
    written_ = true;
    file_ = file;
}

RemoveTempMsiOnExit::~RemoveTempMsiOnExit() {
    if (!written_) return;
    if (file_) {
        const kyv::win::unique_handle package = OpenSameFile(package_, DELETE, kShareAll, *file_);
        if (package) DeleteByHandle(package.get(), 0);
        return;
    }
    // Made but never told apart: a plain file at the program's own name in
    // the temporary folder, never a link or what one leads to, is removed.
    const Entry entry = OpenEntry(package_, DELETE, kShareAll);
    if (entry.kind == EntryKind::plain_file) DeleteByHandle(entry.handle.get(), 0);
}

kyv::win::unique_handle WriteHeldPackage(const ResourceData& package,
                                         const std::filesystem::path& path,
                                         RemoveTempMsiOnExit& removal) {
    const std::string_view bytes(reinterpret_cast<const char*>(package.data), package.size);
    const kyv::win::unique_hlocal descriptor = DescriptorFromSddl(kPackageSddl);
    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof(security);
    security.lpSecurityDescriptor = descriptor.get();

    // Made at its name, exclusively (never through a link planted there),
    // and written through a handle that lets others read it but neither
    // write, rename nor delete it. No rename into place: renaming takes a
    // handle with delete access, which every other open then has to share.
    FileId file;
    kyv::win::unique_handle written = FromCreateFile(
        ::CreateFileW(path.wstring().c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                      &security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    bool renamed = false;
    if (written) {
        removal.Written(std::nullopt);
        if (!IdOf(written.get(), file)) ThrowUnableToCreate(path, BOOST_CURRENT_LOCATION);
        removal.Written(file);
        if (!WriteAll(written.get(), bytes) || !::FlushFileBuffers(written.get()))
            ThrowUnableToWrite(path, BOOST_CURRENT_LOCATION);
    } else {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            ThrowUnableToCreate(path, BOOST_CURRENT_LOCATION);
        // Something took the name first: it is replaced as a whole, and
        // whatever comes of the moment that takes is seen below.
        ReplaceResult replaced = ReplaceWholeFile(path, package.data, package.size,
                                                  descriptor.get(), true);
        ThrowIfNotReplaced(path, replaced);
        file = replaced.file;
        removal.Written(file);
        written = std::move(replaced.written);
        renamed = true;
    }

    // From the handle for writing to one for reading that shares only
    // reading, as the installer reads it, with a handle that shares writing
    // as the bridge: at no moment can anyone rename, replace or delete it.
    // Writing is kept from other users by the file's descriptor, but not on
    // a volume without security (a FAT drive), nor from a program of the
    // same account: so the held file must still be the file written, with
    // the bytes written.
    const Entry bridge = OpenEntry(
        path, GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE | (renamed ? FILE_SHARE_DELETE : 0));
    written.reset();
    Entry held = OpenEntry(path, GENERIC_READ, FILE_SHARE_READ);
    if (!held.handle) ThrowFileError("cannot open", path, held.error);
    if (held.kind != EntryKind::plain_file || held.id != file
        || !HoldsExactly(held.handle.get(), bytes)) {
        boost::throw_exception(
            std::runtime_error(
                (boost::format("Another program changed %1% before the installer could read it")
                 % path.u8string())
                    .str()),
            BOOST_CURRENT_LOCATION);
    }
    return std::move(held.handle);
}

void ClearLogName(const std::filesystem::path& log) {
    // A look that no program's sharing refuses: a log file that a viewer
    // holds is no reason to stop. The handle is closed before the rename:
    // Wine refuses to rename over a file that any handle holds open, and to
    // it a link to a file is that file.
    const EntryKind kind = OpenEntry(log, FILE_READ_ATTRIBUTES, kShareAll).kind;
    // Nothing new can appear at the name: its folder is the administrators'.
    if (kind == EntryKind::missing || kind == EntryKind::plain_file || kind == EntryKind::folder)
        return;
    // An empty file takes the name: a rename replaces a link itself, where
    // deleting what the name leads to could reach the link's target.
    ReplaceFileContents(log, "", 0);
}

}  // namespace sablewick
