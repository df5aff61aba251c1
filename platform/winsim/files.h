// The model's one notion of files. Files are the sandbox's real files; the
// state here is what Windows keeps besides their bytes: each file's
// attributes and security descriptor, which host symbolic links stand for
// which kind of Windows link, every open of a file with its access and
// sharing, and the files running processes hold open.
//
// A file is its host inode (FileId): hard links are one file under several
// names, a rename keeps the file and its state, and what a name shows is
// decided by the host (symbolic links, FIFOs, folders) and this state
// together. Host symbolic links stand for the three kinds of Windows links
// (LinkKind): NTFS symbolic links and junctions, which are reparse points,
// and object-manager symbolic links, which are not: Windows follows those
// for every call, and only the final path of a handle shows where it went.
//
// Every file operation on a path inside the sandbox goes through the C
// library's boundary (file_interposer.cpp), whoever makes it: the product's
// std::filesystem and stream calls, and the model's own Win32 file functions
// (api_files.cpp), each built on one C library call that carries the Win32
// request it serves (Win32Request). There each operation is recorded in the
// call log, counted under its kind ("open", "write", "truncate", "close",
// "rename", "remove", "stat", "mkdir"), may be failed through
// Machine::faults with a Win32 error, and is refused where Windows refuses
// it (the judge_* verdicts below), whether or not a fault is armed. The
// simulated processes (watchers, the installer stand-in) meet the same
// verdicts as their own users. Errors cross the boundary through the one
// mapping below:
//
//   ERROR_SHARING_VIOLATION (32)  ETXTBSY
//   ERROR_ACCESS_DENIED (5)       EACCES
//   ERROR_DISK_FULL (112)         ENOSPC   (a write: part of the data, then ENOSPC)
//   ERROR_PATH_NOT_FOUND (3),
//   ERROR_FILE_NOT_FOUND (2)      ENOENT
//   ERROR_FILE_EXISTS (80),
//   ERROR_ALREADY_EXISTS (183)    EEXIST
//   ERROR_DIR_NOT_EMPTY (145)     ENOTEMPTY
#pragma once

#include "platform/win32.h"
#include "platform/winsim/security_descriptors.h"
#include "platform/winsim/status_codes.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

class Machine;

// One file a simulated process holds open: what it opened it for and what
// it lets others do with it meanwhile (the FILE_SHARE_* flags it opened the
// file with).
struct HeldFile {
    std::string path;  // host path inside the sandbox
    DWORD access = FILE_GENERIC_READ;
    bool share_read = true;
    bool share_write = false;
    bool share_delete = false;

    DWORD share() const;
    nlohmann::json to_json() const;
};

// Profile form: ["C:\\x.cfg", {"path": "C:\\y.cfg", "share": ["read", "delete"],
// "access": ["read", "write"]}]; a bare path is opened for reading and
// shares reading only.
std::vector<HeldFile> held_files_of(Machine& m, const nlohmann::json& list);

// The errno a Win32 error of a file operation shows as, and back.
// |folder_missing| tells a missing file (ERROR_FILE_NOT_FOUND) from a
// missing folder on its path (ERROR_PATH_NOT_FOUND) for ENOENT.
int errno_of_win32(DWORD error);
DWORD win32_of_errno(int error, bool folder_missing = false);

// One file, however many names it has: the host's device and inode.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator<(const FileId& o) const {
        return device != o.device ? device < o.device : inode < o.inode;
    }
    bool operator==(const FileId& o) const { return device == o.device && inode == o.inode; }
};

enum class LinkKind {
    none,
    symbolic,  // NTFS symbolic link (IO_REPARSE_TAG_SYMLINK), to a file or a folder
    junction,  // mount point (IO_REPARSE_TAG_MOUNT_POINT), always a folder
    object,    // object-manager symbolic link: no reparse point, always followed
};
const char* link_kind_name(LinkKind kind);

// The attributes FILE_BASIC_INFO can set; the others follow from the host.
inline constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN
                                             | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE
                                             | FILE_ATTRIBUTE_TEMPORARY
                                             | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// What Windows keeps of a file besides its bytes.
