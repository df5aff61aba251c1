// The product's file operations at the C library's boundary.
//
// Whatever the product uses to reach a file (std::filesystem, file streams,
// a Win32 file function of the model built on the C library) ends in the C
// library: libstdc++.so calls fopen64, write, writev, fclose, rename,
// remove, stat, lstat and mkdir. The functions below are
// defined in the executable that links the model; the dynamic linker binds
// libstdc++'s references to them (an executable's definition comes first),
// and each finds the C library's own (or, under AddressSanitizer, its
// interceptor) with dlsym(RTLD_NEXT). `-Wl,--wrap` would not do: it changes
// only the references the static link sees, not those of libstdc++.so.
//
// An operation acts on the model only when a machine is current, the path
// lies inside its sandbox, and neither the model (ModelFileAccess) nor this
// file itself is already at work on the thread; everything else passes
// straight through. Reads, and the closing of files opened only for
// reading, pass unrecorded: the model neither fails nor counts them.
//
// Each operation is judged as the Win32 call that would make it on Windows:
// the one whose Win32Request is on the thread (a Win32 function of the
// model), else the one the C runtime and std::filesystem make there (an
// open sharing reading and writing, DeleteFileW, MoveFileExW with
// replacement, GetFileAttributesExW, CreateDirectoryW). An object-manager
// link at the last component of a path is followed first, as Windows
// follows it for every call. After each operation the simulated processes
// that watch folders take their turn.
#undef _FORTIFY_SOURCE

