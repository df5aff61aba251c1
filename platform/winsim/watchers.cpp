// The simulated processes that watch a folder and try to swap what appears
// there. A standard user's program can do that to an elevated one: wait in
// a folder both can reach (the temporary folder, a folder of ProgramData
// the user made) until the elevated program writes a file, then replace,
// overwrite or delete it before the program uses it. Each watcher takes its
// turn after every file operation of the program and tries each matching
// file again at every turn until one attempt goes through, as a program
// that polls would; it meets the same access checks and sharing as anyone,
// as its own user; what it tried and what Windows answered goes into its
// details.
#include "platform/winsim/machine.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace winsim {

namespace {

namespace fs = std::filesystem;

// A name pattern as a folder watch uses it: * any run, ? one character,
// without regard to case.
bool matches(const std::string& pattern, const std::string& name) {
    const std::string p = lower_ascii(pattern), n = lower_ascii(name);
    std::size_t pi = 0, ni = 0, star = std::string::npos, mark = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == '?' || p[pi] == n[ni])) {
            ++pi;
            ++ni;
        } else if (pi < p.size() && p[pi] == '*') {
            star = pi++;
            mark = ni;
        } else if (star != std::string::npos) {
            pi = star + 1;
            ni = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

const char* action_name(FolderWatch::Action a) {
    switch (a) {
        case FolderWatch::Action::replace:
            return "replace";
        case FolderWatch::Action::overwrite:
            return "overwrite";
        case FolderWatch::Action::remove:
            return "delete";
    }
    return "?";
}

std::optional<FileId> id_at(const std::string& host) {
    struct stat st {};
    ModelFileAccess model;
    if (::lstat(host.c_str(), &st) != 0) return std::nullopt;
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool write_whole(const std::string& host, const std::string& text) {
    ModelFileAccess model;
    std::ofstream out(host, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out.flush());
}

// Deletes |host| as Windows would for |who|; the name goes with its file
// when it was the last.
DWORD remove_as(Machine& m, const Actor& who, const std::string& host, std::string& why) {
    if (const DWORD e = m.files.judge_delete(m, who, host, -1, why)) return e;
    m.files.forget_if_last(m, host);
    ModelFileAccess model;
    return ::unlink(host.c_str()) == 0 ? ERROR_SUCCESS : win32_of_errno(errno);
}

// Its own file beside the target, renamed over it: what a swap by rename does.
DWORD replace_as(Machine& m, const Actor& who, FolderWatch& w, const std::string& target, DWORD pid,
                 std::string& why) {
    const std::string own = target + "." + std::to_string(pid) + ".swap";
    if (const DWORD e = m.files.judge_create(m, who, own, false, why)) return e;
    if (!write_whole(own, w.text)) return ERROR_ACCESS_DENIED;
    m.files.created(m, own, who.identity, nullptr, 0);
    if (const auto id = id_at(own)) w.own.insert(*id);
    if (const DWORD e = m.files.judge_rename(m, who, own, target, -1, why)) {
        std::string ignored;
        remove_as(m, who, own, ignored);
        return e;
    }
    m.files.forget_if_last(m, target);
    ModelFileAccess model;
    return ::rename(own.c_str(), target.c_str()) == 0 ? ERROR_SUCCESS : win32_of_errno(errno);
}

DWORD overwrite_as(Machine& m, const Actor& who, const FolderWatch& w, const std::string& target,
                   std::string& why) {
    ACCESS_MASK granted = 0;
    if (const DWORD e = m.files.judge_open(m, who, target, FILE_GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, false, false, false,
                                           -1, granted, why))
        return e;
    return write_whole(target, w.text) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

}  // namespace

FolderWatch folder_watch_of(Machine& m, const nlohmann::json& j) {
    if (!j.is_object() || !j.contains("folder"))
        throw std::runtime_error("profile: a \"watch\" names its \"folder\"");
    FolderWatch w;
    w.folder = m.sandbox.host_path(j["folder"].get<std::string>()).string();
    w.pattern = j.value("pattern", std::string("*"));
    const std::string action = j.value("action", std::string("replace"));
    if (action == "replace")
        w.action = FolderWatch::Action::replace;
    else if (action == "overwrite")
        w.action = FolderWatch::Action::overwrite;
    else if (action == "delete")
        w.action = FolderWatch::Action::remove;
    else
        throw std::runtime_error("profile: unknown watch action \"" + action + "\"");
    w.text = j.value("text", std::string("swapped\r\n"));
    return w;
}

void Processes::after_file_operation(Machine& m) {
    // A watcher's own work is the model's and starts no further turns.
    static thread_local bool busy = false;
    if (busy) return;
    struct Busy {
        Busy() { busy = true; }
        ~Busy() { busy = false; }
    } guard;
    const auto now = m.clock().now();
    for (const auto& p : list) {
        if (!p->watch || !p->running_at(now)) continue;
        FolderWatch& w = *p->watch;
        std::vector<std::string> names;
        {
            ModelFileAccess model;
            std::error_code ec;
            for (const auto& e : fs::directory_iterator(w.folder, ec)) {
                std::error_code kind;
                if (e.is_regular_file(kind) && !e.is_symlink(kind)
                    && matches(w.pattern, e.path().filename().string()))
                    names.push_back(e.path().string());
            }
        }
        std::sort(names.begin(), names.end());
        for (const auto& name : names) {
            const auto id = id_at(name);
            if (!id || w.done.count(*id) || w.own.count(*id)) continue;
            const Actor who{m.security.identity(p->token, p->user),
                            p->image + " (pid " + std::to_string(p->id) + ")"};
            std::string why;
            DWORD result = ERROR_SUCCESS;
            switch (w.action) {
                case FolderWatch::Action::replace:
                    result = replace_as(m, who, w, name, p->id, why);
                    break;
                case FolderWatch::Action::overwrite:
                    result = overwrite_as(m, who, w, name, why);
                    break;
                case FolderWatch::Action::remove:
                    result = remove_as(m, who, name, why);
                    break;
            }
            nlohmann::json attempt = {{"file", m.sandbox.windows_path(name)},
                                      {"action", action_name(w.action)},
                                      {"result", result},
                                      {"clock_ms", now}};
            if (!why.empty()) attempt["refused"] = why;
            p->details["attempts"].push_back(std::move(attempt));
            if (result == ERROR_SUCCESS) w.done.insert(*id);
        }
    }
}

}  // namespace winsim
