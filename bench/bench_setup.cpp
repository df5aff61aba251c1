// Figures for the setup program on the simulated machine, each against a
// physical floor measured side by side in the same run:
//
//   unpack    UnpackToFile of a package-sized resource added to the program's
//             module, against one write() of the same bytes from memory into
//             a file on the same file system;
//   install   the whole installation (wWinMain on the default machine: an
//             elevated administrator with the agent installed; every wait is
//             on the virtual clock), against the same floor for the package
//             the program carries;
//   host-rss  the peak resident memory of a whole run of the host program,
//             against a run of the same program that does nothing, and
//             against the size of the package it carries.
//
//   bench_setup [unpack|install|host-rss]... [--runs N]
//
// Prints figures only; it fails (exit 1) only when a run did not do what is
// measured. Everything it writes lives in a fresh folder under the temporary
// folder, removed at the end.
#include "bootstrapper.h"

#include "platform/win32.h"
#include "platform/winsim/machine.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#ifndef SABLEWICK_HOST_PROGRAM
#error "SABLEWICK_HOST_PROGRAM names the host program to measure"
#endif

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// The agent's package in version 1.0.45.1871.
constexpr std::size_t kPackageSize = 36130816;

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "sablewick-bench.XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The floor: the bytes written from memory with one write() (repeated only
// if the kernel takes fewer), into a new file, closed.
double TimeOneWrite(const fs::path& file, const unsigned char* data, std::size_t size) {
    std::error_code ignored;
    fs::remove(file, ignored);
    const auto start = Clock::now();
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + file.string());
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) throw std::runtime_error("cannot write " + file.string());
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) throw std::runtime_error("cannot close " + file.string());
    return MillisecondsSince(start);
}

std::vector<unsigned char> PackageLikeBytes(std::size_t size) {
    // A compound file's signature, then bytes nothing can compress.
    std::vector<unsigned char> bytes(size);
    std::mt19937_64 random(1871);
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t r = random();
        std::memcpy(bytes.data() + i, &r, std::min<std::size_t>(8, size - i));
    }
    static const unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(bytes.data(), kSignature, sizeof kSignature);
    return bytes;
}

void PrintRatio(const char* what, double ms, const char* floorWhat, double floorMs) {
    std::printf("  %-46s %9.1f ms\n", what, ms);
    std::printf("  %-46s %9.1f ms\n", floorWhat, floorMs);
    std::printf("  %-46s %9.2f\n", "ratio", ms / floorMs);
}

bool SameBytes(const fs::path& file, const unsigned char* data, std::size_t size) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> got(size + 1);
    in.read(got.data(), static_cast<std::streamsize>(got.size()));
    return static_cast<std::size_t>(in.gcount()) == size && std::memcmp(got.data(), data, size) == 0;
}

// ---------------------------------------------------------------- unpack

int BenchUnpack(int runs) {
    TempFolder temp;
    winsim::Machine m(winsim::Machine::default_profile(), temp.path() / "sandbox");
    winsim::Resource& resource =
        m.modules.add_resource(winsim::ResourceKey::of_name(L"BENCH"), winsim::ResourceKey::of_id(1),
                               1033, PackageLikeBytes(kPackageSize));
    sablewick::Bootstrapper bootstrapper(nullptr);
    const fs::path unpacked = temp.path() / "unpacked.msi";
    const fs::path floorFile = temp.path() / "floor.msi";

    std::vector<double> unpack, floor;
    for (int i = 0; i <= runs; ++i) {  // the first round only warms up
        const double f = TimeOneWrite(floorFile, resource.data, resource.size);
        std::error_code ignored;
        fs::remove(unpacked, ignored);
        m.log.clear();
        const auto start = Clock::now();
        bootstrapper.UnpackToFile(1, L"BENCH", unpacked);
        const double u = MillisecondsSince(start);
        if (i == 0) continue;
        floor.push_back(f);
        unpack.push_back(u);
    }
    if (!SameBytes(unpacked, resource.data, resource.size)) {
        std::printf("unpack: the unpacked file differs from the resource\n");
        return 1;
    }
    std::printf("unpack of a %zu-byte package, %d runs, medians (files in %s)\n", resource.size, runs,
                temp.path().c_str());
    PrintRatio("UnpackToFile from the program's resource", Median(unpack),
               "one write() of the same bytes from memory", Median(floor));
    return 0;
}