#include "platform/winsim/files.h"
#include "platform/winsim/machine.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace winsim {
namespace {

namespace fs = std::filesystem;

template <class Fn>
Fn next_definition(const char* name) {
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

#define WINSIM_REAL(name) \
    static const auto real_##name = next_definition<decltype(&::name)>(#name)

thread_local int t_inside = 0;

struct Inside {
    Inside() { ++t_inside; }
    ~Inside() { --t_inside; }
};

bool passing_through() { return t_inside > 0 || ModelFileAccess::active(); }

// A file the product opened for writing inside the sandbox.
struct OpenForWriting {
    std::string host;
    std::string shown;
    bool full = false;  // the disk filled up under an earlier write
};

// Never destroyed: descriptors may be closed by static destructors.
std::mutex& table_mutex() {
    static auto* m = new std::mutex;
    return *m;
}
std::unordered_map<int, OpenForWriting>& table() {
    static auto* t = new std::unordered_map<int, OpenForWriting>;
    return *t;
}

void forget(int fd) {
    if (fd < 0) return;
    std::lock_guard<std::mutex> lock(table_mutex());
    table().erase(fd);
}

std::optional<OpenForWriting> writing(int fd) {
    std::lock_guard<std::mutex> lock(table_mutex());
    auto it = table().find(fd);
    if (it == table().end()) return std::nullopt;
    return it->second;
}

void mark_full(int fd) {
    std::lock_guard<std::mutex> lock(table_mutex());
    auto it = table().find(fd);
    if (it != table().end()) it->second.full = true;
}

// The absolute host path of |path| (relative to |dirfd| when it is one).
std::string absolute_of(int dirfd, const char* path) {
    if (!path) return {};
    if (path[0] == '/') return path;
    std::string base;
    if (dirfd == AT_FDCWD) {
        char buf[4096];
        if (::getcwd(buf, sizeof buf)) base = buf;
    } else {
        char buf[4096];
        const std::string link = "/proc/self/fd/" + std::to_string(dirfd);
        const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
        if (n > 0) base.assign(buf, static_cast<std::size_t>(n));
    }
    return base + "/" + path;
}

// The machine whose sandbox holds |host|, or null.
Machine* machine_of(const std::string& host) {
    Machine* m = Machine::current_or_null();
    if (!m || host.empty() || !m->sandbox.contains(host)) return nullptr;
    return m;
}

// The path as the trace shows it: relative to the sandbox, so "C:\x\y" for
// what lies on a drive.
std::string shown(Machine& m, const std::string& host) {
    const fs::path rel = fs::path(host).lexically_normal().lexically_relative(m.sandbox.root());
    auto it = rel.begin();
    if (it != rel.end() && it->string().size() == 1 && std::isalpha(static_cast<unsigned char>(it->string()[0])))
        return m.sandbox.windows_path(host);
    return rel.generic_string();
}

// The fault armed for this occurrence of |kind| on |shown|, as an errno; 0
// for none.
int take_fault(Machine& m, const char* kind, const std::string& shown) {
    const auto fault = m.faults.take(kind, shown);
    return fault ? errno_of_win32(fault->error) : 0;
}

void record(Machine& m, const char* kind, nlohmann::json args, long long result, int error, bool injected) {
    CallRecord rec;
    rec.call = kind;
    rec.args = std::move(args);
    rec.result = result;
    rec.file = true;
    rec.error_number = result < 0 ? error : 0;
    rec.lastError = m.last_error();
    rec.injected = injected;
    rec.clock_ms = m.clock().now();
    m.log.record(std::move(rec));
}

std::string flags_text(int flags) {
    std::string s;
    switch (flags & O_ACCMODE) {
        case O_WRONLY: s = "O_WRONLY"; break;
        case O_RDWR: s = "O_RDWR"; break;
        default: s = "O_RDONLY";
    }
    const std::pair<int, const char*> names[] = {{O_CREAT, "O_CREAT"},   {O_EXCL, "O_EXCL"},
                                                 {O_TRUNC, "O_TRUNC"},   {O_APPEND, "O_APPEND"},
                                                 {O_NOFOLLOW, "O_NOFOLLOW"}, {O_DIRECTORY, "O_DIRECTORY"}};
    for (const auto& [bit, name] : names)
        if (flags & bit) s += std::string("|") + name;
    return s;
}

// The access a C library open asks for, as the C runtime's open asks it.
DWORD access_of_flags(int flags) {
    if ((flags & O_PATH) == O_PATH) return FILE_READ_ATTRIBUTES;
    if (flags & O_DIRECTORY) return FILE_LIST_DIRECTORY | SYNCHRONIZE;
    DWORD access = 0;
    switch (flags & O_ACCMODE) {
        case O_WRONLY:
            access = FILE_GENERIC_WRITE;
            break;
        case O_RDWR:
            access = FILE_GENERIC_READ | FILE_GENERIC_WRITE;
            break;
        default:
            access = FILE_GENERIC_READ;
    }
    if (flags & O_TRUNC) access |= FILE_GENERIC_WRITE;
    return access;
}

// The C runtime's fopen and _wopen share reading and writing (_SH_DENYNO);
// a folder is listed (FindFirstFileExW) sharing everything.
DWORD share_of_flags(int flags) {
    if (flags & O_DIRECTORY) return FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    return FILE_SHARE_READ | FILE_SHARE_WRITE;
}

// The watchers of the simulated processes, once an operation is done.
void after_operation(Machine& m) { m.processes.after_file_operation(m); }

// One open: |open| makes the real call on the path it is given and returns
// a descriptor or -1.
template <class RealOpen>
int model_open(const char* function, int dirfd, const char* path, int flags, const std::string& mode_text,
               RealOpen&& open) {
    if (passing_through()) {
        const int fd = open(path);
        forget(fd);
        if (Machine* m = Machine::current_or_null(); m && fd >= 0) m->files.closed(*m, fd);
        return fd;
    }
    Inside inside;
    const std::string host = absolute_of(dirfd, path);
    Machine* m = machine_of(host);
    if (!m) {
        const int fd = open(path);
        forget(fd);
        return fd;
    }
    Win32Request* request = Win32RequestScope::current();
    const Lookup name = m->files.look(*m, host);
    const bool write = (flags & O_ACCMODE) != O_RDONLY || (flags & O_TRUNC);
    const bool exclusive = (flags & O_CREAT) && (flags & O_EXCL);
    nlohmann::json args = {{"path", shown(*m, host)}, {"function", function}};
    if (mode_text.empty())
        args["flags"] = flags_text(flags);
    else
        args["mode"] = mode_text;
    if (name.host != host) args["target"] = shown(*m, name.host);

    int error = take_fault(*m, "open", args["path"].get<std::string>());
    const bool injected = error != 0;
    int fd = -1;
    std::string why;
    const Actor who = m->files.program(*m);
    const DWORD access = request ? request->access : access_of_flags(flags);
    const DWORD share = request ? request->share : share_of_flags(flags);
    ACCESS_MASK granted = map_generic_file_rights(access) & ~MAXIMUM_ALLOWED;
    if (!error && !name.failure.empty()) {
        why = name.failure;
        if (request) request->error = kErrorCantResolveFilename;
        error = ELOOP;
    }
    if (!error && !(exclusive && name.exists)) {
        const DWORD refused = m->files.judge_open(
            *m, who, name.host, access, share, (flags & O_NOFOLLOW) != 0, (flags & O_CREAT) != 0,
            (flags & O_DIRECTORY) || (request && request->folder),
            request ? request->skip_open : -1, granted, why);
        if (refused) {
            if (request) request->error = refused;
            error = errno_of_win32(refused);
        }
    }
    if (!why.empty()) args["refused"] = why;
    if (!error) {
        fd = open(name.host.c_str());
        if (fd < 0) error = errno;
    }
    if (fd >= 0) {
        if ((flags & O_CREAT) && !name.exists)
            m->files.created(*m, name.host, who.identity, request ? request->security : nullptr,
                             request ? request->attributes : 0);
        struct stat st {};
        if (::fstat(fd, &st) == 0)
            m->files.opened(fd, FileOpen{FileId{static_cast<std::uint64_t>(st.st_dev),
                                                static_cast<std::uint64_t>(st.st_ino)},
                                         granted, share, who.name});
        if (request) request->granted = granted;
        std::lock_guard<std::mutex> lock(table_mutex());
        if (write)
            table()[fd] = OpenForWriting{host, shown(*m, host), false};
        else
            table().erase(fd);
    }
    record(*m, "open", std::move(args), fd, error, injected);
    after_operation(*m);
    if (fd < 0) errno = error;
    return fd;
}

// fopen's mode as open's flags.
int flags_of_mode(const char* mode) {
    if (!mode || !*mode) return O_RDONLY;
    const bool plus = std::strchr(mode, '+') != nullptr;
    int flags = 0;
    switch (mode[0]) {
        case 'w': flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC; break;
        case 'a': flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND; break;
        default: flags = plus ? O_RDWR : O_RDONLY;
    }
    if (std::strchr(mode, 'x')) flags |= O_EXCL;
    return flags;
}

// One close of a descriptor: |close| makes the real call. Whatever open of
// the program's the descriptor was goes with it.
template <class RealClose>
int model_close(int fd, RealClose&& close) {
    struct Unregister {
        int fd;
        ~Unregister() {
            if (Machine* m = Machine::current_or_null(); m && fd >= 0) m->files.closed(*m, fd);
        }
    };
    if (t_inside > 0) return close();
    const auto entry = writing(fd);
    if (!entry || ModelFileAccess::active()) {
        forget(fd);
        Unregister gone{fd};
        return close();
    }
    Unregister gone{fd};
    Inside inside;
    Machine* m = machine_of(entry->host);
    forget(fd);
    if (!m) return close();
    const int error = take_fault(*m, "close", entry->shown);
    int result = close();
    int reported = result == 0 ? 0 : errno;
    m->files.closed(*m, fd);  // before the watchers look
    // The file is closed either way; a failed final flush is reported.
    if (error && result == 0) {
        result = -1;
        reported = error;
    }
    record(*m, "close", {{"path", entry->shown}, {"fd", fd}}, result, reported, error != 0);
    after_operation(*m);
    if (result != 0) errno = reported;
    return result;
}

// One change of a file's length through a descriptor opened for writing.
template <class RealTruncate>
int model_truncate(int fd, long long length, const char* function, RealTruncate&& truncate) {
    if (t_inside > 0) return truncate();
    const auto entry = writing(fd);
    if (!entry || ModelFileAccess::active()) return truncate();
    Inside inside;
    Machine* m = machine_of(entry->host);
    if (!m) return truncate();
    int error = take_fault(*m, "truncate", entry->shown);
    const bool injected = error != 0;
    int result = -1;
    if (!error) {
        result = truncate();
        if (result != 0) error = errno;
    }
    record(*m, "truncate",
           {{"path", entry->shown}, {"fd", fd}, {"length", length}, {"function", function}}, result,
           error, injected);
    after_operation(*m);
    if (result != 0) errno = error;
    return result;
}

// One write of |count| bytes; |write| writes the first n of them.
template <class RealWrite>
ssize_t model_write(int fd, std::size_t count, const char* function, RealWrite&& write) {
    if (t_inside > 0) return write(count);
    const auto entry = writing(fd);
    if (!entry || ModelFileAccess::active()) return write(count);
    Inside inside;
    Machine* m = machine_of(entry->host);
    if (!m) return write(count);
    const int fault = take_fault(*m, "write", entry->shown);
    ssize_t result = -1;
    int error = 0;
    if (entry->full) {
        error = ENOSPC;
    } else if (fault == ENOSPC) {
        // The disk fills up part-way: what fits is written, then nothing.
        mark_full(fd);
        const std::size_t part = count / 2;
        if (part == 0) {
            error = ENOSPC;
        } else {
            result = write(part);
            if (result < 0) error = errno;
        }
    } else if (fault) {
        error = fault;
    } else {
        result = write(count);
        if (result < 0) error = errno;
    }
    record(*m, "write", {{"path", entry->shown}, {"fd", fd}, {"count", count}, {"function", function}}, result,
           error, fault != 0);
    after_operation(*m);
    if (result < 0) errno = error;
    return result;
}

// The course of an operation on a path: a fault, else Windows' own verdict
// (|check| returns 0 or a Win32 error, with its reason), else the real call
// (|act|, 0 or -1), whose success |done| follows up; recorded under |kind|
// with |args|, then the watchers' turn. A Win32 function's request learns
// the refusal's Win32 error.
template <class Check, class Act, class Done>
int model_path_operation(Machine& m, const char* kind, nlohmann::json args, Check&& check, Act&& act,
                         Done&& done) {
    int error = take_fault(m, kind, args["path"].get<std::string>());
    const bool injected = error != 0;
    std::string why;
    if (!error) {
        if (const DWORD refused = check(why)) {
            if (Win32Request* request = Win32RequestScope::current()) request->error = refused;
            error = errno_of_win32(refused);
        }
    }
    int result = -1;
    if (!error) {
        result = act();
        if (result != 0) error = errno;
        else done();
    }
    if (!why.empty()) args["refused"] = why;
    record(m, kind, std::move(args), result, error, injected);
    after_operation(m);
    if (result != 0) errno = error;
    return result;
}

// The file a name stands for before it goes: gone with the name when it is
// its last.
struct Vanishing {
    bool last = false;
    FileId id;
};
Vanishing vanishing(const std::string& host) {
    struct stat st {};
    ModelFileAccess model;
    if (::lstat(host.c_str(), &st) != 0) return {};
    return {S_ISDIR(st.st_mode) || st.st_nlink <= 1,
            FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)}};
}

