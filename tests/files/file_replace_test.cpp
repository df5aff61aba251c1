// Replacing a file through a new file renamed over it: what may stand at the
// new file's name, and every call of the replacement failing.
#include "file_replace.h"
#include "files_fixture.h"

#include <set>
#include <stdexcept>

namespace files_test {
namespace {

class FileReplace : public FilesTest {
protected:
    // Each case in a folder of its own, on the simulated machine's disk.
    fs::path Folder(const std::string& name) {
        const fs::path folder = host_path("C:\\ProgramData") / name;
        fs::create_directories(folder);
        return folder;
    }
    static std::set<std::string> Names(const fs::path& folder) {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
        return names;
    }
};

const std::string kOld = "old text, longer than the new one\r\n";
const std::string kNew = "tray-port = 1\r\n";

// A link planted at the new file's name is never written through, a stale
// file left by an interrupted run is cleared, and nothing there blocks the
// replacement.
TEST_F(FileReplace, WhateverStandsAtTheNewFilesName) {
    enum class Planted { nothing, stale_file, read_only_file, folder, link_to_file, dangling_link, link_to_folder };
    const struct {
        const char* name;
        Planted planted;
        bool stays;  // not ours to remove
    } cases[] = {
        {"nothing", Planted::nothing, false},
        {"stale file", Planted::stale_file, false},
        {"read-only stale file", Planted::read_only_file, true},
        {"folder", Planted::folder, true},
        {"link to a file", Planted::link_to_file, true},
        {"dangling link", Planted::dangling_link, true},
        {"link to a folder", Planted::link_to_folder, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = Folder(c.name);
        const fs::path target = folder / "SablewickRemote.dat";
        const fs::path fresh = sablewick::NewFilePath(target);
        EXPECT_EQ(fresh, folder / "SablewickRemote.dat.new");
        const fs::path victim = temp_dir() / (std::string(c.name) + " victim");
        Spit(target, kOld);
        switch (c.planted) {
        case Planted::nothing: break;
        case Planted::stale_file: Spit(fresh, "stale"); break;
        case Planted::read_only_file:
            Spit(fresh, "stale");
            machine().files.set_read_only(fresh);
            break;
        case Planted::folder: fs::create_directory(fresh); Spit(fresh / "inside", "x"); break;
        case Planted::link_to_file: Spit(victim, "victim"); fs::create_symlink(victim, fresh); break;
        case Planted::dangling_link: fs::create_symlink(victim, fresh); break;
        case Planted::link_to_folder: fs::create_directory(victim); fs::create_directory_symlink(victim, fresh); break;
        }
        const auto plantedStatus = fs::symlink_status(fresh).type();

        sablewick::ReplaceFileContents(target, kNew.data(), kNew.size());

        EXPECT_EQ(Slurp(target), kNew);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(target)));
        // What was planted is where it was, and what it points at untouched.
        if (c.stays) {
            EXPECT_EQ(fs::symlink_status(fresh).type(), plantedStatus);
        }
        std::set<std::string> expected = {"SablewickRemote.dat"};
        if (c.stays) expected.insert("SablewickRemote.dat.new");
        EXPECT_EQ(Names(folder), expected);
        if (c.planted == Planted::link_to_file) {
            EXPECT_EQ(Slurp(victim), "victim");
        } else if (c.planted == Planted::dangling_link) {
            EXPECT_FALSE(fs::exists(fs::symlink_status(victim)));
        } else if (c.planted == Planted::link_to_folder) {
            EXPECT_TRUE(fs::is_empty(victim));
        }
        expect_no_leaks();
    }
}

// Whichever call fails, the target is as it was and no new file is left.
TEST_F(FileReplace, FailingCallLeavesTheTargetWhole) {
    const struct {
        const char* call;
        DWORD error;
        unsigned nth;  // 0: every call
        const char* message;
    } cases[] = {
        {"CreateFileW", ERROR_ACCESS_DENIED, 1, "Unable to create "},
        {"CreateFileW", ERROR_FILE_EXISTS, 0, "Unable to create "},  // every name taken
        {"WriteFile", ERROR_DISK_FULL, 1, "Unable to write "},
        {"FlushFileBuffers", ERROR_DISK_FULL, 1, "Unable to write "},
        {"CloseHandle", ERROR_INVALID_HANDLE, 1, "Unable to write "},
        {"MoveFileExW", ERROR_SHARING_VIOLATION, 1, "Unable to create "},
        // The C library operations the calls are made of, failing below them.
        {"open", ERROR_ACCESS_DENIED, 1, "Unable to create "},
        {"write", ERROR_DISK_FULL, 1, "Unable to write "},
        {"close", ERROR_DISK_FULL, 1, "Unable to write "},
        {"rename", ERROR_SHARING_VIOLATION, 1, "Unable to create "},
        // Only the stale file's removal fails: another name is taken.
        {"GetFileAttributesW", ERROR_ACCESS_DENIED, 1, ""},
        {"DeleteFileW", ERROR_SHARING_VIOLATION, 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.call) + " " + std::to_string(c.error));
        reset(profile());
        const fs::path folder = Folder("data");
        const fs::path target = folder / "SablewickRemote.cfg";
        {
            winsim::ModelFileAccess test;  // the test's own writes: not counted
            Spit(target, kOld);
            Spit(sablewick::NewFilePath(target), "stale");
        }
        machine().faults.fail(c.call, c.error, c.nth);

        const std::string error = ErrorOf<std::runtime_error>(
            [&] { sablewick::ReplaceFileContents(target, kNew.data(), kNew.size()); });

        EXPECT_EQ(error, *c.message ? c.message + target.string() : "");
        EXPECT_EQ(Slurp(target), *c.message ? kOld : kNew);
        if (*c.message) {  // a failure once does not stick
            EXPECT_EQ(sablewick::ReplaceWholeFile(target, "", 0) == sablewick::Replacement::done, c.nth == 1);
        }
        for (const auto& name : Names(folder))
            EXPECT_TRUE(name == "SablewickRemote.cfg" || name == "SablewickRemote.cfg.new") << name;
        expect_no_leaks();
    }
}

// The calls as Windows gets them: exclusive creation without sharing, every
// byte written and flushed, the rename asked to replace and to write through.
TEST_F(FileReplace, CallsAsWindowsGetsThem) {
    const fs::path target = Folder("data") / "package.msi";
    const std::string bytes(3 * 1024 * 1024 + 5, 'x');
    sablewick::ReplaceFileContents(target, bytes.data(), bytes.size());
    EXPECT_EQ(Slurp(target), bytes);

    const auto create = calls("CreateFileW");
    ASSERT_EQ(create.size(), 1u);
    EXPECT_EQ(create[0].args["lpFileName"], target.string() + ".new");
    EXPECT_EQ(create[0].args["dwDesiredAccess"], GENERIC_WRITE);
    EXPECT_EQ(create[0].args["dwShareMode"], 0);
    EXPECT_EQ(create[0].args["dwCreationDisposition"], CREATE_NEW);
    std::uint64_t written = 0;
    for (const auto& w : calls("WriteFile")) written += w.args["lpNumberOfBytesWritten"].get<std::uint64_t>();
    EXPECT_EQ(written, bytes.size());
    EXPECT_EQ(machine().log.count("FlushFileBuffers"), 1u);
    const auto move = calls("MoveFileExW");
    ASSERT_EQ(move.size(), 1u);
    EXPECT_EQ(move[0].args["lpNewFileName"], target.string());
    EXPECT_EQ(move[0].args["dwFlags"], MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    expect_no_leaks();
}

}  // namespace
}  // namespace files_test
