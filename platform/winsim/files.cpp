#include "platform/winsim/files.h"

#include "platform/winsim/machine.h"
#include "platform/winsim/text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winsim {

namespace fs = std::filesystem;

namespace {

thread_local int t_model_depth = 0;
thread_local Win32Request* t_request = nullptr;

// Descriptors Windows gives the folders the setup meets (their SDDL as
// icacls and Get-Acl show them on a fresh installation).
const char kDriveRootSddl[] =
    "O:SYG:SYD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)"
    "(A;;LC;;;AU)";
const char kProgramDataSddl[] =
    "O:SYG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)"
    "(A;CI;DCLCRPCR;;;BU)";
// C:\Windows, System32, the Program Files folders: TrustedInstaller's.
const char kSystemFolderSddl[] =
    "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
    "G:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
    "D:PAI(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"
    "(A;CIIO;GA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"
    "(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)"
    "(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)";
const char kUsersSddl[] =
    "O:SYG:SYD:PAI(A;OICIIO;GA;;;CO)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
    "(A;;0x1200a9;;;WD)";

SecurityDescriptor parsed(const std::string& sddl) {
    DWORD error = 0;
    auto sd = descriptor_from_sddl(sddl, error);
    if (!sd) throw std::logic_error("winsim: malformed built-in descriptor " + sddl);
    return *sd;
}

// A user's profile folder: the user, SYSTEM and Administrators, protected.
SecurityDescriptor profile_folder_security(const SidValue& user) {
    SecurityDescriptor sd = parsed("O:SYG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
    sd.owner = user;
    sd.group = user;
    sd.dacl.push_back(Ace{ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                          FILE_ALL_ACCESS, user});
    return sd;
}

bool lstat_of(const std::string& p, struct stat& st) {
    ModelFileAccess model;
    return ::lstat(p.c_str(), &st) == 0;
}

bool stat_of(const std::string& p, struct stat& st) {
    ModelFileAccess model;
    return ::stat(p.c_str(), &st) == 0;
}

FileId id_of(const struct stat& st) {
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

void birth_of(const std::string& p, bool follow, std::int64_t& sec, std::int64_t& nsec) {
    struct statx sx {};
    sec = -1;
    nsec = 0;
    if (::statx(AT_FDCWD, p.c_str(), follow ? 0 : AT_SYMLINK_NOFOLLOW, STATX_BTIME, &sx) == 0
        && (sx.stx_mask & STATX_BTIME)) {
        sec = sx.stx_btime.tv_sec;
        nsec = sx.stx_btime.tv_nsec;
    }
}

std::string real_path(const std::string& p) {
    ModelFileAccess model;
    char buf[PATH_MAX];
    return ::realpath(p.c_str(), buf) ? std::string(buf) : std::string();
}

// The name's own path with the folders on the way resolved: where the host
// keeps it.
std::string physical(const std::string& host, bool follow) {
    if (follow) {
        std::string r = real_path(host);
        return r.empty() ? fs::path(host).lexically_normal().string() : r;
    }
    const fs::path p = fs::path(host).lexically_normal();
    std::string parent = real_path(p.parent_path().string());
    if (parent.empty()) return p.string();
    return (fs::path(parent) / p.filename()).string();
}

std::string parent_of(const std::string& host) {
    return fs::path(host).lexically_normal().parent_path().string();
}

// The drive a sandbox path lies on ("<root>/C"), or empty.
std::string drive_of(Machine& m, const std::string& host) {
    if (!m.sandbox.contains(host)) return {};
    const fs::path rel = fs::path(host).lexically_normal().lexically_relative(m.sandbox.root());
    const std::string first = rel.begin() == rel.end() ? std::string() : rel.begin()->string();
    if (first.size() != 1 || !std::isalpha(static_cast<unsigned char>(first[0]))) return {};
    return (m.sandbox.root() / first).string();
}

// Sharing as MS-FSA 2.1.5.1.2.2 checks it: only opens for data or deletion
// take part, and each side must share what the other does.
bool conflicts(const FileOpen& existing, DWORD access, DWORD share) {
    constexpr DWORD kRead = FILE_READ_DATA | FILE_EXECUTE,
                    kWrite = FILE_WRITE_DATA | FILE_APPEND_DATA;
    constexpr DWORD kTakesPart = kRead | kWrite | DELETE;
    if (!(access & kTakesPart) || !(existing.access & kTakesPart)) return false;
    if ((existing.access & kRead) && !(share & FILE_SHARE_READ)) return true;
    if ((existing.access & kWrite) && !(share & FILE_SHARE_WRITE)) return true;
    if ((existing.access & DELETE) && !(share & FILE_SHARE_DELETE)) return true;
    if ((access & kRead) && !(existing.share & FILE_SHARE_READ)) return true;
    if ((access & kWrite) && !(existing.share & FILE_SHARE_WRITE)) return true;
    if ((access & DELETE) && !(existing.share & FILE_SHARE_DELETE)) return true;
    return false;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A folder, or a link that stands for one: what inherits as a container.
bool container(const std::string& host, const FileNode& n) {
    struct stat st {};
    return n.link == LinkKind::junction || (stat_of(host, st) && S_ISDIR(st.st_mode));
}

std::string read_link(const std::string& host) {
    ModelFileAccess model;
    std::error_code ec;
    fs::path target = fs::read_symlink(host, ec);
    if (ec) return {};
    if (target.is_relative()) target = fs::path(host).parent_path() / target;
    return target.lexically_normal().string();
}

}  // namespace

const char* link_kind_name(LinkKind kind) {
    switch (kind) {
        case LinkKind::symbolic:
            return "symbolic link";
        case LinkKind::junction:
            return "junction";
        case LinkKind::object:
            return "object-manager link";
        case LinkKind::none:
            break;
    }
    return "none";
}

DWORD HeldFile::share() const {
    return (share_read ? FILE_SHARE_READ : 0u) | (share_write ? FILE_SHARE_WRITE : 0u)
           | (share_delete ? FILE_SHARE_DELETE : 0u);
}

nlohmann::json HeldFile::to_json() const {
    nlohmann::json share = nlohmann::json::array();
    if (share_read) share.push_back("read");
    if (share_write) share.push_back("write");
    if (share_delete) share.push_back("delete");
    return {{"path", path}, {"access", access}, {"share", share}};
}

std::vector<HeldFile> held_files_of(Machine& m, const nlohmann::json& list) {
    std::vector<HeldFile> out;
    if (list.is_null()) return out;
    if (!list.is_array()) throw std::runtime_error("profile: \"open_files\" must be a list");
    for (const auto& e : list) {
        HeldFile h;
        if (e.is_string()) {
            h.path = m.sandbox.host_path(e.get<std::string>()).string();
        } else {
            h.path = m.sandbox.host_path(e.at("path").get<std::string>()).string();
            if (e.contains("share")) {
                h.share_read = false;
                for (const auto& s : e["share"]) {
                    const std::string v = s.get<std::string>();
                    if (v == "read") h.share_read = true;
                    else if (v == "write") h.share_write = true;
                    else if (v == "delete") h.share_delete = true;
                    else throw std::runtime_error("profile: unknown sharing \"" + v + "\"");
                }
            }
            if (e.contains("access")) {
                h.access = 0;
                for (const auto& s : e["access"]) {
                    const std::string v = s.get<std::string>();
                    if (v == "read")
                        h.access |= FILE_GENERIC_READ;
                    else if (v == "write")
                        h.access |= FILE_GENERIC_WRITE;
                    else if (v == "delete")
                        h.access |= DELETE;
                    else
                        throw std::runtime_error("profile: unknown access \"" + v + "\"");
                }
            }
        }
        out.push_back(std::move(h));
    }
    return out;
}

int errno_of_win32(DWORD error) {
    switch (error) {
        case ERROR_SHARING_VIOLATION: return ETXTBSY;
        case ERROR_ACCESS_DENIED: return EACCES;
        case ERROR_DISK_FULL:
        case kErrorHandleDiskFull: return ENOSPC;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return ENOENT;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return EEXIST;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        case ERROR_NOT_ENOUGH_MEMORY: return ENOMEM;
        case ERROR_INVALID_HANDLE: return EBADF;
        case ERROR_INVALID_PARAMETER: return EINVAL;
        default: return EIO;
    }
}

DWORD win32_of_errno(int error, bool folder_missing) {
    switch (error) {
        case 0: return ERROR_SUCCESS;
        case ETXTBSY:
        case EBUSY: return ERROR_SHARING_VIOLATION;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case ENOSPC:
        case EDQUOT: return ERROR_DISK_FULL;
        case ENOENT: return folder_missing ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EEXIST: return ERROR_FILE_EXISTS;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        case EBADF: return ERROR_INVALID_HANDLE;
        case EINVAL: return ERROR_INVALID_PARAMETER;
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        case ELOOP:
            return kErrorCantResolveFilename;
        case ENXIO:
            return kErrorPipeNotConnected;
        default: return ERROR_GEN_FAILURE;
    }
}

Win32RequestScope::Win32RequestScope(Win32Request& request) : previous_(t_request) {
    t_request = &request;
}
Win32RequestScope::~Win32RequestScope() { t_request = previous_; }
Win32Request* Win32RequestScope::current() { return t_request; }

OpenFile::~OpenFile() { close(); }

int OpenFile::close() {
    if (fd_ < 0) return 0;
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? 0 : errno;
}

std::string OpenFile::current_path() const {
    char buf[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(fd_);
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return path_;
    std::string p(buf, static_cast<std::size_t>(n));
    const std::string deleted = " (deleted)";
    if (p.size() > deleted.size()
        && p.compare(p.size() - deleted.size(), deleted.size(), deleted) == 0)
        p.resize(p.size() - deleted.size());
    return p;
}

DWORD close_file_handle(HANDLE h) {
    auto file = Machine::current().handles.object<OpenFile>(h, "file");
    if (!file) return ERROR_SUCCESS;
    return win32_of_errno(file->close());
}

ModelFileAccess::ModelFileAccess() { ++t_model_depth; }
ModelFileAccess::~ModelFileAccess() { --t_model_depth; }
bool ModelFileAccess::active() { return t_model_depth > 0; }

bool anything_at(const fs::path& host) {
    struct stat st {};
    return lstat_of(host.string(), st);
}

// ---------------------------------------------------------------- state

FileNode& Files::fresh_node(Machine& m, const FileId& id, const fs::path& host, unsigned mode) {
    FileNode n;
    birth_of(host.string(), false, n.birth_sec, n.birth_nsec);
    const bool folder = S_ISDIR(mode);
    if (S_ISLNK(mode))
        n.link = LinkKind::symbolic;
    else if (S_ISREG(mode))
        n.attributes = FILE_ATTRIBUTE_ARCHIVE;
    const std::string drive = drive_of(m, host.string());
    if (!drive.empty()) {
        if (fs::path(host).lexically_normal() == fs::path(drive)) {
            n.security = parsed(kDriveRootSddl);
        } else if (FileNode* parent = node(m, parent_of(host.string()), true)) {
            // Found rather than made by the program: made by the system.
            n.security = new_object_descriptor(
                parent->security, folder, m.security.identity(TokenKind::local_system, "SYSTEM"),
                nullptr);
        }
    }
    return nodes_[id] = std::move(n);
}

FileNode* Files::node(Machine& m, const fs::path& host, bool follow) {
    struct stat st {};
    const std::string p = host.string();
    if (!(follow ? stat_of(p, st) : lstat_of(p, st))) return nullptr;
    const FileId id = id_of(st);
    auto it = nodes_.find(id);
    if (it != nodes_.end()) {
        std::int64_t sec = 0, nsec = 0;
        birth_of(p, follow, sec, nsec);
        if (sec < 0 || it->second.birth_sec < 0
            || (sec == it->second.birth_sec && nsec == it->second.birth_nsec))
            return &it->second;
        nodes_.erase(it);  // the host gave the inode to a new file
    }
    return &fresh_node(m, id, physical(p, follow), st.st_mode);
}

FileNode* Files::node_of_descriptor(Machine& m, int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return nullptr;
    auto it = nodes_.find(id_of(st));
    if (it != nodes_.end()) return &it->second;
    char buf[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    struct stat named {};
    if (n > 0) {
        const std::string p(buf, static_cast<std::size_t>(n));
        if (lstat_of(p, named) && id_of(named) == id_of(st)) return node(m, p, false);
    }
    // No name leads to it any longer.
    FileNode detached;
    return &(nodes_[id_of(st)] = detached);
}

std::string Files::folder_of_descriptor(int fd) const {
    char buf[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return {};
    return parent_of(std::string(buf, static_cast<std::size_t>(n)));
}

Lookup Files::look(Machine& m, const std::string& host) {
    Lookup l;
    l.host = fs::path(host).lexically_normal().string();
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (!lstat_of(l.host, st)) {
            struct stat parent {};
            l.folder_missing = !stat_of(parent_of(l.host), parent) || !S_ISDIR(parent.st_mode);
            return l;
        }
        if (S_ISLNK(st.st_mode)) {
            FileNode* n = node(m, l.host, false);
            if (n && n->link == LinkKind::object) {
                // Resolved by the object manager, whatever the caller asks.
                if (hops >= 31) {
                    l.failure = "object-manager links loop";
                    return l;
                }
                l.host = read_link(l.host);
                continue;
            }
            l.link = n && n->link != LinkKind::none ? n->link : LinkKind::symbolic;
            struct stat target {};
            l.folder = l.link == LinkKind::junction
                       || (stat_of(l.host, target) && S_ISDIR(target.st_mode));
        } else {
            l.folder = S_ISDIR(st.st_mode);
            l.fifo = S_ISFIFO(st.st_mode);
        }
        l.exists = true;
        l.id = id_of(st);
        l.mode = st.st_mode;
        return l;
    }
}

DWORD Files::attributes(Machine& m, const Lookup& name) {
    if (!name.exists) return INVALID_FILE_ATTRIBUTES;
    FileNode* n = node(m, name.host, false);
    const DWORD own = n ? n->attributes : 0;
    if (name.link != LinkKind::none)
        return FILE_ATTRIBUTE_REPARSE_POINT | (name.folder ? FILE_ATTRIBUTE_DIRECTORY : 0u) | own;
    if (name.folder) return FILE_ATTRIBUTE_DIRECTORY | own;
    if (!S_ISREG(name.mode)) return FILE_ATTRIBUTE_DEVICE;
    return own ? own : FILE_ATTRIBUTE_NORMAL;
}

DWORD Files::attributes_of_descriptor(Machine& m, int fd, OpenFile::Kind kind) {
    FileNode* n = node_of_descriptor(m, fd);
    const DWORD own = n ? n->attributes : 0;
    switch (kind) {
        case OpenFile::Kind::link: {
            bool folder = n && n->link == LinkKind::junction;
            char buf[PATH_MAX];
            const std::string link = "/proc/self/fd/" + std::to_string(fd);
            const ssize_t len = ::readlink(link.c_str(), buf, sizeof buf - 1);
            struct stat target {};
            if (!folder && len > 0)
                folder = stat_of(std::string(buf, static_cast<std::size_t>(len)), target)
                         && S_ISDIR(target.st_mode);
            return FILE_ATTRIBUTE_REPARSE_POINT | (folder ? FILE_ATTRIBUTE_DIRECTORY : 0u) | own;
        }
        case OpenFile::Kind::folder:
            return FILE_ATTRIBUTE_DIRECTORY | own;
        case OpenFile::Kind::pipe:
            return FILE_ATTRIBUTE_NORMAL;
        case OpenFile::Kind::file:
            break;
    }
    return own ? own : FILE_ATTRIBUTE_NORMAL;
}

void Files::set_read_only(const fs::path& host, bool on) {
    FileNode* n = node(Machine::current(), host, true);
    if (!n) return;
    if (on)
        n->attributes |= FILE_ATTRIBUTE_READONLY;
    else
        n->attributes &= ~FILE_ATTRIBUTE_READONLY;
}

bool Files::read_only(const fs::path& host) {
    FileNode* n = node(Machine::current(), host, true);
    return n && (n->attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// ---------------------------------------------------------------- opens

std::vector<FileOpen> Files::opens_of(Machine& m, const FileId& id, long skip) {
    std::vector<FileOpen> out;
    for (const auto& [key, o] : opens_)
        if (key != skip && o.id == id) out.push_back(o);
    const auto now = m.clock().now();
    auto add_held = [&](const HeldFile& h, const std::string& who) {
        struct stat st {};
        if (stat_of(h.path, st) && id_of(st) == id)
            out.push_back(FileOpen{id, h.access, h.share(), who});
    };
    for (const auto& p : m.processes.list) {
        if (!p->running_at(now)) continue;
        for (const auto& h : p->open_files)
            add_held(h, p->image + " (pid " + std::to_string(p->id) + ")");
    }
    for (const auto& [k, s] : m.services.services) {
        if (s.state == SERVICE_STOPPED) continue;
        for (const auto& h : s.open_files) add_held(h, s.name + " (service)");
    }
    return out;
}

void Files::opened(long key, FileOpen open) { opens_[key] = std::move(open); }

void Files::closed(Machine& m, long key) {
    if (opens_.erase(key) && !pending_.empty()) settle(m);
}

void Files::delete_pending(const FileId& id, const std::string& name) { pending_[id] = name; }
void Files::cancel_pending(const FileId& id) { pending_.erase(id); }

void Files::settle(Machine& m) {
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (!opens_of(m, it->first).empty()) {
            ++it;
            continue;
        }
        forget_if_last(m, it->second);
        ModelFileAccess model;
        struct stat st {};
        if (lstat_of(it->second, st) && id_of(st) == it->first) {
            if (S_ISDIR(st.st_mode))
                ::rmdir(it->second.c_str());
            else
                ::unlink(it->second.c_str());
        }
        it = pending_.erase(it);
    }
}

Actor Files::program(Machine& m) { return Actor{m.security.program_identity(), "the program"}; }

// ---------------------------------------------------------------- verdicts

ACCESS_MASK Files::granted(Machine& m, const Actor& who, const std::string& host, bool follow) {
    FileNode* n = node(m, host, follow);
    if (!n) return 0;
    ACCESS_MASK g = granted_access(n->security, who.identity);
    // MS-FSA 2.1.5.1.2.1: the folder's FILE_LIST_DIRECTORY gives
    // FILE_READ_ATTRIBUTES, its FILE_DELETE_CHILD gives DELETE.
    if ((g & (FILE_READ_ATTRIBUTES | DELETE)) != (FILE_READ_ATTRIBUTES | DELETE)) {
        const std::string here = physical(host, follow);
        if (!drive_of(m, here).empty() && fs::path(here) != fs::path(drive_of(m, here))) {
            if (FileNode* parent = node(m, parent_of(here), true)) {
                const ACCESS_MASK pg = granted_access(parent->security, who.identity);
                if (pg & FILE_LIST_DIRECTORY) g |= FILE_READ_ATTRIBUTES;
                if (pg & FILE_DELETE_CHILD) g |= DELETE;
            }
        }
    }
    return g;
}

DWORD Files::judge_create(Machine& m, const Actor& who, const std::string& host, bool folder,
                          std::string& why) {
    FileNode* parent = node(m, parent_of(host), true);
    if (!parent) return ERROR_SUCCESS;  // the host reports the missing folder
    const ACCESS_MASK need = folder ? FILE_ADD_SUBDIRECTORY : FILE_ADD_FILE;
    if (!(granted_access(parent->security, who.identity) & need)) {
        why = std::string("no right to add a ") + (folder ? "folder" : "file") + " for " + who.name;
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

DWORD Files::judge_open(Machine& m, const Actor& who, const std::string& host, DWORD access,
                        DWORD share, bool link_itself, bool create, bool folder, long skip,
                        ACCESS_MASK& granted_out, std::string& why) {
    settle(m);
    struct stat st {};
    const ACCESS_MASK want = map_generic_file_rights(access) & ~MAXIMUM_ALLOWED;
    if (!lstat_of(host, st)) {
        if (!create) return ERROR_SUCCESS;  // the host reports what is missing
        granted_out = (access & MAXIMUM_ALLOWED) ? FILE_ALL_ACCESS : want;
        return judge_create(m, who, host, folder, why);
    }
    const bool follow = !link_itself;
    struct stat target = st;
    if (follow && !stat_of(host, target)) {
        // A dangling link: followed, the open creates what it points at.
        if (!create) return ERROR_SUCCESS;
        granted_out = (access & MAXIMUM_ALLOWED) ? FILE_ALL_ACCESS : want;
        return judge_create(m, who, read_link(host), folder, why);
    }
    const FileId id = id_of(target);
    if (pending_.count(id)) return why = "delete pending", ERROR_ACCESS_DENIED;
    if (want & ACCESS_SYSTEM_SECURITY)
        return why = "no privileges are held", ERROR_PRIVILEGE_NOT_HELD;
    const ACCESS_MASK g = granted(m, who, host, follow);
    if (want & ~g) return why = "access denied to " + who.name, ERROR_ACCESS_DENIED;
    granted_out = (access & MAXIMUM_ALLOWED) ? (g | want) : want;
    if (granted_out == 0 && (access & MAXIMUM_ALLOWED))
        return why = "nothing granted to " + who.name, ERROR_ACCESS_DENIED;
    FileNode* n = node(m, host, follow);
    if (!S_ISDIR(target.st_mode) && n && (n->attributes & FILE_ATTRIBUTE_READONLY)) {
        if (want & (FILE_WRITE_DATA | FILE_APPEND_DATA))
            return why = "read-only", ERROR_ACCESS_DENIED;
        granted_out &= ~(FILE_WRITE_DATA | FILE_APPEND_DATA);
    }
    for (const auto& o : opens_of(m, id, skip))
        if (conflicts(o, granted_out, share))
            return why = "held by " + o.who, ERROR_SHARING_VIOLATION;
    return ERROR_SUCCESS;
}

DWORD Files::judge_delete(Machine& m, const Actor& who, const std::string& host, long skip,
                          std::string& why) {
    settle(m);
    struct stat st {};
    if (!lstat_of(host, st)) return ERROR_SUCCESS;
    const FileId id = id_of(st);
    if (pending_.count(id)) return why = "delete pending", ERROR_ACCESS_DENIED;
    if (!(granted(m, who, host, false) & DELETE))
        return why = "no right to delete for " + who.name, ERROR_ACCESS_DENIED;
    // The deletion opens the file for DELETE, sharing everything.
    for (const auto& o : opens_of(m, id, skip))
        if (conflicts(o, DELETE, kShareAll))
            return why = "held by " + o.who, ERROR_SHARING_VIOLATION;
    FileNode* n = node(m, host, false);
    if (!S_ISDIR(st.st_mode) && n && (n->attributes & FILE_ATTRIBUTE_READONLY))
        return why = "read-only", ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

DWORD Files::judge_rename(Machine& m, const Actor& who, const std::string& from,
                          const std::string& to, long skip, std::string& why) {
    settle(m);
    struct stat src {};
    if (!lstat_of(from, src)) return ERROR_SUCCESS;
    const FileId id = id_of(src);
    if (pending_.count(id)) return why = "delete pending", ERROR_ACCESS_DENIED;
    if (!(granted(m, who, from, false) & DELETE))
        return why = "no right to delete for " + who.name, ERROR_ACCESS_DENIED;
    for (const auto& o : opens_of(m, id, skip))
        if (conflicts(o, DELETE, kShareAll))
            return why = "held by " + o.who, ERROR_SHARING_VIOLATION;
    if (lower_ascii(fs::path(from).lexically_normal().string())
        == lower_ascii(fs::path(to).lexically_normal().string()))
        return ERROR_SUCCESS;
    if (DWORD e = judge_create(m, who, to, S_ISDIR(src.st_mode), why)) return e;
    struct stat dst {};
    if (!lstat_of(to, dst) || id_of(dst) == id) return ERROR_SUCCESS;
    const FileId target = id_of(dst);
    // Replacing deletes the target: a delete's checks, and none of its opens.
    if (S_ISDIR(dst.st_mode)) return why = "target is a folder", ERROR_ACCESS_DENIED;
    FileNode* n = node(m, to, false);
    if (n && (n->attributes & FILE_ATTRIBUTE_READONLY))
        return why = "target read-only", ERROR_ACCESS_DENIED;
    if (pending_.count(target)) return why = "target delete pending", ERROR_ACCESS_DENIED;
    const auto held = opens_of(m, target, skip);
    if (!held.empty()) return why = "target held by " + held.front().who, ERROR_ACCESS_DENIED;
    if (!(granted(m, who, to, false) & DELETE))
        return why = "no right to replace the target for " + who.name, ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

DWORD Files::judge_read_attributes(Machine& m, const Actor& who, const std::string& host,
                                   bool follow, std::string& why) {
    struct stat st {};
    if (!(follow ? stat_of(host, st) : lstat_of(host, st))) return ERROR_SUCCESS;
    if (pending_.count(id_of(st))) return why = "delete pending", ERROR_ACCESS_DENIED;
    if (!(granted(m, who, host, follow) & FILE_READ_ATTRIBUTES))
        return why = "no right to read attributes for " + who.name, ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

DWORD Files::read_as(Machine& m, const Actor& who, const std::string& host, DWORD share,
                     std::string& bytes, std::string& why) {
    const Lookup name = look(m, host);
    if (!name.failure.empty()) return why = name.failure, kErrorCantResolveFilename;
    if (!name.exists) return name.folder_missing ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
    ACCESS_MASK granted = 0;
    if (const DWORD e = judge_open(m, who, name.host, GENERIC_READ, share, false, false, false, -1,
                                   granted, why))
        return e;
    struct stat st {};
    if (!stat_of(name.host, st) || !S_ISREG(st.st_mode))
        return why = "not a file", ERROR_ACCESS_DENIED;
    ModelFileAccess model;
    std::ifstream in(name.host, std::ios::binary);
    if (!in) return ERROR_ACCESS_DENIED;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return ERROR_SUCCESS;
}

// ---------------------------------------------------------------- changes

SecurityDescriptor Files::parent_security(Machine& m, const std::string& host) {
    FileNode* parent = node(m, parent_of(host), true);
    return parent ? parent->security : SecurityDescriptor{};
}

void Files::created(Machine& m, const std::string& host, const Identity& creator,
                    const SecurityDescriptor* security, DWORD attributes) {
    struct stat st {};
    if (!lstat_of(host, st)) return;
    FileNode n;
    birth_of(host, false, n.birth_sec, n.birth_nsec);
    const bool folder = S_ISDIR(st.st_mode);
    n.attributes = (folder ? 0u : FILE_ATTRIBUTE_ARCHIVE) | (attributes & kSettableAttributes);
    if (S_ISLNK(st.st_mode)) n.link = LinkKind::symbolic;
    if (!drive_of(m, host).empty())
        n.security = new_object_descriptor(parent_security(m, host), folder, creator, security);
    nodes_[id_of(st)] = std::move(n);
}

void Files::forget_if_last(Machine&, const std::string& host) {
    struct stat st {};
    if (!lstat_of(host, st)) return;
    if (S_ISDIR(st.st_mode) || st.st_nlink <= 1) nodes_.erase(id_of(st));
}

void Files::set_security(Machine& m, const std::string& host, bool follow,
                         const SecurityDescriptor& sd, bool propagate) {
    FileNode* n = node(m, host, follow);
    if (!n) return;
    n->security = sd;
    struct stat st {};
    if (!propagate || !stat_of(host, st) || !S_ISDIR(st.st_mode)) return;
    // Down the tree, links not followed: each child takes its folder's
    // inheritable ACEs anew unless its own DACL is protected.
    std::vector<std::pair<std::string, SecurityDescriptor>> todo = {{physical(host, follow), sd}};
    while (!todo.empty()) {
        auto [folder, parent_sd] = todo.back();
        todo.pop_back();
        std::vector<std::string> children;
        {
            ModelFileAccess model;
            std::error_code ec;
            for (const auto& e : fs::directory_iterator(folder, ec))
                children.push_back(e.path().string());
        }
        for (const auto& child : children) {
            struct stat cs {};
            if (!lstat_of(child, cs)) continue;
            FileNode* c = node(m, child, false);
            if (!c) continue;
            reinherit(c->security, parent_sd, container(child, *c));
            if (S_ISDIR(cs.st_mode)) todo.emplace_back(child, c->security);
        }
    }
}

// ---------------------------------------------------------------- the profile

void Files::secure_known_folders(Machine& m) {
    auto set = [&](const std::string& windows_path, const SecurityDescriptor& sd) {
        const fs::path host = m.sandbox.host_path(windows_path);
        if (FileNode* n = node(m, host, true)) n->security = sd;
    };
    {
        ModelFileAccess model;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(m.sandbox.root(), ec)) {
            const std::string name = e.path().filename().string();
            if (name.size() == 1 && std::isalpha(static_cast<unsigned char>(name[0]))
                && e.is_directory())
                set(name + ":\\", parsed(kDriveRootSddl));
        }
    }
    // The Windows folder (System's parent), System32 and the Program Files folders.
    for (const char* name : {"System", "SystemX86"})
        if (const auto* f = m.folders.find(name)) {
            const fs::path parent = m.sandbox.host_path(f->windows_path).parent_path();
            if (parent != fs::path(drive_of(m, parent.string())))
                set(parent.string(), parsed(kSystemFolderSddl));
        }
    for (const char* name : {"ProgramFiles", "ProgramFilesX86", "System", "SystemX86"})
        if (const auto* f = m.folders.find(name)) set(f->windows_path, parsed(kSystemFolderSddl));
    if (const auto* f = m.folders.find("ProgramData"))
        set(f->windows_path, parsed(kProgramDataSddl));
    // Profile folders: <drive>:\Users\<name> below each per-user known folder.
    for (const char* name :
         {"RoamingAppData", "LocalAppData", "LocalAppDataLow", "Desktop", "Temp"}) {
        const auto* f = m.folders.find(name);
        if (!f) continue;
        const std::string lower = lower_ascii(f->windows_path);
        if (lower.size() < 10 || lower.compare(1, 8, ":\\users\\") != 0) continue;
        const std::size_t end = f->windows_path.find('\\', 9);
        const std::string user = f->windows_path.substr(
            9, end == std::string::npos ? std::string::npos : end - 9);
        set(f->windows_path.substr(0, 8), parsed(kUsersSddl));
        if (auto sid = m.security.account_sid(user))
            set(f->windows_path.substr(0, 9) + user, profile_folder_security(*sid));
    }
}

void Files::load(const nlohmann::json& section, Machine& m) {
    secure_known_folders(m);
    if (section.is_null()) return;
    if (!section.is_object()) throw std::runtime_error("profile: \"files\" must be an object");
    ModelFileAccess model;
    auto fail = [](const std::string& name, const std::string& why) {
        throw std::runtime_error("profile: file " + name + ": " + why);
    };
    const char* const kLinks[] = {"symlink", "junction", "object_link", "hardlink"};
    auto link_key = [&](const nlohmann::json& e) -> const char* {
        if (!e.is_object()) return nullptr;
        for (const char* k : kLinks)
            if (e.contains(k)) return k;
        return nullptr;
    };
    // Folders and files first, then what names them.
    for (const auto& [name, e] : section.items()) {
        const fs::path p = m.sandbox.host_path(name);
        if (e.is_object() && (link_key(e) || e.value("fifo", false))) continue;
        if (e.is_object() && e.value("folder", false)) {
            fs::create_directories(p);
            continue;
        }
        if (!e.is_string() && !e.is_object()) fail(name, "an entry is a text or an object");
        fs::create_directories(p.parent_path());
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        const std::string text = e.is_string() ? e.get<std::string>()
                                               : e.value("text", std::string());
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        if (!out) fail(name, "cannot be written");
    }
    for (const auto& [name, e] : section.items()) {
        const fs::path p = m.sandbox.host_path(name);
        const char* key = link_key(e);
        if (!key && !(e.is_object() && e.value("fifo", false))) continue;
        fs::create_directories(p.parent_path());
        std::error_code ec;
        if (!key) {
            if (::mkfifo(p.c_str(), 0666) != 0) fail(name, "no FIFO can be made");
            continue;
        }
        const fs::path target = m.sandbox.host_path(e[key].get<std::string>());
        if (std::string(key) == "hardlink")
            fs::create_hard_link(target, p, ec);
        else
            fs::create_symlink(target, p, ec);
        if (ec) fail(name, std::string("cannot be made: ") + ec.message());
        FileNode* n = node(m, p, false);
        if (std::string(key) == "symlink") n->link = LinkKind::symbolic;
        if (std::string(key) == "junction") n->link = LinkKind::junction;
        if (std::string(key) == "object_link") n->link = LinkKind::object;
    }
    // Owners, descriptors and attributes, each folder before what it holds,
    // so that what is inherited comes from the final descriptor.
    std::vector<std::pair<std::size_t, std::string>> order;
    for (const auto& [name, e] : section.items())
        order.emplace_back(
            static_cast<std::size_t>(std::count_if(name.begin(), name.end(),
                                                   [](char c) { return c == '\\' || c == '/'; })),
            name);
    std::sort(order.begin(), order.end());  // names are unique: a total order
    for (const auto& [depth, name] : order) {
        const nlohmann::json& e = section[name];
        if (!e.is_object()) continue;
        const std::string host = m.sandbox.host_path(name).string();
        FileNode* n = node(m, host, false);
        if (!n) fail(name, "is missing");
        if (e.contains("owner") || e.contains("sddl")) {
            Identity creator = m.security.identity(TokenKind::local_system, "SYSTEM");
            if (e.contains("owner")) {
                auto sid = m.security.account_sid(e["owner"].get<std::string>());
                if (!sid) fail(name, "unknown owner " + e["owner"].dump());
                creator.owner = creator.primary_group = *sid;
            }
            std::optional<SecurityDescriptor> given;
            if (e.contains("sddl")) {
                DWORD error = 0;
                given = descriptor_from_sddl(e["sddl"].get<std::string>(), error);
                if (!given) fail(name, "malformed sddl " + e["sddl"].dump());
            }
            n->security = new_object_descriptor(parent_security(m, host), container(host, *n),
                                                creator, given ? &*given : nullptr);
        }
        const std::pair<const char*, DWORD> flags[] = {{"read_only", FILE_ATTRIBUTE_READONLY},
                                                       {"hidden", FILE_ATTRIBUTE_HIDDEN},
                                                       {"system", FILE_ATTRIBUTE_SYSTEM}};
        for (const auto& [flag, bit] : flags)
            if (e.value(flag, false)) n->attributes |= bit;
    }
}

}  // namespace winsim
