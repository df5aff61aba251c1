// kernel32: files. Paths are host paths (the model hands the program host
// paths inside the sandbox); a Windows drive path is mapped into the sandbox.
// Each call that changes the disk or opens a file does its work through one
// C library call on the sandbox's real file (open, write, ftruncate, close,
// rename, unlink, rmdir, mkdir, lstat), which passes the boundary of
// file_interposer.cpp like any other file operation: it is recorded and
// counted there, may be failed there, and is judged there as Windows judges
// the Win32 call (access checks, sharing, read-only files, links; see
// files.h), by the Win32Request the call puts on the thread. What a call
// inspects besides (whether a name is taken, what a handle's file is) is
// the model's own business (ModelFileAccess). Calls on a handle that only
// read (ReadFile, GetFileSizeEx, GetFileType, GetFileInformationByHandle,
// GetFinalPathNameByHandleW, SetFilePointerEx) use its descriptor directly,
// as reads pass the boundary unrecorded. The errno that comes back is
// turned into the Win32 error Windows reports for the same situation.
#include "platform/winsim/api_support.h"
#include "platform/winsim/files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using winsim::ApiCall;
using winsim::arg;
using winsim::arg_ptr;
using winsim::OpenFile;
using winsim::Win32Request;
using winsim::Win32RequestScope;