// Names the trace shows beside the path when an object-manager link led
// elsewhere.
void note_target(Machine& m, nlohmann::json& args, const char* key, const std::string& asked,
                 const std::string& actual) {
    if (asked != actual) args[key] = shown(m, actual);
}

// rename and remove: |act| makes the real call on the paths it is given
// and returns 0 or -1.
template <class Act>
int model_rename(const char* function, int olddirfd, const char* from, int newdirfd, const char* to, Act&& act) {
    if (passing_through()) return act(from, to);
    Inside inside;
    const std::string src = absolute_of(olddirfd, from), dst = absolute_of(newdirfd, to);
    Machine* m = machine_of(src);
    if (!m) m = machine_of(dst);
    if (!m) return act(from, to);
    const std::string actual_src = m->files.look(*m, src).host,
                      actual_dst = m->files.look(*m, dst).host;
    nlohmann::json args = {
        {"path", shown(*m, src)}, {"newPath", shown(*m, dst)}, {"function", function}};
    note_target(*m, args, "target", src, actual_src);
    note_target(*m, args, "newTarget", dst, actual_dst);
    Vanishing replaced;
    Win32Request* request = Win32RequestScope::current();
    return model_path_operation(
        *m, "rename", std::move(args),
        [&](std::string& why) {
            replaced = vanishing(actual_dst);
            return m->files.judge_rename(*m, m->files.program(*m), actual_src, actual_dst,
                                         request ? request->skip_open : -1, why);
        },
        [&] { return act(actual_src.c_str(), actual_dst.c_str()); },
        [&] {
            if (replaced.last) m->files.forget(replaced.id);
        });
}

