// kernel32: files. Paths are host paths (the model hands the program host
// paths inside the sandbox); a Windows drive path is mapped into the sandbox.
// Each call does its work through one C library call on the sandbox's real
// file (open, write, close, rename, unlink, lstat), which passes the
// boundary of file_interposer.cpp like any other file operation: it is
// recorded and counted there, may be failed there, and is refused there
// where Windows refuses it (the read-only attribute, files held open; see
// files.h). What a call inspects besides is the model's own business
// (ModelFileAccess). The errno that comes back is turned into the Win32
// error Windows reports for the same situation.
#include "platform/winsim/api_support.h"
#include "platform/winsim/files.h"

#include <cerrno>
#include <memory>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using winsim::ApiCall;
using winsim::arg;
using winsim::arg_ptr;

namespace {

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
    // The program creates new files for writing only; other forms are not
    // modelled and say so rather than act differently from Windows.
    if (dwCreationDisposition != CREATE_NEW || (dwDesiredAccess & ~GENERIC_WRITE) != 0) {
        call.m.kernel.problems.push_back("CreateFileW: only CREATE_NEW with GENERIC_WRITE is modelled");
        return call.fail(INVALID_HANDLE_VALUE, ERROR_NOT_SUPPORTED);
    }
    const std::string path = HostPathOf(call, lpFileName);
    // O_EXCL fails on anything at the name, a symbolic link included, and
    // never follows one: CREATE_NEW as Windows has it.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return call.fail(INVALID_HANDLE_VALUE, ErrorOf(errno, path));
    HANDLE h = call.m.handles.open("file", std::make_shared<winsim::OpenFile>(fd, path), path);
    call.args["path"] = path;
    return call.done(h);
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    ApiCall call("WriteFile", {{"hFile", arg_ptr(hFile)},
                               {"nNumberOfBytesToWrite", nNumberOfBytesToWrite},
                               {"lpOverlapped", arg_ptr(lpOverlapped)}});
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    if (call.fault) return call.fail(FALSE);
    auto file = call.m.handles.object<winsim::OpenFile>(hFile, "file");
    if (!file) return call.fail(FALSE, ERROR_INVALID_HANDLE);
    if (!lpNumberOfBytesWritten && !lpOverlapped) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
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
    if (!call.m.handles.object<winsim::OpenFile>(hFile, "file")) return call.fail(FALSE, ERROR_INVALID_HANDLE);
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
    if (!winsim::anything_at(from)) return call.fail(FALSE, ErrorOf(ENOENT, from));
    // rename(2) replaces silently; Windows replaces only when asked. A
    // folder at the new name, a read-only file or one held open there are
    // refused by the rename itself (see files.h); a link at the new name is
    // itself replaced, never followed.
    if (winsim::anything_at(to) && (dwFlags & MOVEFILE_REPLACE_EXISTING) == 0)
        return call.fail(FALSE, ERROR_ALREADY_EXISTS);
    if (::rename(from.c_str(), to.c_str()) != 0) return call.fail(FALSE, ErrorOf(errno, to));
    return call.done(TRUE);
}

BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) {
    ApiCall call("DeleteFileW", {{"lpFileName", arg(lpFileName)}});
    if (call.fault) return call.fail(FALSE);
    if (!lpFileName) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    const std::string path = HostPathOf(call, lpFileName);
    // A link goes itself; what it points at is never touched. A folder
    // (EISDIR), a read-only file and one held without delete sharing are
    // refused as Windows refuses them.
    if (::unlink(path.c_str()) != 0) return call.fail(FALSE, ErrorOf(errno, path));
    return call.done(TRUE);
}

DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) {
    ApiCall call("GetFileAttributesW", {{"lpFileName", arg(lpFileName)}});
    if (call.fault) return call.fail(INVALID_FILE_ATTRIBUTES);
    if (!lpFileName) return call.fail(INVALID_FILE_ATTRIBUTES, ERROR_INVALID_PARAMETER);
    const std::string path = HostPathOf(call, lpFileName);
    // The name's own attributes: a link is a reparse point, not its target.
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return call.fail(INVALID_FILE_ATTRIBUTES, ErrorOf(errno, path));
    DWORD attributes = 0;
    if (S_ISLNK(st.st_mode)) {
        struct stat target {};
        attributes = FILE_ATTRIBUTE_REPARSE_POINT;
        winsim::ModelFileAccess model;
        if (::stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode))
            attributes |= FILE_ATTRIBUTE_DIRECTORY;
    } else if (S_ISDIR(st.st_mode)) {
        attributes = FILE_ATTRIBUTE_DIRECTORY;
    } else if (S_ISREG(st.st_mode)) {
        attributes = FILE_ATTRIBUTE_ARCHIVE;
        if (call.m.files.read_only(path)) attributes |= FILE_ATTRIBUTE_READONLY;
    } else {
        attributes = FILE_ATTRIBUTE_DEVICE;
    }
    return call.done(attributes);
}

}  // extern "C"
