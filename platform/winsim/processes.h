// Processes: those running when the machine starts (by image name) and
// those the product starts through ShellExecuteExW and CreateProcessAsUserW,
// each with its command line, start and end on the virtual clock and exit
// code; plus the real elevated copy a host run starts for "runas".
#pragma once

#include "platform/win32.h"
#include "platform/winsim/files.h"
#include "platform/winsim/security.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace winsim {

class Machine;

inline constexpr DWORD kStillActive = 259;  // GetExitCodeProcess while running

// A folder a process watches: each file whose name matches |pattern|
// (* and ?, without regard to case) that appears there, it tries once to
// swap: replace it (its own file renamed over the name), overwrite it in
// place, or delete it, as its own user.
struct FolderWatch {
    enum class Action { replace, overwrite, remove };
    std::string folder;  // host path
    std::string pattern;
    Action action = Action::replace;
    std::string text;        // what it writes
    std::set<FileId> done;   // files an attempt went through for
    std::set<FileId> own;    // what it made itself
};

struct Process {
    DWORD id = 0;
    std::string image;         // file name: "SablewickTrayAgent.exe"
    std::string path;          // the program as started (host path inside the sandbox, UTF-8)
    std::string command_line;  // UTF-8
    std::string started_by;    // "profile", "ShellExecuteExW", "CreateProcessAsUserW"

    // ShellExecuteExW's request.
    std::string verb, file, parameters, directory;
    int show = 0;

    // Who it runs as.
    TokenKind token = TokenKind::standard_user;
    std::string user;
    DWORD session = 0;

    // CreateProcessAsUserW's request.
    std::string desktop;
    DWORD creation_flags = 0;
    bool has_environment = false;
    std::vector<std::string> environment;  // "NAME=value"
    std::string current_directory;

    // Life on the virtual clock: running from start until end; no end means
    // it runs on past the end of the run (a service, the tray program, a hung
    // installer).
    std::uint64_t start_ms = 0;
    std::optional<std::uint64_t> end_ms;
    DWORD exit_code = kStillActive;  // valid once ended
    std::string ended_by;            // "exit", "taskkill"

    // What a stand-in read and did: the installer's switches, properties,
    // package and effects; the processes taskkill ended.
    nlohmann::json details = nlohmann::json::object();

    // Files it holds open while it runs.
    std::vector<HeldFile> open_files;

    // A folder it watches while it runs.
    std::optional<FolderWatch> watch;

    // The real process of a host run's elevated copy.
    int host_pid = 0;

    bool running_at(std::uint64_t now) const { return start_ms <= now && (!end_ms || *end_ms > now); }
    bool ended_at(std::uint64_t now) const { return end_ms && *end_ms <= now; }
    // Ends it at `when` with `code` (no effect when it has ended already).
    void end(std::uint64_t when, DWORD code, const std::string& by);
    nlohmann::json to_json() const;
};

struct Processes {
    std::vector<std::shared_ptr<Process>> list;

    // A host run sets this: an accepted "runas" of the program itself then
    // starts the elevated copy for real (the same host program, sandbox and
    // trace, a profile with an elevated administrator's token).
    bool spawn_real_elevated_copy = false;

    // Fills in id and start time and adds the process to the list.
    std::shared_ptr<Process> add(Machine& m, Process p);
    DWORD new_id();

    // Processes running now whose image is `image` (compared without regard
    // to case).
    std::vector<std::shared_ptr<Process>> running(Machine& m, const std::string& image);
    // Processes the product started, in order.
    std::vector<std::shared_ptr<Process>> started() const;
    std::vector<std::shared_ptr<Process>> started(const std::string& image) const;

    // Handles through the machine's handle table: kind "process" or
    // "thread", the object being the process.
    HANDLE open_process(Machine& m, const std::shared_ptr<Process>& p);
    HANDLE open_thread(Machine& m, const std::shared_ptr<Process>& p);
    // The process behind a process or thread handle, or null.
    std::shared_ptr<Process> by_handle(Machine& m, HANDLE h) const;

    // The real elevated copy (host runs only). Returns its host pid, or 0
    // with `error` set when it could not be started.
    int spawn_elevated_copy(Machine& m, Process& copy, std::string& error);
    // Waits for every real copy started; the host entry calls it after
    // wWinMain so that the output of both runs is orderly.
    void wait_for_real_copies();

    // The program's file operation is done: each process that watches a
    // folder takes its turn (watchers.cpp).
    void after_file_operation(Machine& m);

    // Profile section "processes": {"running": [{"image":
    // "SablewickRemoteDesktop.exe", "path": "C:\\...", "session": 1, "user":
    // "alice"} | "SablewickTrayAgent.exe", ...]}.
    void load(const nlohmann::json& section, Machine& m);
    void leaks(std::vector<std::string>& out) const;

private:
    DWORD next_id_ = 5000;
    std::vector<int> real_copies_;
};

// Profile form: {"folder": "C:\\...", "pattern": "*.msi", "action":
// "replace" | "overwrite" | "delete", "text": "what it writes"}.
FolderWatch folder_watch_of(Machine& m, const nlohmann::json& watch);

// Case-insensitive equality of ASCII names (image names, verbs, options).
bool iequals(const std::string& a, const std::string& b);
// The last element of a Windows or host path: "C:\\x\\y.exe" gives "y.exe".
std::string file_name_of(const std::string& path);

}  // namespace winsim
