#include "support/machine_fixture.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace winsim::test {

namespace fs = std::filesystem;

namespace {
std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
}  // namespace

TempFolder::TempFolder() {
    std::string tmpl = (fs::temp_directory_path() / "winsim-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp");
    path_ = tmpl;
}

TempFolder::~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

::testing::AssertionResult NoLeaks(const Machine& m) {
    auto leaks = m.leaks();
    auto problems = m.problems();
    if (leaks.empty() && problems.empty()) return ::testing::AssertionSuccess();
    auto r = ::testing::AssertionFailure();
    for (const auto& l : leaks) r << "\n  leak: " << l;
    for (const auto& p : problems) r << "\n  problem: " << p;
    return r;
}

void MachineTest::SetUp() {
    temp_ = std::make_unique<TempFolder>();
    machine_ = std::make_unique<Machine>(profile(), temp_->path() / "sandbox");
}

void MachineTest::TearDown() {
    machine_.reset();
    temp_.reset();
}

void MachineTest::reset(const nlohmann::json& p) {
    machine_.reset();
    machine_ = std::make_unique<Machine>(p, temp_->path() / ("sandbox" + std::to_string(++resets_)));
}

fs::path MachineTest::host_path(const std::string& windows_path) const {
    return machine_->sandbox.host_path(windows_path);
}

bool MachineTest::file_exists(const std::string& windows_path) const {
    ModelFileAccess test;
    std::error_code ec;
    return fs::is_regular_file(host_path(windows_path), ec);
}

std::optional<std::string> MachineTest::read_file(const std::string& windows_path) const {
    ModelFileAccess test;
    std::ifstream in(host_path(windows_path), std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void MachineTest::write_file(const std::string& windows_path, const std::string& content) const {
    ModelFileAccess test;
    auto p = host_path(windows_path);
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + p.string());
}

HostRunResult run_host_program(const nlohmann::json& profile, const std::vector<std::string>& args,
                               const fs::path& dir) {
    HostRunResult r;
    fs::create_directories(dir);
    r.sandbox = dir / "sandbox";
    const fs::path profile_file = dir / "profile.json", trace_file = dir / "trace.jsonl",
                   out_file = dir / "stdout.txt", err_file = dir / "stderr.txt";
    std::ofstream(profile_file) << profile.dump(2);

    std::vector<std::string> env_text = {"WINSIM_PROFILE=" + profile_file.string(), "WINSIM_ROOT=" + r.sandbox.string(),
                                         "WINSIM_TRACE=" + trace_file.string()};
    for (char** e = environ; *e; ++e) {
        std::string s = *e;
        if (s.rfind("WINSIM_", 0) != 0) env_text.push_back(s);
    }
    std::vector<char*> envp;
    for (auto& s : env_text) envp.push_back(s.data());
    envp.push_back(nullptr);

    std::string program = SABLEWICK_HOST_PROGRAM;
    std::vector<std::string> argv_text = {program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argv_text) argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::system_error(rc, std::generic_category(), "posix_spawn " + program);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = slurp(out_file);
    r.err = slurp(err_file);
    std::ifstream trace(trace_file);
    for (std::string line; std::getline(trace, line);)
        if (!line.empty()) r.trace.push_back(nlohmann::json::parse(line));
    return r;
}

}  // namespace winsim::test