struct FileNode {
    DWORD attributes = 0;  // within kSettableAttributes
    SecurityDescriptor security;
    LinkKind link = LinkKind::none;
    // The host's birth time of the inode: a node whose inode the host gave
    // to a new file since is stale.
    std::int64_t birth_sec = -1;
    std::int64_t birth_nsec = 0;
};

// Who acts on a file: the program (its token) or a simulated process (its
// user's); |name| appears in refusals ("held by ...").
struct Actor {
    Identity identity;
    std::string name;
};

// One open of a file: what it was granted and what it shares.
struct FileOpen {
    FileId id;
    DWORD access = 0;
    DWORD share = 0;
    std::string who;
};

// A name as Windows resolves it for a call: object-manager links at its
// last component followed (they are followed even where reparse points are
// not); a reparse point there is the name's own.
struct Lookup {
    std::string host;  // the path to act on
    bool exists = false;
    bool folder_missing = false;  // a folder on the way is missing
    FileId id;                    // of the name itself, not followed
    unsigned mode = 0;            // st_mode of the name itself
    LinkKind link = LinkKind::none;
    bool folder = false;  // a folder, or a link that stands for one
    bool fifo = false;
    std::string failure;  // a loop of object links: ERROR_CANT_RESOLVE_FILENAME
};

// What a Win32 file function of the model asks of the C library call it
// makes (CreateFileW its open, DeleteFileW its unlink, ...): the boundary
// judges that call by this instead of by the C library's flags, and hands
// back the Win32 error of a refusal. Lives on the thread for one call.
struct Win32Request {
    DWORD access = 0;  // as asked: generic rights, MAXIMUM_ALLOWED
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    bool folder = false;  // the call wants a folder (CreateDirectoryW, RemoveDirectoryW)
    const SecurityDescriptor* security = nullptr;  // a new object's, from the caller
    DWORD attributes = 0;                          // a new file's
    long skip_open = -1;  // the caller's own open, left out of sharing (its fd)

    // Set by the boundary.
    DWORD error = 0;          // the refusal's Win32 error
    ACCESS_MASK granted = 0;  // what an open was granted
};
class Win32RequestScope {
public:
    explicit Win32RequestScope(Win32Request& request);
    ~Win32RequestScope();
    Win32RequestScope(const Win32RequestScope&) = delete;
    Win32RequestScope& operator=(const Win32RequestScope&) = delete;
    static Win32Request* current();

private:
    Win32Request* previous_;
};

// A file opened through CreateFileW: its descriptor, held by the kernel
// handle table as a handle of kind "file", so that a file left open shows
// among the leaks like any other handle.
class OpenFile {
public:
    enum class Kind { file, folder, link, pipe };
    OpenFile(int fd, std::string path, DWORD access, DWORD share, Kind kind)
        : fd_(fd), path_(std::move(path)), access_(access), share_(share), kind_(kind) {}
    ~OpenFile();
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }  // the name it was opened by
    DWORD access() const { return access_; }           // granted
    DWORD share() const { return share_; }
    Kind kind() const { return kind_; }
    // Where the file is now (renames followed), as the host knows it.
    std::string current_path() const;
    // A handle without data access has a position of its own.
    std::int64_t position = 0;
    // Opened for MAXIMUM_ALLOWED: SetSecurityInfo does not propagate through it.
    bool maximum_allowed = false;
    // Closes the descriptor once; the errno of a failed close, else 0.
    int close();