template <class Act>
int model_remove(const char* function, int dirfd, const char* path, Act&& act) {
    if (passing_through()) return act(path);
    Inside inside;
    const std::string host = absolute_of(dirfd, path);
    Machine* m = machine_of(host);
    if (!m) return act(path);
    const std::string actual = m->files.look(*m, host).host;
    nlohmann::json args = {{"path", shown(*m, host)}, {"function", function}};
    note_target(*m, args, "target", host, actual);
    Vanishing gone;
    Win32Request* request = Win32RequestScope::current();
    return model_path_operation(
        *m, "remove", std::move(args),
        [&](std::string& why) {
            gone = vanishing(actual);
            return m->files.judge_delete(*m, m->files.program(*m), actual,
                                         request ? request->skip_open : -1, why);
        },
        [&] { return act(actual.c_str()); },
        [&] {
            if (gone.last) m->files.forget(gone.id);
        });
}

// stat: the attributes of the name (|follow|: of what it leads to).
template <class Act>
int model_stat(const char* function, int dirfd, const char* path, bool follow, Act&& act) {
    if (passing_through()) return act(path);
    Inside inside;
    const std::string host = absolute_of(dirfd, path);
    Machine* m = machine_of(host);
    if (!m) return act(path);
    const std::string actual = m->files.look(*m, host).host;
    nlohmann::json args = {{"path", shown(*m, host)}, {"function", function}};
    note_target(*m, args, "target", host, actual);
    return model_path_operation(
        *m, "stat", std::move(args),
        [&](std::string& why) {
            return m->files.judge_read_attributes(*m, m->files.program(*m), actual, follow, why);
        },
        [&] { return act(actual.c_str()); }, [] {});
}

