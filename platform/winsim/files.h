// Files the program opens through the Win32 API: a thin model over the host's
// C library on the sandbox's real files. An open file is a POSIX descriptor
// held by the kernel handle table as a handle of kind "file", so a file left
// open shows among the leaks like any other handle.
#pragma once

#include "platform/win32.h"

#include <string>

namespace winsim {

class OpenFile {
public:
    OpenFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~OpenFile();
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    // Closes the descriptor once; the errno of a failed close, else 0.
    int close();

private:
    int fd_;
    std::string path_;
};

// The Win32 error Windows reports where the host's C library reported
// `err`. `folder_missing` tells a missing file (ERROR_FILE_NOT_FOUND) from a
// missing folder on its path (ERROR_PATH_NOT_FOUND) for ENOENT.
DWORD win32_error_from_errno(int err, bool folder_missing = false);

// Closes the file behind an open "file" handle before the handle table lets
// it go: the Win32 error of a failed close, else 0. Used by CloseHandle.
DWORD close_file_handle(HANDLE h);

}  // namespace winsim
