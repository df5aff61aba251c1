#include "platform/winsim/files.h"

#include "platform/winsim/machine.h"
#include "platform/winsim/text.h"

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include <unistd.h>

namespace winsim {

namespace fs = std::filesystem;

namespace {

thread_local int t_model_depth = 0;

// Windows compares names without regard to case.
std::string key_of(const fs::path& host) {
    std::error_code ec;
    fs::path p = fs::absolute(host, ec);
    return lower_ascii((ec ? host : p).lexically_normal().string());
}

}  // namespace

nlohmann::json HeldFile::to_json() const {
    nlohmann::json share = nlohmann::json::array();
    if (share_read) share.push_back("read");
    if (share_write) share.push_back("write");
    if (share_delete) share.push_back("delete");
    return {{"path", path}, {"share", share}};
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
        case ENOTEMPTY: return ERROR_ACCESS_DENIED;
        case ENOSPC:
        case EDQUOT: return ERROR_DISK_FULL;
        case ENOENT: return folder_missing ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EEXIST: return ERROR_FILE_EXISTS;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        case EBADF: return ERROR_INVALID_HANDLE;
        case EINVAL: return ERROR_INVALID_PARAMETER;
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        default: return ERROR_GEN_FAILURE;
    }
}

OpenFile::~OpenFile() { close(); }

int OpenFile::close() {
    if (fd_ < 0) return 0;
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? 0 : errno;
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
    ModelFileAccess model;
    std::error_code ec;
    return fs::exists(fs::symlink_status(host, ec));
}

void Files::set_read_only(const fs::path& host, bool on) {
    if (on)
        read_only_.insert(key_of(host));
    else
        read_only_.erase(key_of(host));
}

bool Files::read_only(const fs::path& host) const { return read_only_.count(key_of(host)) != 0; }

std::vector<std::pair<std::string, HeldFile>> Files::holders(Machine& m, const fs::path& host) const {
    std::vector<std::pair<std::string, HeldFile>> out;
    const std::string key = key_of(host);
    const auto now = m.clock().now();
    for (const auto& p : m.processes.list) {
        if (!p->running_at(now)) continue;
        for (const auto& h : p->open_files)
            if (key_of(h.path) == key) out.emplace_back(p->image + " (pid " + std::to_string(p->id) + ")", h);
    }
    for (const auto& [k, s] : m.services.services) {
        if (s.state == SERVICE_STOPPED) continue;
        for (const auto& h : s.open_files)
            if (key_of(h.path) == key) out.emplace_back(s.name + " (service)", h);
    }
    return out;
}

// Opening an existing file: the read-only attribute refuses writing
// (access check), then every holder's sharing must allow what is asked.
int Files::check_open(Machine& m, const fs::path& host, bool read, bool write, std::string& why) const {
    if (!anything_at(host)) return 0;
    if (write && read_only(host)) return why = "read-only", EACCES;
    for (const auto& [who, h] : holders(m, host))
        if ((read && !h.share_read) || (write && !h.share_write)) return why = "held by " + who, ETXTBSY;
    return 0;
}

// DeleteFileW opens the file for deletion (every holder must share delete),
// then marks it: a read-only file refuses the mark.
int Files::check_remove(Machine& m, const fs::path& host, std::string& why) const {
    if (!anything_at(host)) return 0;
    for (const auto& [who, h] : holders(m, host))
        if (!h.share_delete) return why = "held by " + who, ETXTBSY;
    if (read_only(host)) return why = "read-only", EACCES;
    return 0;
}

// MoveFileExW opens the source for deletion; a target it would replace must
// be neither read-only nor open at all.
int Files::check_rename(Machine& m, const fs::path& from, const fs::path& to, std::string& why) const {
    if (!anything_at(from)) return 0;
    for (const auto& [who, h] : holders(m, from))
        if (!h.share_delete) return why = "held by " + who, ETXTBSY;
    if (key_of(from) == key_of(to) || !anything_at(to)) return 0;
    if (read_only(to)) return why = "target read-only", EACCES;
    const auto held = holders(m, to);
    if (!held.empty()) return why = "target held by " + held.front().first, EACCES;
    return 0;
}

void Files::removed(const fs::path& host) { read_only_.erase(key_of(host)); }

void Files::renamed(const fs::path& from, const fs::path& to) {
    const bool was = read_only(from);
    read_only_.erase(key_of(from));
    set_read_only(to, was);
}

void Files::load(const nlohmann::json& section, Machine& m) {
    if (!section.is_object()) return;
    for (const auto& [name, content] : section.items())
        if (content.is_object() && content.value("read_only", false)) set_read_only(m.sandbox.host_path(name));
}

}  // namespace winsim