// mkdir: a new folder, as CreateDirectoryW makes it.
template <class Act>
int model_mkdir(const char* function, int dirfd, const char* path, Act&& act) {
    if (passing_through()) return act(path);
    Inside inside;
    const std::string host = absolute_of(dirfd, path);
    Machine* m = machine_of(host);
    if (!m) return act(path);
    const Lookup name = m->files.look(*m, host);
    nlohmann::json args = {{"path", shown(*m, host)}, {"function", function}};
    note_target(*m, args, "target", host, name.host);
    const Actor who = m->files.program(*m);
    Win32Request* request = Win32RequestScope::current();
    return model_path_operation(
        *m, "mkdir", std::move(args),
        [&](std::string& why) {
            return name.exists ? DWORD{0} : m->files.judge_create(*m, who, name.host, true, why);
        },
        [&] { return act(name.host.c_str()); },
        [&] {
            m->files.created(*m, name.host, who.identity, request ? request->security : nullptr, 0);
        });
}

mode_t mode_arg(int flags, va_list ap) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? static_cast<mode_t>(va_arg(ap, int)) : 0;
}

}  // namespace

bool file_interposer_in_use() {
    return ::dlsym(RTLD_DEFAULT, "fopen64") == reinterpret_cast<void*>(&::fopen64)
           && ::dlsym(RTLD_DEFAULT, "rename") == reinterpret_cast<void*>(&::rename);
}

}  // namespace winsim