private:
    int fd_;
    std::string path_;
    DWORD access_;
    DWORD share_;
    Kind kind_;
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
    // ---- what a name shows
    Lookup look(Machine& m, const std::string& host);
    // The state of the file at |host| (the name itself, or what it leads to
    // with |follow|), made as Windows would have made it, inherited from its
    // folder, when the model has none yet; null when nothing is there.
    FileNode* node(Machine& m, const std::filesystem::path& host, bool follow);
    // The attributes GetFileAttributesW reports for a name (Lookup), and for
    // the file behind a handle's descriptor.
    DWORD attributes(Machine& m, const Lookup& name);
    DWORD attributes_of_descriptor(Machine& m, int fd, OpenFile::Kind kind);
    FileNode* node_of_descriptor(Machine& m, int fd);
    // The folder that holds the file behind a descriptor, and its state.
    std::string folder_of_descriptor(int fd) const;

    // The read-only attribute (FILE_ATTRIBUTE_READONLY) of the file behind a
    // host path; it belongs to the file, so it goes with it through a
    // rename and is shared by its hard links.
    void set_read_only(const std::filesystem::path& host, bool on = true);
    bool read_only(const std::filesystem::path& host);

    // ---- opens
    // Every open of |id|: the program's descriptors and handles (registered
    // by descriptor) and what running processes and services hold, except
    // the open registered under |skip|. The simulated processes' own opens
    // last for one call of theirs and are judged against these.
    std::vector<FileOpen> opens_of(Machine& m, const FileId& id, long skip = -1);
    void opened(long key, FileOpen open);
    void closed(Machine& m, long key);

    // ---- Windows' own verdicts: ERROR_SUCCESS, or the Win32 error Windows
    // gives, with the reason in |why|. Paths are Lookup::host.
    //
    // Opening what is at |host|: the link itself (|link_itself|) or what it
    // leads to; a missing name is created when |create|, an existing one
    // refused when |exclusive| (the host tells that). |granted| receives
    // what the open is granted.
    DWORD judge_open(Machine& m, const Actor& who, const std::string& host, DWORD access,
                     DWORD share, bool link_itself, bool create, bool folder, long skip,
                     ACCESS_MASK& granted, std::string& why);
    DWORD judge_create(Machine& m, const Actor& who, const std::string& host, bool folder,
                       std::string& why);
    DWORD judge_delete(Machine& m, const Actor& who, const std::string& host, long skip,
                       std::string& why);
    DWORD judge_rename(Machine& m, const Actor& who, const std::string& from, const std::string& to,
                       long skip, std::string& why);
    DWORD judge_read_attributes(Machine& m, const Actor& who, const std::string& host, bool follow,
                                std::string& why);
    // Reads the whole file at |host| as |who| opening it for reading with
    // |share|: links, access and sharing as for any open.
    DWORD read_as(Machine& m, const Actor& who, const std::string& host, DWORD share,
                  std::string& bytes, std::string& why);
    // What |who| is granted on the file at |host| by its descriptor and, for
    // FILE_READ_ATTRIBUTES and DELETE, by its folder's.
    ACCESS_MASK granted(Machine& m, const Actor& who, const std::string& host, bool follow);

    // What a successful operation does to the state.
    void created(Machine& m, const std::string& host, const Identity& creator,
                 const SecurityDescriptor* security, DWORD attributes);
    // Before a name goes (unlink, rmdir, or the target of a rename): a file
    // whose last name it is goes with it.
    void forget_if_last(Machine& m, const std::string& host);
    void forget(const FileId& id) { nodes_.erase(id); }

    // A deletion through a handle while other opens remain: Windows removes
    // the name when the last of them closes, and refuses every open of the
    // file meanwhile (STATUS_DELETE_PENDING).
    void delete_pending(const FileId& id, const std::string& name);
    void cancel_pending(const FileId& id);
    bool is_pending(const FileId& id) const { return pending_.count(id) != 0; }
    // Removes the pending names no open holds any longer.
    void settle(Machine& m);

    // The program's own actor: its token now.
    Actor program(Machine& m);

    // Sets the descriptor of the object at |host|; with propagation (a
    // folder's new DACL), re-inherits the DACLs of what lies below that is
    // not protected, links not followed.
    void set_security(Machine& m, const std::string& host, bool follow,
                      const SecurityDescriptor& sd, bool propagate);
    // The descriptor a new object at |host| would get from its folder.
    SecurityDescriptor parent_security(Machine& m, const std::string& host);

    // Profile section "files" (see docs/simulated-windows.md): files,
    // folders, links, hard links and FIFOs are made, then their owners,
    // descriptors and attributes set, shallow paths first.
    void load(const nlohmann::json& section, Machine& m);

    // Whether the C library functions in use are the model's (false when
    // the executable's definitions were not linked in).
    bool interposing() const { return file_interposer_in_use(); }

private:
    FileNode& fresh_node(Machine& m, const FileId& id, const std::filesystem::path& host,
                         unsigned mode);
    void secure_known_folders(Machine& m);

    std::map<FileId, FileNode> nodes_;
    std::map<long, FileOpen> opens_;
    std::map<FileId, std::string> pending_;
};

}  // namespace winsim