namespace {

namespace fs = std::filesystem;

constexpr DWORD kErrorBadLength = 24;  // ERROR_BAD_LENGTH: STATUS_INFO_LENGTH_MISMATCH

std::string HostPathOf(ApiCall& call, LPCWSTR name) {
    return call.m.sandbox.host_path(winsim::to_utf8(name)).string();
}

// Whether the folder that would hold `path` is missing, for ENOENT.
bool FolderMissing(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return false;
    winsim::ModelFileAccess model;
    struct stat st {};
    return ::stat(path.substr(0, slash).c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
}

DWORD ErrorOf(int err, const std::string& path) {
    return winsim::win32_of_errno(err, err == ENOENT && FolderMissing(path));
}

// The Win32 error of a C library call made for |request|: the boundary's
// verdict when it refused the call, else what the errno means here.
DWORD ErrorOf(const Win32Request& request, int err, const std::string& path) {
    return request.error ? request.error : ErrorOf(err, path);
}

// A caller's security descriptor for a new object: none, the parsed one, or
// false when it is malformed.
bool DescriptorOf(LPSECURITY_ATTRIBUTES attributes,
                  std::optional<winsim::SecurityDescriptor>& out) {
    if (!attributes || !attributes->lpSecurityDescriptor) return true;
    out = winsim::descriptor_at(attributes->lpSecurityDescriptor);
    return out.has_value();
}

std::shared_ptr<OpenFile> FileOf(ApiCall& call, HANDLE h) {
    return call.m.handles.object<OpenFile>(h, "file");
}

// A relative Windows path with the host's separators.
std::string HostSeparators(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

bool IsDriveOrHostPath(const std::string& name) {
    return name.rfind('/', 0) == 0
           || (name.size() >= 3 && std::isalpha(static_cast<unsigned char>(name[0]))
               && name[1] == ':' && (name[2] == '\\' || name[2] == '/'));
}

FILETIME FileTimeOf(std::int64_t sec, std::int64_t nsec) {
    // 100-ns intervals since 1601-01-01.
    const std::uint64_t t = static_cast<std::uint64_t>((sec + 11644473600LL) * 10000000LL
                                                       + nsec / 100);
    return FILETIME{static_cast<DWORD>(t & 0xFFFFFFFFu), static_cast<DWORD>(t >> 32)};
}

timespec TimespecOf(LONGLONG filetime) {
    const LONGLONG since_1970 = filetime - 116444736000000000LL;
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(since_1970 / 10000000LL);
    ts.tv_nsec = static_cast<long>((since_1970 % 10000000LL) * 100);
    return ts;
}

std::string ProcPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace

extern "C" {

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    ApiCall call("CreateFileW", {{"lpFileName", arg(lpFileName)},
                                 {"dwDesiredAccess", dwDesiredAccess},
                                 {"dwShareMode", dwShareMode},
                                 {"lpSecurityAttributes", arg_ptr(lpSecurityAttributes)},
                                 {"dwCreationDisposition", dwCreationDisposition},
                                 {"dwFlagsAndAttributes", dwFlagsAndAttributes},
                                 {"hTemplateFile", arg_ptr(hTemplateFile)}});
    if (call.fault) return call.fail(INVALID_HANDLE_VALUE);
    if (!lpFileName) return call.fail(INVALID_HANDLE_VALUE, ERROR_INVALID_PARAMETER);
    // The forms the program uses; the others are not modelled and say so
    // rather than act differently from Windows.
    constexpr DWORD kUnmodelledFlags = FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING
                                       | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_POSIX_SEMANTICS
                                       | FILE_FLAG_OPEN_NO_RECALL;
    if ((dwCreationDisposition != CREATE_NEW && dwCreationDisposition != OPEN_EXISTING)
        || (dwFlagsAndAttributes & kUnmodelledFlags) || hTemplateFile) {
        call.m.kernel.problems.push_back(
            "CreateFileW: only CREATE_NEW and OPEN_EXISTING, without overlapped I/O, unbuffered "
            "I/O, deletion on "
            "close, POSIX semantics or a template, are modelled");
        return call.fail(INVALID_HANDLE_VALUE, ERROR_NOT_SUPPORTED);
    }
    if (dwShareMode & ~(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return call.fail(INVALID_HANDLE_VALUE, ERROR_INVALID_PARAMETER);
    std::optional<winsim::SecurityDescriptor> security;
    if (!DescriptorOf(lpSecurityAttributes, security))
        return call.fail(INVALID_HANDLE_VALUE, ERROR_INVALID_SECURITY_DESCR);

    auto& m = call.m;
    const std::string path = HostPathOf(call, lpFileName);
    const winsim::Lookup name = m.files.look(m, path);
    if (!name.failure.empty())
        return call.fail(INVALID_HANDLE_VALUE, winsim::kErrorCantResolveFilename);
    const DWORD mapped = winsim::map_generic_file_rights(dwDesiredAccess);
    const bool reads = (mapped & (FILE_READ_DATA | MAXIMUM_ALLOWED)) != 0;
    const bool writes = (mapped & (FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
    const int data = reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;

    Win32Request request;
    request.access = dwDesiredAccess;
    request.share = dwShareMode;
    request.security = security ? &*security : nullptr;
    request.attributes = dwFlagsAndAttributes & winsim::kSettableAttributes;
    int flags = O_CLOEXEC;
    OpenFile::Kind kind = OpenFile::Kind::file;
    if (dwCreationDisposition == CREATE_NEW) {
        // Anything at the name, a link included, is there already and is
        // never followed; a name going away is not free yet.
        if (name.exists && m.files.is_pending(name.id))
            return call.fail(INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);
        flags |= data | O_CREAT | O_EXCL | O_NOFOLLOW;
    } else if (name.exists && name.link != winsim::LinkKind::none
               && (dwFlagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT)) {
        // The reparse point itself, not what it leads to.
        kind = OpenFile::Kind::link;
        flags |= O_PATH | O_NOFOLLOW;
    } else {
        struct stat st {};
        bool folder = false, pipe = false;
        {
            winsim::ModelFileAccess model;
            if (::stat(name.host.c_str(), &st) == 0) {
                folder = S_ISDIR(st.st_mode);
                pipe = S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode);
            }
        }
        if (folder && !(dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS))
            return call.fail(INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);
        if (folder) {
            kind = OpenFile::Kind::folder;
            flags |= O_PATH | O_DIRECTORY;
        } else if (pipe) {
            // Opened without waiting for the other end: nothing blocks.
            kind = OpenFile::Kind::pipe;
            flags |= data | O_NONBLOCK;
        } else {
            flags |= (reads || writes) ? data : O_PATH;
        }
    }

    int fd = -1;
    {
        Win32RequestScope scope(request);
        fd = ::open(path.c_str(), flags, 0666);
    }
    if (fd < 0) return call.fail(INVALID_HANDLE_VALUE, ErrorOf(request, errno, name.host));
    auto file = std::make_shared<OpenFile>(fd, path, request.granted, dwShareMode, kind);
    file->maximum_allowed = (dwDesiredAccess & MAXIMUM_ALLOWED) != 0;
    HANDLE h = m.handles.open("file", file, path);
    call.args["path"] = path;
    return call.done(h);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    ApiCall call("ReadFile", {{"hFile", arg_ptr(hFile)},
                              {"nNumberOfBytesToRead", nNumberOfBytesToRead},
                              {"lpOverlapped", arg_ptr(lpOverlapped)}});
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
    if (call.fault) return call.fail(FALSE);
    auto file = FileOf(call, hFile);
    if (!file) return call.fail(FALSE, ERROR_INVALID_HANDLE);
    if (lpOverlapped) {
        call.m.kernel.problems.push_back("ReadFile: overlapped reads are not modelled");
        return call.fail(FALSE, ERROR_NOT_SUPPORTED);
    }
    if (!lpNumberOfBytesRead) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    if (file->kind() == OpenFile::Kind::folder) return call.fail(FALSE, ERROR_INVALID_FUNCTION);
    if (!(file->access() & FILE_READ_DATA)) return call.fail(FALSE, ERROR_ACCESS_DENIED);
    DWORD done = 0;
    // A link opened as itself has no data of its own to give.
    if (file->kind() != OpenFile::Kind::link) {
        char* bytes = static_cast<char*>(lpBuffer);
        while (done < nNumberOfBytesToRead) {
            const ssize_t n = ::read(file->fd(), bytes + done, nNumberOfBytesToRead - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) {
                // A pipe with nothing in it: Windows would wait; the model says so.
                if (done == 0) return call.fail(FALSE, ERROR_NO_DATA);
                break;
            }
            if (n < 0) return call.fail(FALSE, winsim::win32_of_errno(errno));
            if (n == 0) break;
            done += static_cast<DWORD>(n);
        }
    }
    *lpNumberOfBytesRead = done;
    call.args["lpNumberOfBytesRead"] = done;
    return call.done(TRUE);
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    ApiCall call("WriteFile", {{"hFile", arg_ptr(hFile)},
                               {"nNumberOfBytesToWrite", nNumberOfBytesToWrite},
                               {"lpOverlapped", arg_ptr(lpOverlapped)}});
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    if (call.fault) return call.fail(FALSE);
    auto file = FileOf(call, hFile);
    if (!file) return call.fail(FALSE, ERROR_INVALID_HANDLE);
    if (!lpNumberOfBytesWritten && !lpOverlapped) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    if (file->kind() == OpenFile::Kind::folder) return call.fail(FALSE, ERROR_INVALID_FUNCTION);
    if (!(file->access() & (FILE_WRITE_DATA | FILE_APPEND_DATA))
        || file->kind() == OpenFile::Kind::link)
        return call.fail(FALSE, ERROR_ACCESS_DENIED);
    // A synchronous write to a disk file writes everything or fails; what
    // reached the file before a failure is counted all the same.
    const char* bytes = static_cast<const char*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToWrite) {
        const ssize_t n = ::write(file->fd(), bytes + done, nNumberOfBytesToWrite - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
            call.args["lpNumberOfBytesWritten"] = done;
            return call.fail(FALSE, winsim::win32_of_errno(err));
        }
        done += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
    call.args["lpNumberOfBytesWritten"] = done;
    return call.done(TRUE);
}

BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
    ApiCall call("FlushFileBuffers", {{"hFile", arg_ptr(hFile)}});
    if (call.fault) return call.fail(FALSE);
    // The model knows no power loss: what reached the host file is what any
    // later read sees, so the bytes need not go to the host's disk.
    auto file = FileOf(call, hFile);
    if (!file) return call.fail(FALSE, ERROR_INVALID_HANDLE);
    if (!(file->access() & (FILE_WRITE_DATA | FILE_APPEND_DATA)))
        return call.fail(FALSE, ERROR_ACCESS_DENIED);
    return call.done(TRUE);
}

BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove,
                             PLARGE_INTEGER lpNewFilePointer, DWORD dwMoveMethod) {
    ApiCall call("SetFilePointerEx", {{"hFile", arg_ptr(hFile)},
                                      {"liDistanceToMove", liDistanceToMove.QuadPart},
                                      {"dwMoveMethod", dwMoveMethod}});
    if (call.fault) return call.fail(FALSE);
    auto file = FileOf(call, hFile);
    if (!file) return call.fail(FALSE, ERROR_INVALID_HANDLE);
    if (dwMoveMethod > FILE_END) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    if (file->kind() == OpenFile::Kind::pipe) return call.fail(FALSE, ERROR_INVALID_FUNCTION);
    struct stat st {};
    ::fstat(file->fd(), &st);
    // A handle opened without data access keeps its own position.
    const bool own = file->kind() != OpenFile::Kind::file
                     || !(file->access() & (FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA));
    const std::int64_t current = own ? file->position : ::lseek(file->fd(), 0, SEEK_CUR);
    const std::int64_t base = dwMoveMethod == FILE_BEGIN     ? 0
                              : dwMoveMethod == FILE_CURRENT ? current
                                                             : st.st_size;
    const std::int64_t target = base + liDistanceToMove.QuadPart;
    if (target < 0) return call.fail(FALSE, ERROR_NEGATIVE_SEEK);
    if (own)
        file->position = target;
    else if (::lseek(file->fd(), target, SEEK_SET) < 0)
        return call.fail(FALSE, winsim::win32_of_errno(errno));
    if (lpNewFilePointer) lpNewFilePointer->QuadPart = target;
    call.args["lpNewFilePointer"] = target;
    return call.done(TRUE);
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
    ApiCall call("SetEndOfFile", {{"hFile", arg_ptr(hFile)}});
    if (call.fault) return call.fail(FALSE);
    auto file = FileOf(call, hFile);
    if (!file) return call.fail(FALSE, ERROR_INVALID_HANDLE);
    if (file->kind() != OpenFile::Kind::file) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    if (!(file->access() & FILE_WRITE_DATA)) return call.fail(FALSE, ERROR_ACCESS_DENIED);
    const off_t at = ::lseek(file->fd(), 0, SEEK_CUR);
    if (::ftruncate(file->fd(), at) != 0) return call.fail(FALSE, winsim::win32_of_errno(errno));
    return call.done(TRUE);
}

BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize) {
    ApiCall call("GetFileSizeEx", {{"hFile", arg_ptr(hFile)}});
    if (call.fault) return call.fail(FALSE);
    auto file = FileOf(call, hFile);
    if (!file) return call.fail(FALSE, ERROR_INVALID_HANDLE);
    if (!lpFileSize) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    struct stat st {};
    if (::fstat(file->fd(), &st) != 0) return call.fail(FALSE, winsim::win32_of_errno(errno));
    lpFileSize->QuadPart = file->kind() == OpenFile::Kind::file ? st.st_size : 0;
    call.args["lpFileSize"] = lpFileSize->QuadPart;
    return call.done(TRUE);
}

DWORD WINAPI GetFileType(HANDLE hFile) {
    ApiCall call("GetFileType", {{"hFile", arg_ptr(hFile)}});
    if (call.fault) return call.fail(DWORD{FILE_TYPE_UNKNOWN});
    auto file = FileOf(call, hFile);
    if (!file) return call.fail(DWORD{FILE_TYPE_UNKNOWN}, ERROR_INVALID_HANDLE);
    struct stat st {};
    ::fstat(file->fd(), &st);
    DWORD type = FILE_TYPE_DISK;
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
        type = FILE_TYPE_PIPE;
    else if (S_ISCHR(st.st_mode))
        type = FILE_TYPE_CHAR;
    // A valid FILE_TYPE_UNKNOWN is told from a failure by NO_ERROR.
    call.m.set_last_error(ERROR_SUCCESS);
    return call.done(type);
}

BOOL WINAPI GetFileInformationByHandle(HANDLE hFile,
                                       LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
    ApiCall call("GetFileInformationByHandle", {{"hFile", arg_ptr(hFile)}});
    if (call.fault) return call.fail(FALSE);
    auto file = FileOf(call, hFile);
    if (!file) return call.fail(FALSE, ERROR_INVALID_HANDLE);
    if (!lpFileInformation) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    if (!(file->access() & FILE_READ_ATTRIBUTES)) return call.fail(FALSE, ERROR_ACCESS_DENIED);
    auto& m = call.m;
    struct stat st {};
    if (::fstat(file->fd(), &st) != 0) return call.fail(FALSE, winsim::win32_of_errno(errno));
    struct statx sx {};
    const bool born = ::statx(file->fd(), "", AT_EMPTY_PATH, STATX_BTIME, &sx) == 0
                      && (sx.stx_mask & STATX_BTIME);
    BY_HANDLE_FILE_INFORMATION info{};
    info.dwFileAttributes = m.files.attributes_of_descriptor(m, file->fd(), file->kind());
    info.ftCreationTime = born ? FileTimeOf(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec)
                               : FileTimeOf(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    info.ftLastAccessTime = FileTimeOf(st.st_atim.tv_sec, st.st_atim.tv_nsec);
    info.ftLastWriteTime = FileTimeOf(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    // The volume of the drive the file really lies on.
    const std::string where = m.sandbox.windows_path(file->current_path());
    if (where.size() >= 2 && where[1] == ':')
        if (const auto* drive = m.drives.find(
                static_cast<wchar_t>(std::toupper(static_cast<unsigned char>(where[0])))))
            info.dwVolumeSerialNumber = drive->serial;
    const std::uint64_t size = file->kind() == OpenFile::Kind::file
                                   ? static_cast<std::uint64_t>(st.st_size)
                                   : 0;
    info.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    info.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    // A folder's host link count counts its subfolders; Windows gives 1.
    info.nNumberOfLinks = S_ISDIR(st.st_mode) ? 1 : static_cast<DWORD>(st.st_nlink);
    info.nFileIndexHigh = static_cast<DWORD>(static_cast<std::uint64_t>(st.st_ino) >> 32);
    info.nFileIndexLow = static_cast<DWORD>(static_cast<std::uint64_t>(st.st_ino) & 0xFFFFFFFFu);
    *lpFileInformation = info;
    call.args["lpFileInformation"] = {{"dwFileAttributes", info.dwFileAttributes},
                                      {"dwVolumeSerialNumber", info.dwVolumeSerialNumber},
                                      {"nNumberOfLinks", info.nNumberOfLinks},
                                      {"nFileSize", size}};
    return call.done(TRUE);
}

DWORD WINAPI GetFinalPathNameByHandleW(HANDLE hFile, LPWSTR lpszFilePath, DWORD cchFilePath,
                                       DWORD dwFlags) {
    ApiCall call("GetFinalPathNameByHandleW",
                 {{"hFile", arg_ptr(hFile)}, {"cchFilePath", cchFilePath}, {"dwFlags", dwFlags}});
    if (call.fault) return call.fail(DWORD{0});
    auto file = FileOf(call, hFile);
    if (!file) return call.fail(DWORD{0}, ERROR_INVALID_HANDLE);
    if (dwFlags & ~(FILE_NAME_OPENED | VOLUME_NAME_GUID | VOLUME_NAME_NT | VOLUME_NAME_NONE))
        return call.fail(DWORD{0}, ERROR_INVALID_PARAMETER);
    if ((dwFlags & (VOLUME_NAME_GUID | VOLUME_NAME_NT | VOLUME_NAME_NONE)) != VOLUME_NAME_DOS) {
        call.m.kernel.problems.push_back(
            "GetFinalPathNameByHandleW: only VOLUME_NAME_DOS is modelled");
        return call.fail(DWORD{0}, ERROR_NOT_SUPPORTED);
    }
    // Where the file really is, every link resolved: on the host, its path.
    const std::wstring path = L"\\\\?\\" + winsim::from_utf8(file->current_path());
    call.args["path"] = winsim::to_utf8(path);
    const DWORD length = static_cast<DWORD>(path.size());
    // Too small: the size needed, the terminating null included.
    if (!lpszFilePath || cchFilePath < length + 1) return call.done(length + 1);
    std::copy(path.begin(), path.end(), lpszFilePath);
    lpszFilePath[length] = L'\0';
    return call.done(length);
}

BOOL WINAPI SetFileInformationByHandle(HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                       LPVOID lpFileInformation, DWORD dwBufferSize) {
    ApiCall call("SetFileInformationByHandle",
                 {{"hFile", arg_ptr(hFile)},
                  {"FileInformationClass", static_cast<int>(FileInformationClass)},
                  {"dwBufferSize", dwBufferSize}});
    if (call.fault) return call.fail(FALSE);
    auto& m = call.m;
    auto file = FileOf(call, hFile);
    if (!file) return call.fail(FALSE, ERROR_INVALID_HANDLE);
    if (!lpFileInformation) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    const std::string current = file->current_path();

    switch (FileInformationClass) {
        case FileBasicInfo: {
            if (dwBufferSize < sizeof(FILE_BASIC_INFO)) return call.fail(FALSE, kErrorBadLength);
            if (!(file->access() & FILE_WRITE_ATTRIBUTES))
                return call.fail(FALSE, ERROR_ACCESS_DENIED);
            const auto* info = static_cast<const FILE_BASIC_INFO*>(lpFileInformation);
            call.args["lpFileInformation"] = {{"FileAttributes", info->FileAttributes},
                                              {"LastWriteTime", info->LastWriteTime.QuadPart},
                                              {"LastAccessTime", info->LastAccessTime.QuadPart}};
            constexpr DWORD kValid = winsim::kSettableAttributes | FILE_ATTRIBUTE_NORMAL
                                     | FILE_ATTRIBUTE_DIRECTORY;
            if (info->FileAttributes & ~kValid) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
            winsim::FileNode* node = m.files.node_of_descriptor(m, file->fd());
            // 0 leaves the attributes as they are; FILE_ATTRIBUTE_NORMAL clears them.
            if (node && info->FileAttributes != 0)
                node->attributes = info->FileAttributes & winsim::kSettableAttributes;
            // Zero leaves a time alone, -1 too (it only stops later updates).
            timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
            if (info->LastAccessTime.QuadPart > 0)
                times[0] = TimespecOf(info->LastAccessTime.QuadPart);
            if (info->LastWriteTime.QuadPart > 0)
                times[1] = TimespecOf(info->LastWriteTime.QuadPart);
            if (times[0].tv_nsec != UTIME_OMIT || times[1].tv_nsec != UTIME_OMIT)
                ::utimensat(AT_FDCWD, ProcPath(file->fd()).c_str(), times, 0);
            return call.done(TRUE);
        }
        case FileRenameInfo: {
            if (dwBufferSize < offsetof(FILE_RENAME_INFO, FileName))
                return call.fail(FALSE, kErrorBadLength);
            const auto* info = static_cast<const FILE_RENAME_INFO*>(lpFileInformation);
            if (offsetof(FILE_RENAME_INFO, FileName) + info->FileNameLength > dwBufferSize
                || info->FileNameLength == 0)
                return call.fail(FALSE, ERROR_INVALID_PARAMETER);
            const std::string name = winsim::to_utf8(
                std::wstring(info->FileName, info->FileNameLength / sizeof(WCHAR)));
            call.args["lpFileInformation"] = {{"ReplaceIfExists", info->ReplaceIfExists != 0},
                                              {"RootDirectory", arg_ptr(info->RootDirectory)},
                                              {"FileName", name}};
            if (info->RootDirectory) {
                m.kernel.problems.push_back(
                    "SetFileInformationByHandle: a rename relative to RootDirectory is not "
                    "modelled");
                return call.fail(FALSE, ERROR_NOT_SUPPORTED);
            }
            if (!(file->access() & DELETE)) return call.fail(FALSE, ERROR_ACCESS_DENIED);
            // A full path names the new place; anything else is taken relative
            // to the process's current folder, as FILE_RENAME_INFO's page
            // says (a bare name does not stay in the file's folder).
            std::string target;
            if (IsDriveOrHostPath(name))
                target = m.sandbox.host_path(name).string();
            else
                target = (fs::path(m.kernel.current_directory) / HostSeparators(name)).string();
            call.args["target"] = target;
            if (m.files.look(m, target).exists && !info->ReplaceIfExists)
                return call.fail(FALSE, ERROR_ALREADY_EXISTS);
            Win32Request request;
            request.skip_open = file->fd();
            int result = 0;
            {
                Win32RequestScope scope(request);
                result = ::rename(current.c_str(), target.c_str());
            }
            if (result != 0) return call.fail(FALSE, ErrorOf(request, errno, target));
            return call.done(TRUE);
        }
        case FileDispositionInfo: {
            if (dwBufferSize < sizeof(FILE_DISPOSITION_INFO))
                return call.fail(FALSE, kErrorBadLength);
            const auto* info = static_cast<const FILE_DISPOSITION_INFO*>(lpFileInformation);
            call.args["lpFileInformation"] = {{"DeleteFile", info->DeleteFile != 0}};
            if (!(file->access() & DELETE)) return call.fail(FALSE, ERROR_ACCESS_DENIED);
            struct stat st {};
            if (::fstat(file->fd(), &st) != 0)
                return call.fail(FALSE, winsim::win32_of_errno(errno));
            const winsim::FileId id{static_cast<std::uint64_t>(st.st_dev),
                                    static_cast<std::uint64_t>(st.st_ino)};
            if (!info->DeleteFile) {
                m.files.cancel_pending(id);
                return call.done(TRUE);
            }
            const bool folder = file->kind() == OpenFile::Kind::folder;
            if (folder) {
                winsim::ModelFileAccess model;
                std::error_code ec;
                if (!fs::is_empty(current, ec)) return call.fail(FALSE, ERROR_DIR_NOT_EMPTY);
            }
            // Read-only files, and a name another open may not see go, are
            // refused whether or not the name goes at once.
            std::string why;
            const DWORD refused = m.files.judge_delete(m, m.files.program(m), current, file->fd(),
                                                       why);
            if (refused) {
                call.args["refused"] = why;
                return call.fail(FALSE, refused);
            }
            // Windows removes the name when the last open of the file closes;
            // with this handle the only one, that is now.
            if (!m.files.opens_of(m, id, file->fd()).empty()) {
                m.files.delete_pending(id, current);
                call.args["pending"] = true;
                return call.done(TRUE);
            }
            Win32Request request;
            request.skip_open = file->fd();
            int result = 0;
            {
                Win32RequestScope scope(request);
                result = folder ? ::rmdir(current.c_str()) : ::unlink(current.c_str());
            }
            if (result != 0) return call.fail(FALSE, ErrorOf(request, errno, current));
            return call.done(TRUE);
        }
        default:
            m.kernel.problems.push_back("SetFileInformationByHandle: class "
                                        + std::to_string(static_cast<int>(FileInformationClass))
                                        + " is not modelled");
            return call.fail(FALSE, ERROR_NOT_SUPPORTED);
    }
}

BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
    ApiCall call("CreateDirectoryW", {{"lpPathName", arg(lpPathName)},
                                      {"lpSecurityAttributes", arg_ptr(lpSecurityAttributes)}});
    if (call.fault) return call.fail(FALSE);
    if (!lpPathName) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    std::optional<winsim::SecurityDescriptor> security;
    if (!DescriptorOf(lpSecurityAttributes, security))
        return call.fail(FALSE, ERROR_INVALID_SECURITY_DESCR);
    const std::string path = HostPathOf(call, lpPathName);
    // Anything at the name, a link or a file included, is there already.
    if (call.m.files.look(call.m, path).exists) return call.fail(FALSE, ERROR_ALREADY_EXISTS);
    Win32Request request;
    request.folder = true;
    request.security = security ? &*security : nullptr;
    int result = 0;
    {
        Win32RequestScope scope(request);
        result = ::mkdir(path.c_str(), 0777);
    }
    if (result != 0) {
        const int err = errno;
        return call.fail(FALSE, err == EEXIST ? ERROR_ALREADY_EXISTS : ErrorOf(request, err, path));
    }
    return call.done(TRUE);
}

BOOL WINAPI RemoveDirectoryW(LPCWSTR lpPathName) {
    ApiCall call("RemoveDirectoryW", {{"lpPathName", arg(lpPathName)}});
    if (call.fault) return call.fail(FALSE);
    if (!lpPathName) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    const std::string path = HostPathOf(call, lpPathName);
    const winsim::Lookup name = call.m.files.look(call.m, path);
    if (!name.exists) return call.fail(FALSE, ErrorOf(ENOENT, name.host));
    if (!name.folder) return call.fail(FALSE, ERROR_DIRECTORY);
    Win32Request request;
    request.folder = true;
    int result = 0;
    {
        Win32RequestScope scope(request);
        // A junction or a folder link goes itself, never what it leads to.
        result = name.link != winsim::LinkKind::none ? ::unlink(path.c_str())
                                                     : ::rmdir(path.c_str());
    }
    if (result != 0) return call.fail(FALSE, ErrorOf(request, errno, name.host));
    return call.done(TRUE);
}

BOOL WINAPI MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
    ApiCall call("MoveFileExW", {{"lpExistingFileName", arg(lpExistingFileName)},
                                 {"lpNewFileName", arg(lpNewFileName)},
                                 {"dwFlags", dwFlags}});
    if (call.fault) return call.fail(FALSE);
    if (!lpExistingFileName || !lpNewFileName) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    const std::string from = HostPathOf(call, lpExistingFileName);
    const std::string to = HostPathOf(call, lpNewFileName);
    const winsim::Lookup source = call.m.files.look(call.m, from);
    if (!source.exists) return call.fail(FALSE, ErrorOf(ENOENT, source.host));
    // rename(2) replaces silently; Windows replaces only when asked. A
    // folder at the new name, a read-only file or one open there are
    // refused by the rename itself (see files.h); a link at the new name is
    // itself replaced, never followed.
    if (call.m.files.look(call.m, to).exists && (dwFlags & MOVEFILE_REPLACE_EXISTING) == 0)
        return call.fail(FALSE, ERROR_ALREADY_EXISTS);
    Win32Request request;
    int result = 0;
    {
        Win32RequestScope scope(request);
        result = ::rename(from.c_str(), to.c_str());
    }
    if (result != 0) return call.fail(FALSE, ErrorOf(request, errno, to));
    return call.done(TRUE);
}

BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) {
    ApiCall call("DeleteFileW", {{"lpFileName", arg(lpFileName)}});
    if (call.fault) return call.fail(FALSE);
    if (!lpFileName) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    const std::string path = HostPathOf(call, lpFileName);
    // A folder, or a link that stands for one, is not a file to delete.
    if (call.m.files.look(call.m, path).folder) return call.fail(FALSE, ERROR_ACCESS_DENIED);
    // A link goes itself; what it points at is never touched, unless the
    // link is the object manager's, which leads there first. A read-only
    // file and one held without delete sharing are refused as Windows
    // refuses them.
    Win32Request request;
    int result = 0;
    {
        Win32RequestScope scope(request);
        result = ::unlink(path.c_str());
    }
    if (result != 0) return call.fail(FALSE, ErrorOf(request, errno, path));
    return call.done(TRUE);
}

DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) {
    ApiCall call("GetFileAttributesW", {{"lpFileName", arg(lpFileName)}});
    if (call.fault) return call.fail(INVALID_FILE_ATTRIBUTES);
    if (!lpFileName) return call.fail(INVALID_FILE_ATTRIBUTES, ERROR_INVALID_PARAMETER);
    const std::string path = HostPathOf(call, lpFileName);
    // The name's own attributes: a reparse point is itself, not its target;
    // an object-manager link is what it leads to.
    Win32Request request;
    struct stat st {};
    int result = 0;
    {
        Win32RequestScope scope(request);
        result = ::lstat(path.c_str(), &st);
    }
    if (result != 0) return call.fail(INVALID_FILE_ATTRIBUTES, ErrorOf(request, errno, path));
    return call.done(call.m.files.attributes(call.m, call.m.files.look(call.m, path)));
}

}  // extern "C"