using winsim::model_close;
using winsim::model_mkdir;
using winsim::model_open;
using winsim::model_remove;
using winsim::model_rename;
using winsim::model_stat;
using winsim::model_truncate;
using winsim::model_write;
using winsim::next_definition;

extern "C" {

int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = winsim::mode_arg(flags, ap);
    va_end(ap);
    WINSIM_REAL(open);
    return model_open("open", AT_FDCWD, path, flags, {},
                      [&](const char* p) { return real_open(p, flags, mode); });
}

int open64(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = winsim::mode_arg(flags, ap);
    va_end(ap);
    WINSIM_REAL(open64);
    return model_open("open64", AT_FDCWD, path, flags, {},
                      [&](const char* p) { return real_open64(p, flags, mode); });
}

int openat(int dirfd, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = winsim::mode_arg(flags, ap);
    va_end(ap);
    WINSIM_REAL(openat);
    return model_open("openat", dirfd, path, flags, {},
                      [&](const char* p) { return real_openat(dirfd, p, flags, mode); });
}

int openat64(int dirfd, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = winsim::mode_arg(flags, ap);
    va_end(ap);
    WINSIM_REAL(openat64);
    return model_open("openat64", dirfd, path, flags, {},
                      [&](const char* p) { return real_openat64(dirfd, p, flags, mode); });
}

int creat(const char* path, mode_t mode) {
    WINSIM_REAL(creat);
    return model_open("creat", AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC, {},
                      [&](const char* p) { return real_creat(p, mode); });
}

FILE* fopen(const char* path, const char* mode) {
    WINSIM_REAL(fopen);
    FILE* file = nullptr;
    model_open("fopen", AT_FDCWD, path, winsim::flags_of_mode(mode), mode ? mode : "",
               [&](const char* p) {
                   file = real_fopen(p, mode);
                   return file ? ::fileno(file) : -1;
               });
    return file;
}

FILE* fopen64(const char* path, const char* mode) {
    WINSIM_REAL(fopen64);
    FILE* file = nullptr;
    model_open("fopen64", AT_FDCWD, path, winsim::flags_of_mode(mode), mode ? mode : "",
               [&](const char* p) {
                   file = real_fopen64(p, mode);
                   return file ? ::fileno(file) : -1;
               });
    return file;
}

int fclose(FILE* file) {
    WINSIM_REAL(fclose);
    const int fd = file ? ::fileno(file) : -1;
    const int r = model_close(fd, [&] { return real_fclose(file); });
    return r == 0 ? 0 : EOF;
}

int close(int fd) {
    WINSIM_REAL(close);
    return model_close(fd, [&] { return real_close(fd); });
}

ssize_t write(int fd, const void* buf, size_t count) {
    WINSIM_REAL(write);
    return model_write(fd, count, "write", [&](std::size_t n) { return real_write(fd, buf, n); });
}

ssize_t writev(int fd, const struct iovec* iov, int iovcnt) {
    WINSIM_REAL(writev);
    std::size_t total = 0;
    for (int i = 0; i < iovcnt; ++i) total += iov[i].iov_len;
    return model_write(fd, total, "writev", [&](std::size_t n) -> ssize_t {
        if (n == total) return real_writev(fd, iov, iovcnt);
        // The first n bytes of the vector.
        ssize_t done = 0;
        for (int i = 0; i < iovcnt && static_cast<std::size_t>(done) < n; ++i) {
            const std::size_t take = std::min(iov[i].iov_len, n - static_cast<std::size_t>(done));
            WINSIM_REAL(write);
            const ssize_t w = real_write(fd, iov[i].iov_base, take);
            if (w < 0) return done > 0 ? done : w;
            done += w;
            if (static_cast<std::size_t>(w) < take) break;
        }
        return done;
    });
}

int ftruncate(int fd, off_t length) noexcept {
    WINSIM_REAL(ftruncate);
    return model_truncate(fd, length, "ftruncate", [&] { return real_ftruncate(fd, length); });
}