// ---------------------------------------------------------------- install

int BenchInstall(int runs) {
    TempFolder temp;
    std::vector<double> install, floor, virtualSeconds;
    std::size_t packageSize = 0;
    for (int i = 0; i <= runs; ++i) {
        winsim::Machine m(winsim::Machine::default_profile(), temp.path() / ("sandbox-" + std::to_string(i)));
        const auto package =
            m.modules.find_resource(winsim::ResourceKey::of_name(L"MSI"), winsim::ResourceKey::of_id(102));
        if (!package) {
            std::printf("install: the program carries no package\n");
            return 1;
        }
        packageSize = package->size;
        const double f = TimeOneWrite(temp.path() / "floor.msi", package->data, package->size);
        const std::uint64_t clockStart = m.clock().now();

        std::vector<wchar_t> commandTail(1, L'\0');
        const auto start = Clock::now();
        const int rc = wWinMain(reinterpret_cast<HINSTANCE>(m.modules.program.handle), nullptr,
                                commandTail.data(), SW_SHOWNORMAL);
        const double ms = MillisecondsSince(start);

        const auto installers = m.processes.started("msiexec.exe");
        if (rc != 0 || !m.ui.message_boxes.empty() || installers.empty()
            || installers.front()->details.value("package_size", std::uint64_t{0}) != package->size) {
            std::printf("install: the run did not install the package (exit %d, %zu message boxes)\n", rc,
                        m.ui.message_boxes.size());
            for (const auto& b : m.ui.message_boxes) std::printf("  %s\n", b.text_utf8().c_str());
            return 1;
        }
        if (i == 0) continue;
        install.push_back(ms);
        floor.push_back(f);
        virtualSeconds.push_back(static_cast<double>(m.clock().now() - clockStart) / 1000.0);
        std::error_code ignored;
        fs::remove_all(temp.path() / ("sandbox-" + std::to_string(i)), ignored);
    }
    std::printf("whole simulated installation with a %zu-byte package, %d runs, medians\n", packageSize, runs);
    PrintRatio("wWinMain, first installation (wall time)", Median(install),
               "one write() of the package from memory", Median(floor));
    std::printf("  %-46s %9.1f s\n", "time passed on the virtual clock", Median(virtualSeconds));
    return 0;
}

// ---------------------------------------------------------------- host-rss

struct ChildRun {
    long peakKb = 0;        // ru_maxrss
    long peakAnonKb = 0;    // largest RssAnon seen while it ran
    int status = -1;
};

long StatusField(pid_t pid, const char* field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::size_t n = std::strlen(field);
    while (std::getline(in, line))
        if (line.compare(0, n, field) == 0) return std::atol(line.c_str() + n);
    return 0;
}

