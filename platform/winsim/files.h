// The model's one notion of files. Files are the sandbox's real files; the
// state here is what Windows keeps besides their bytes: the read-only
// attribute and the files running processes hold open with their sharing.
//
// Every file operation on a path inside the sandbox goes through the C
// library's boundary (file_interposer.cpp), whoever makes it: the product's
// std::filesystem and stream calls, and the model's own Win32 file functions
// (api_files.cpp), each built on one C library call. There each operation is
// recorded in the call log, counted under its kind ("open", "write",
// "close", "rename", "remove", "stat", "mkdir"), may be failed through
// Machine::faults with a Win32 error, and is refused where Windows refuses
// it (Files::check_*), whether or not a fault is armed. Errors cross the
// boundary through the one mapping below:
//
//   ERROR_SHARING_VIOLATION (32)  ETXTBSY
//   ERROR_ACCESS_DENIED (5)       EACCES
//   ERROR_DISK_FULL (112)         ENOSPC   (a write: part of the data, then ENOSPC)
//   ERROR_PATH_NOT_FOUND (3),
//   ERROR_FILE_NOT_FOUND (2)      ENOENT
//   ERROR_FILE_EXISTS (80),
//   ERROR_ALREADY_EXISTS (183)    EEXIST
#pragma once

#include "platform/win32.h"
#include "platform/winsim/status_codes.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace winsim {

class Machine;

// One file a simulated process holds open, and what it lets others do with
// it meanwhile (the FILE_SHARE_* flags it opened the file with).
struct HeldFile {
    std::string path;  // host path inside the sandbox
    bool share_read = true;
    bool share_write = false;
    bool share_delete = false;

    nlohmann::json to_json() const;
};

// Profile form: ["C:\\x.cfg", {"path": "C:\\y.cfg", "share": ["read", "delete"]}];
// a bare path shares reading only.
std::vector<HeldFile> held_files_of(Machine& m, const nlohmann::json& list);

// The errno a Win32 error of a file operation shows as, and back.
// |folder_missing| tells a missing file (ERROR_FILE_NOT_FOUND) from a
// missing folder on its path (ERROR_PATH_NOT_FOUND) for ENOENT.
int errno_of_win32(DWORD error);
DWORD win32_of_errno(int error, bool folder_missing = false);

// A file opened through CreateFileW: its descriptor, held by the kernel
// handle table as a handle of kind "file", so that a file left open shows
// among the leaks like any other handle.
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

// Closes the file behind an open "file" handle before the handle table lets
// it go: the Win32 error of a failed close, else 0. Used by CloseHandle.
DWORD close_file_handle(HANDLE h);

// True when the file functions the C++ library reaches are those of
// file_interposer.cpp.
bool file_interposer_in_use();

// File operations of the model itself (the stand-ins' effects, the shell's
// and the process launcher's lookups, building the sandbox, a Win32
// function's own inspection of a path, a test's own reading of a file) are
// neither recorded, counted, refused nor failed while one of these lives on
// the thread.
class ModelFileAccess {
public:
    ModelFileAccess();
    ~ModelFileAccess();
    ModelFileAccess(const ModelFileAccess&) = delete;
    ModelFileAccess& operator=(const ModelFileAccess&) = delete;

    static bool active();
};

// Whether anything stands at |host| (a file, a folder, a link, dangling or
// not), as the model looks: neither recorded, counted, refused nor failed.
bool anything_at(const std::filesystem::path& host);

class Files {
public:
    // The read-only attribute (FILE_ATTRIBUTE_READONLY) of a file by its host
    // path; it follows the file through a rename and goes with it.
    void set_read_only(const std::filesystem::path& host, bool on = true);
    bool read_only(const std::filesystem::path& host) const;

    // Who holds |host| open now: the running processes and the services
    // that are not stopped. One line each ("SablewickRemote (service)").
    std::vector<std::pair<std::string, HeldFile>> holders(Machine& m, const std::filesystem::path& host) const;

    // Windows' own verdicts: 0, or the errno of the Win32 error it gives,
    // with the reason in |why| ("read-only", "held by SablewickRemote
    // (service)").
    int check_open(Machine& m, const std::filesystem::path& host, bool read, bool write, std::string& why) const;
    int check_remove(Machine& m, const std::filesystem::path& host, std::string& why) const;
    int check_rename(Machine& m, const std::filesystem::path& from, const std::filesystem::path& to,
                     std::string& why) const;
    // What a successful operation does to the attributes.
    void removed(const std::filesystem::path& host);
    void renamed(const std::filesystem::path& from, const std::filesystem::path& to);

    // Profile section "files": entries {"text": "...", "read_only": true}
    // are marked read-only (Sandbox::load_files made them).
    void load(const nlohmann::json& section, Machine& m);

    // Whether the C library functions in use are the model's (false when
    // the executable's definitions were not linked in).
    bool interposing() const { return file_interposer_in_use(); }

private:
    std::set<std::string> read_only_;  // keys: see key_of in files.cpp
};

}  // namespace winsim