int ftruncate64(int fd, off64_t length) noexcept {
    WINSIM_REAL(ftruncate64);
    return model_truncate(fd, length, "ftruncate64", [&] { return real_ftruncate64(fd, length); });
}

int rename(const char* from, const char* to) noexcept {
    WINSIM_REAL(rename);
    return model_rename("rename", AT_FDCWD, from, AT_FDCWD, to,
                        [&](const char* f, const char* t) { return real_rename(f, t); });
}

int renameat(int olddirfd, const char* from, int newdirfd, const char* to) noexcept {
    WINSIM_REAL(renameat);
    return model_rename(
        "renameat", olddirfd, from, newdirfd, to,
        [&](const char* f, const char* t) { return real_renameat(olddirfd, f, newdirfd, t); });
}

int renameat2(int olddirfd, const char* from, int newdirfd, const char* to, unsigned int flags) noexcept {
    WINSIM_REAL(renameat2);
    return model_rename("renameat2", olddirfd, from, newdirfd, to,
                        [&](const char* f, const char* t) {
                            return real_renameat2(olddirfd, f, newdirfd, t, flags);
                        });
}

int remove(const char* path) noexcept {
    WINSIM_REAL(remove);
    return model_remove("remove", AT_FDCWD, path, [&](const char* p) { return real_remove(p); });
}

int unlink(const char* path) noexcept {
    WINSIM_REAL(unlink);
    return model_remove("unlink", AT_FDCWD, path, [&](const char* p) { return real_unlink(p); });
}

int unlinkat(int dirfd, const char* path, int flags) noexcept {
    WINSIM_REAL(unlinkat);
    return model_remove("unlinkat", dirfd, path,
                        [&](const char* p) { return real_unlinkat(dirfd, p, flags); });
}

int rmdir(const char* path) noexcept {
    WINSIM_REAL(rmdir);
    return model_remove("rmdir", AT_FDCWD, path, [&](const char* p) { return real_rmdir(p); });
}

int stat(const char* path, struct stat* buf) noexcept {
    WINSIM_REAL(stat);
    return model_stat("stat", AT_FDCWD, path, true,
                      [&](const char* p) { return real_stat(p, buf); });
}

int stat64(const char* path, struct stat64* buf) noexcept {
    WINSIM_REAL(stat64);
    return model_stat("stat64", AT_FDCWD, path, true,
                      [&](const char* p) { return real_stat64(p, buf); });
}

int lstat(const char* path, struct stat* buf) noexcept {
    WINSIM_REAL(lstat);
    return model_stat("lstat", AT_FDCWD, path, false,
                      [&](const char* p) { return real_lstat(p, buf); });
}

int lstat64(const char* path, struct stat64* buf) noexcept {
    WINSIM_REAL(lstat64);
    return model_stat("lstat64", AT_FDCWD, path, false,
                      [&](const char* p) { return real_lstat64(p, buf); });
}

int fstatat(int dirfd, const char* path, struct stat* buf, int flags) noexcept {
    WINSIM_REAL(fstatat);
    return model_stat("fstatat", dirfd, path, (flags & AT_SYMLINK_NOFOLLOW) == 0,
                      [&](const char* p) { return real_fstatat(dirfd, p, buf, flags); });
}

int fstatat64(int dirfd, const char* path, struct stat64* buf, int flags) noexcept {
    WINSIM_REAL(fstatat64);
    return model_stat("fstatat64", dirfd, path, (flags & AT_SYMLINK_NOFOLLOW) == 0,
                      [&](const char* p) { return real_fstatat64(dirfd, p, buf, flags); });
}

int mkdir(const char* path, mode_t mode) noexcept {
    WINSIM_REAL(mkdir);
    return model_mkdir("mkdir", AT_FDCWD, path, [&](const char* p) { return real_mkdir(p, mode); });
}

int mkdirat(int dirfd, const char* path, mode_t mode) noexcept {
    WINSIM_REAL(mkdirat);
    return model_mkdir("mkdirat", dirfd, path,
                       [&](const char* p) { return real_mkdirat(dirfd, p, mode); });
}

}  // extern "C"
