// Files: exclusive creation, writes, renames, deletion and attributes as
// Windows answers them, over the sandbox's real files.
#include "support/machine_fixture.h"

#include "platform/winsim/api_support.h"
#include "platform/winsim/files.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using winsim::test::MachineTest;

class Files : public MachineTest {
protected:
    // The wide host path, as the model hands paths to the program.
    std::wstring W(const fs::path& p) { return winsim::from_utf8(p.string()); }
    fs::path At(const std::string& name) { return temp_dir() / name; }
    void Put(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }
    std::string Read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    DWORD LastError() { return machine().last_error(); }
};

// The contract with whatever makes the host's calls fail: each errno becomes
// the error Windows gives in that situation.
TEST(FileErrors, ErrnoToWin32) {
    const struct {
        int err;
        bool folderMissing;
        DWORD expected;
    } cases[] = {
        {EACCES, false, ERROR_ACCESS_DENIED},   {EPERM, false, ERROR_ACCESS_DENIED},
        {EISDIR, false, ERROR_ACCESS_DENIED},   {EROFS, false, ERROR_ACCESS_DENIED},
        {ENOENT, false, ERROR_FILE_NOT_FOUND},  {ENOENT, true, ERROR_PATH_NOT_FOUND},
        {ENOTDIR, false, ERROR_PATH_NOT_FOUND}, {EEXIST, false, ERROR_FILE_EXISTS},
        {ENOSPC, false, ERROR_DISK_FULL},       {EDQUOT, false, ERROR_DISK_FULL},
        {ETXTBSY, false, ERROR_SHARING_VIOLATION}, {EIO, false, ERROR_GEN_FAILURE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        EXPECT_EQ(winsim::win32_error_from_errno(c.err, c.folderMissing), c.expected);
    }
}

TEST_F(Files, CreateNewWritesAndClosesThroughTheHandleTable) {
    const fs::path file = At("new.txt");
    HANDLE h = CreateFileW(W(file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, "abc", 3, &written, nullptr));
    EXPECT_EQ(written, 3u);
    EXPECT_TRUE(FlushFileBuffers(h));
    // A file left open is a leak like any handle.
    EXPECT_FALSE(winsim::test::NoLeaks(machine()));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(Read(file), "abc");
    // A closed handle writes nothing.
    EXPECT_FALSE(WriteFile(h, "x", 1, &written, nullptr));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(calls("CreateFileW")[0].args["lpFileName"], file.string());
    expect_no_leaks();
}

// CREATE_NEW fails on anything at the name and never follows a link.
TEST_F(Files, CreateNewRefusesWhateverStandsThere) {
    Put(At("file"), "old");
    fs::create_directory(At("folder"));
    fs::create_symlink(At("target"), At("dangling"));
    const struct {
        const char* name;
        fs::path path;
        DWORD error;
    } cases[] = {
        {"file", At("file"), ERROR_FILE_EXISTS},
        {"folder", At("folder"), ERROR_FILE_EXISTS},
        {"dangling link", At("dangling"), ERROR_FILE_EXISTS},
        {"missing folder", At("none") / "file", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CreateFileW(W(c.path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(LastError(), c.error);
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(At("target"))));
    EXPECT_EQ(Read(At("file")), "old");
    expect_no_leaks();
}

TEST_F(Files, MoveDeleteAndAttributesAsWindowsAnswers) {
    Put(At("a"), "a");
    Put(At("b"), "b");
    Put(At("read-only"), "r");
    fs::permissions(At("read-only"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    fs::create_directory(At("folder"));
    Put(At("victim"), "victim");
    fs::create_symlink(At("victim"), At("link"));

    // Attributes of the name itself: a link is a reparse point.
    EXPECT_EQ(GetFileAttributesW(W(At("a")).c_str()), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(GetFileAttributesW(W(At("read-only")).c_str()), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(GetFileAttributesW(W(At("folder")).c_str()), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesW(W(At("link")).c_str()), FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(GetFileAttributesW(W(At("none")).c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesW(W(At("none") / "x").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    // Replacing only when asked, never a folder or a read-only file.
    const struct {
        const char* name;
        fs::path to;
        DWORD flags;
        DWORD error;  // 0: moved
    } moves[] = {
        {"without leave to replace", At("b"), 0, ERROR_ALREADY_EXISTS},
        {"onto a folder", At("folder"), MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
        {"onto a read-only file", At("read-only"), MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
        {"onto a link", At("link"), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, 0},
    };
    for (const auto& c : moves) {
        SCOPED_TRACE(c.name);
        const BOOL moved = MoveFileExW(W(At("a")).c_str(), W(c.to).c_str(), c.flags);
        EXPECT_EQ(moved != FALSE, c.error == 0);
        if (!moved) {
            EXPECT_EQ(LastError(), c.error);
        }
    }
    EXPECT_EQ(Read(At("link")), "a");  // the link itself was replaced
    EXPECT_FALSE(fs::is_symlink(At("link")));
    EXPECT_EQ(Read(At("victim")), "victim");

    // Deleting: a link goes itself; folders and read-only files stay.
    fs::create_symlink(At("victim"), At("link2"));
    EXPECT_TRUE(DeleteFileW(W(At("link2")).c_str()));
    EXPECT_EQ(Read(At("victim")), "victim");
    EXPECT_FALSE(DeleteFileW(W(At("folder")).c_str()));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DeleteFileW(W(At("read-only")).c_str()));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DeleteFileW(W(At("none")).c_str()));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    expect_no_leaks();
}

TEST_F(Files, InjectedFailuresReturnWhatWindowsReturns) {
    Put(At("a"), "a");
    machine().faults.fail("CreateFileW", ERROR_SHARING_VIOLATION, 1);
    machine().faults.fail("GetFileAttributesW", ERROR_ACCESS_DENIED, 1);
    machine().faults.fail("WriteFile", ERROR_DISK_FULL, 1);
    EXPECT_EQ(CreateFileW(W(At("n")).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(fs::exists(At("n")));
    EXPECT_EQ(GetFileAttributesW(W(At("a")).c_str()), INVALID_FILE_ATTRIBUTES);
    HANDLE h = CreateFileW(W(At("n")).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 7;
    EXPECT_FALSE(WriteFile(h, "abc", 3, &written, nullptr));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_TRUE(calls("WriteFile")[0].injected);
    EXPECT_TRUE(CloseHandle(h));
    expect_no_leaks();
}

}  // namespace
