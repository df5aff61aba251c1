// Another program on the machine that wants the setup program's installer to
// run its own package: it polls the temporary folder for the temporary
// package (sablewick_remote_*.msi; the side file it is written as, *.msi.new,
// is not the package) as fast as it can, and from the moment one is there
// tries, in turn and again and again while it is there, to open it for
// writing and write its own package over it, to rename a copy of its own
// package over it (MoveFileExW with MOVEFILE_REPLACE_EXISTING), and to delete
// it, until the stop file appears or its own package is in place.
//
//   swap_package.exe <its own package> <stop file>
//
// The temporary folder is GetTempPathW's: run from the same environment as
// the setup program, the folder std::filesystem::temp_directory_path names
// there (TMP, then TEMP). Prints "watching" once it polls. Its record
// (swap_package.log beside the test agent's) holds, in this order:
//   watching <folder>
//   found <name> after <n> polls           each package it saw
//   success <attempt> <installer lines>    each attempt that went through, with
//                                          the number of "installer" lines of the
//                                          test agent's record at that moment
//   gone <name> after <n> attempts         the package left its name
//   attempts <attempt> <result> <count>    at the end, per attempt and result
//                                          (0 for success, else the error)
//   stopped <polls>
// where <attempt> is write, rename or delete.
#include "record.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

const wchar_t kPattern[] = L"sablewick_remote_*.msi";
// A run that nobody stops ends by itself.
constexpr ULONGLONG kLongestWatchMs = 10 * 60 * 1000;

enum Attempt { kWrite, kRename, kDelete, kAttempts };
const wchar_t* const kAttemptNames[kAttempts] = {L"write", L"rename", L"delete"};

bool Exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// How far the installer has got: the test agent's installer step appends an
// "installer" line to its record while the package is being installed.
unsigned InstallerLines() {
    std::ifstream in(std::filesystem::path(agent_test::RecordFolder(agent_test::ProgramData())
                                           + L"\\SablewickRemote.log"),
                     std::ios::binary);
    unsigned lines = 0;
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, 9, "installer") == 0) ++lines;
    return lines;
}

class Swapper {
public:
    Swapper(std::vector<char> bytes, std::wstring ownPackage, std::wstring source)
        : bytes_(std::move(bytes)), ownPackage_(std::move(ownPackage)), source_(std::move(source)) {}

    // One attempt of kind |attempt| on |package|: 0 when it went through, else
    // the error Windows gave.
    DWORD Try(Attempt attempt, const std::wstring& package) {
        DWORD result = ERROR_SUCCESS;
        switch (attempt) {
        case kWrite: {
            HANDLE file = ::CreateFileW(package.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file == INVALID_HANDLE_VALUE) return ::GetLastError();
            DWORD written = 0;
            if (!::WriteFile(file, bytes_.data(), static_cast<DWORD>(bytes_.size()), &written, nullptr)
                || !::SetEndOfFile(file))
                result = ::GetLastError();
            ::CloseHandle(file);
            break;
        }
        case kRename:
            // A copy of its own package beside the target, on the same volume.
            if (!Exists(source_) && !::CopyFileW(ownPackage_.c_str(), source_.c_str(), FALSE))
                return ::GetLastError();
            if (!::MoveFileExW(source_.c_str(), package.c_str(), MOVEFILE_REPLACE_EXISTING))
                result = ::GetLastError();
            else
                placed_ = package;
            break;
        case kDelete:
            if (!::DeleteFileW(package.c_str())) result = ::GetLastError();
            break;
        case kAttempts: break;
        }
        return result;
    }

    // What its own renames left at a package's name once the run is over.
    void CleanUp() {
        if (!placed_.empty()) ::DeleteFileW(placed_.c_str());
        ::DeleteFileW(source_.c_str());
    }

private:
    std::vector<char> bytes_;
    std::wstring ownPackage_;
    std::wstring source_;
    std::wstring placed_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    const std::wstring ownPackage = argv[1];
    const std::wstring stopFile = argv[2];
    std::vector<char> bytes;
    {
        std::ifstream in(std::filesystem::path(ownPackage), std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (bytes.empty()) return 1;

    wchar_t temp[MAX_PATH + 1] = {};
    if (::GetTempPathW(MAX_PATH + 1, temp) == 0) return 1;
    const std::wstring folder = temp;  // ends with a backslash
    Swapper swapper(std::move(bytes), ownPackage, folder + L"swap_package_source.tmp");

    agent_test::AppendRecord(L"watching " + folder);
    std::printf("watching\n");
    std::fflush(stdout);

    std::map<std::pair<int, DWORD>, unsigned> results;
    const std::wstring pattern = folder + kPattern;
    const ULONGLONG deadline = ::GetTickCount64() + kLongestWatchMs;
    unsigned long long polls = 0;
    for (;;) {
        // The stop file is looked at far less often than the folder.
        if (polls % 64 == 0 && (Exists(stopFile) || ::GetTickCount64() > deadline)) break;
        ++polls;
        WIN32_FIND_DATAW found{};
        HANDLE search = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
        if (search == INVALID_HANDLE_VALUE) continue;
        std::wstring name;
        do {
            if (EndsWith(found.cFileName, L".msi")) name = found.cFileName;
        } while (name.empty() && ::FindNextFileW(search, &found));
        ::FindClose(search);
        if (name.empty()) continue;

        const std::wstring package = folder + name;
        unsigned long long attempts = 0;
        // Once its own package is in place it leaves it there for the
        // installer: deleting it, or writing over it again, would only spoil
        // the swap.
        bool placed = false;
        for (unsigned long long round = 0;; ++round) {
            if (round % 64 == 0 && Exists(stopFile)) break;
            if (!Exists(package)) {
                agent_test::AppendRecord(L"gone " + name + L" after " + std::to_wstring(attempts)
                                         + L" attempts");
                break;
            }
            if (placed) {
                ::Sleep(1);
                continue;
            }
            const auto attempt = static_cast<Attempt>(attempts % kAttempts);
            ++attempts;
            const DWORD result = swapper.Try(attempt, package);
            ++results[{attempt, result}];
            // Recorded after the first attempt: writing the record takes longer
            // than the attempt.
            if (attempts == 1)
                agent_test::AppendRecord(L"found " + name + L" after " + std::to_wstring(polls)
                                         + L" polls");
            if (result == ERROR_SUCCESS) {
                agent_test::AppendRecord(std::wstring(L"success ") + kAttemptNames[attempt] + L" "
                                         + std::to_wstring(InstallerLines()));
                placed = attempt != kDelete;
            }
        }
        if (Exists(stopFile)) break;
    }

    swapper.CleanUp();
    for (const auto& [key, count] : results)
        agent_test::AppendRecord(std::wstring(L"attempts ") + kAttemptNames[key.first] + L" "
                                 + std::to_wstring(key.second) + L" " + std::to_wstring(count));
    agent_test::AppendRecord(L"stopped " + std::to_wstring(polls));
    return 0;
}