ChildRun RunHostProgram(const fs::path& dir, const std::string& profile, const std::vector<std::string>& args) {
    fs::create_directories(dir);
    const fs::path sandbox = dir / "sandbox";
    const fs::path profileFile = dir / "profile.json";
    if (!profile.empty()) std::ofstream(profileFile) << profile;

    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::setenv("WINSIM_ROOT", sandbox.c_str(), 1);
        if (!profile.empty()) ::setenv("WINSIM_PROFILE", profileFile.c_str(), 1);
        ::unsetenv("WINSIM_TRACE");
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) {
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        std::vector<char*> argv;
        std::string program = SABLEWICK_HOST_PROGRAM;
        argv.push_back(program.data());
        std::vector<std::string> copies = args;
        for (auto& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ChildRun run;
    // Sampled while it runs: a copy of the package would be anonymous memory.
    for (;;) {
        int status = 0;
        struct rusage usage {};
        const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) {
            run.status = status;
            run.peakKb = usage.ru_maxrss;
            break;
        }
        run.peakAnonKb = std::max(run.peakAnonKb, StatusField(pid, "RssAnon:"));
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return run;
}

int BenchHostRss(int runs) {
    TempFolder temp;
    const std::uintmax_t programSize = fs::file_size(SABLEWICK_HOST_PROGRAM);
    // The same program doing nothing: without rights a silent run ends at
    // once. Its figure holds the program, its libraries and the machine.
    nlohmann::json idleProfile = winsim::Machine::default_profile();
    idleProfile["security"]["token"] = "standard_user";
    const std::string idle = idleProfile.dump();
    std::vector<double> full, fullAnon, nothing, nothingAnon;
    for (int i = 0; i < runs; ++i) {
        const ChildRun a = RunHostProgram(temp.path() / ("install-" + std::to_string(i)), "", {});
        const ChildRun b = RunHostProgram(temp.path() / ("idle-" + std::to_string(i)), idle, {"--silent"});
        if (!WIFEXITED(a.status) || WEXITSTATUS(a.status) != 0 || !WIFEXITED(b.status)
            || WEXITSTATUS(b.status) != 0) {
            std::printf("host-rss: a run of %s failed\n", SABLEWICK_HOST_PROGRAM);
            return 1;
        }
        const fs::path settings = temp.path() / ("install-" + std::to_string(i)) / "sandbox" / "C"
                                  / "ProgramData" / "Sablewick" / "Sablewick Remote" / "SablewickRemote.dat";
        if (!fs::exists(settings)) {
            std::printf("host-rss: the installing run wrote no settings file\n");
            return 1;
        }
        full.push_back(static_cast<double>(a.peakKb));
        fullAnon.push_back(static_cast<double>(a.peakAnonKb));
        nothing.push_back(static_cast<double>(b.peakKb));
        nothingAnon.push_back(static_cast<double>(b.peakAnonKb));
    }
    const double mb = 1024.0;
    const double package = static_cast<double>(kPackageSize) / (1024.0 * 1024.0);
    const double extra = (Median(full) - Median(nothing)) / mb;
    std::printf("peak resident memory of a host run, %d runs, medians\n", runs);
    std::printf("  %-46s %s (%.1f MiB)\n", "host program", SABLEWICK_HOST_PROGRAM,
                static_cast<double>(programSize) / (1024.0 * 1024.0));
    std::printf("  %-46s %9.1f MiB\n", "whole installation: peak RSS (getrusage)", Median(full) / mb);
    std::printf("  %-46s %9.1f MiB\n", "same program doing nothing: peak RSS", Median(nothing) / mb);
    std::printf("  %-46s %9.1f MiB\n", "difference", extra);
    std::printf("  %-46s %9.1f MiB\n", "package carried in the image", package);
    std::printf("  %-46s %9.2f\n", "difference / package", extra / package);
    std::printf("  %-46s %9.1f MiB\n", "anonymous memory, largest seen (installation)", Median(fullAnon) / mb);
    std::printf("  %-46s %9.1f MiB\n", "anonymous memory, largest seen (doing nothing)", Median(nothingAnon) / mb);
    std::printf("  (the package's pages in the image count once they are read; a copy would\n"
                "   add about %.1f MiB more, and show as anonymous memory)\n",
                package);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    std::vector<std::string> what;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "unpack" || a == "install" || a == "host-rss")
            what.push_back(a);
        else {
            std::fprintf(stderr, "usage: %s [unpack|install|host-rss]... [--runs N]\n", argv[0]);
            return 2;
        }
    }
    if (what.empty()) what = {"unpack", "install", "host-rss"};

    int failed = 0;
    try {
        for (const auto& w : what) {
            if (w == "unpack") failed |= BenchUnpack(runs);
            if (w == "install") failed |= BenchInstall(runs);
            if (w == "host-rss") failed |= BenchHostRss(runs);
            std::printf("\n");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_setup: %s\n", e.what());
        return 1;
    }
    return failed;
}
