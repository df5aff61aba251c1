// Names as Windows resolves them: NTFS symbolic links and junctions are
// reparse points that FILE_FLAG_OPEN_REPARSE_POINT opens as themselves, an
// object-manager link is no reparse point and is followed by every call, a
// hard link is the same file under another name; a handle's final path
// shows where a name really led.
#include "support/machine_fixture.h"

#include "platform/winsim/api_support.h"
#include "platform/winsim/files.h"

#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using winsim::test::MachineTest;

const std::string kStage = "C:\\ProgramData\\Stage";
const std::string kElsewhere = "C:\\Elsewhere";

class Names : public MachineTest {
protected:
    nlohmann::json profile() override {
        auto p = MachineTest::profile();
        p["files"][kStage + "\\file.txt"] = "file";
        p["files"][kStage + "\\folder\\inner.txt"] = "inner";
        p["files"][kElsewhere + "\\target.txt"] = "target";
        p["files"][kElsewhere + "\\dir\\deep.txt"] = "deep";
        p["files"][kStage + "\\symlink"] = {{"symlink", kElsewhere + "\\target.txt"}};
        p["files"][kStage + "\\dangling"] = {{"symlink", kElsewhere + "\\missing.txt"}};
        p["files"][kStage + "\\dirlink"] = {{"symlink", kElsewhere + "\\dir"}};
        p["files"][kStage + "\\junction"] = {{"junction", kElsewhere + "\\dir"}};
        p["files"][kStage + "\\objlink"] = {{"object_link", kElsewhere + "\\target.txt"}};
        p["files"][kStage + "\\objnew"] = {{"object_link", kElsewhere + "\\created.txt"}};
        p["files"][kStage + "\\hardlink"] = {{"hardlink", kStage + "\\file.txt"}};
        p["files"][kStage + "\\fifo"] = {{"fifo", true}};
        return p;
    }

    std::wstring W(const std::string& windows) const {
        return winsim::from_utf8(host_path(windows).string());
    }
    bool Exists(const std::string& windows) const {
        return winsim::anything_at(host_path(windows));
    }
    HANDLE Open(const std::string& windows, DWORD access, DWORD flags,
                DWORD disposition = OPEN_EXISTING,
                DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) {
        return CreateFileW(W(windows).c_str(), access, share, nullptr, disposition, flags, nullptr);
    }
    // The final path, as the program will compare it.
    std::string FinalPath(HANDLE h) {
        WCHAR buf[1024];
        const DWORD n = GetFinalPathNameByHandleW(h, buf, 1024,
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        return n == 0 || n >= 1024 ? std::string("(failed)")
                                   : winsim::to_utf8(std::wstring(buf, n));
    }
    std::string Final(const std::string& windows) const {
        return "\\\\?\\" + host_path(windows).string();
    }
};

TEST_F(Names, EachKindOfNameAsWindowsShowsIt) {
    const struct {
        const char* name;
        DWORD attributes;
        std::string itself;    // final path opened with FILE_FLAG_OPEN_REPARSE_POINT
        std::string followed;  // final path opened without
        DWORD links;
        DWORD type;
    } cases[] = {
        {"file.txt", FILE_ATTRIBUTE_ARCHIVE, kStage + "\\file.txt", kStage + "\\file.txt", 2,
         FILE_TYPE_DISK},
        {"hardlink", FILE_ATTRIBUTE_ARCHIVE, kStage + "\\hardlink", kStage + "\\hardlink", 2,
         FILE_TYPE_DISK},
        {"folder", FILE_ATTRIBUTE_DIRECTORY, kStage + "\\folder", kStage + "\\folder", 1,
         FILE_TYPE_DISK},
        {"symlink", FILE_ATTRIBUTE_REPARSE_POINT, kStage + "\\symlink", kElsewhere + "\\target.txt",
         1, FILE_TYPE_DISK},
        {"dirlink", FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY, kStage + "\\dirlink",
         kElsewhere + "\\dir", 1, FILE_TYPE_DISK},
        {"junction", FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY, kStage + "\\junction",
         kElsewhere + "\\dir", 1, FILE_TYPE_DISK},
        // No reparse point: only the final path tells.
        {"objlink", FILE_ATTRIBUTE_ARCHIVE, kElsewhere + "\\target.txt",
         kElsewhere + "\\target.txt", 1, FILE_TYPE_DISK},
        // A junction in the middle of a path is always crossed.
        {"junction\\deep.txt", FILE_ATTRIBUTE_ARCHIVE, kElsewhere + "\\dir\\deep.txt",
         kElsewhere + "\\dir\\deep.txt", 1, FILE_TYPE_DISK},
        {"fifo", FILE_ATTRIBUTE_DEVICE, kStage + "\\fifo", kStage + "\\fifo", 1, FILE_TYPE_PIPE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = kStage + "\\" + c.name;
        EXPECT_EQ(GetFileAttributesW(W(name).c_str()), c.attributes);
        for (const bool itself : {true, false}) {
            SCOPED_TRACE(itself ? "itself" : "followed");
            HANDLE h = Open(
                name, FILE_READ_ATTRIBUTES,
                FILE_FLAG_BACKUP_SEMANTICS | (itself ? FILE_FLAG_OPEN_REPARSE_POINT : 0u));
            ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
            EXPECT_EQ(FinalPath(h), Final(itself ? c.itself : c.followed));
            BY_HANDLE_FILE_INFORMATION info{};
            ASSERT_TRUE(GetFileInformationByHandle(h, &info));
            if (itself) {
                EXPECT_EQ(info.dwFileAttributes, c.attributes == FILE_ATTRIBUTE_DEVICE
                                                     ? FILE_ATTRIBUTE_NORMAL
                                                     : c.attributes);
                EXPECT_EQ(info.nNumberOfLinks, c.links);
            }
            EXPECT_EQ(info.dwVolumeSerialNumber, 4073213537u);
            EXPECT_EQ(GetFileType(h), c.type);
            EXPECT_TRUE(CloseHandle(h));
        }
    }
    expect_no_leaks();
}

// The file index tells one file from another whatever names lead to it.
TEST_F(Names, HardLinksAreOneFile) {
    auto index = [&](const std::string& name) {
        HANDLE h = Open(name, FILE_READ_ATTRIBUTES, 0);
        BY_HANDLE_FILE_INFORMATION info{};
        EXPECT_TRUE(GetFileInformationByHandle(h, &info));
        CloseHandle(h);
        return (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    };
    EXPECT_EQ(index(kStage + "\\file.txt"), index(kStage + "\\hardlink"));
    EXPECT_NE(index(kStage + "\\file.txt"), index(kElsewhere + "\\target.txt"));
    // One file: its read-only attribute shows under both names.
    machine().files.set_read_only(host_path(kStage + "\\hardlink"));
    EXPECT_EQ(GetFileAttributesW(W(kStage + "\\file.txt").c_str()),
              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
    expect_no_leaks();
}

// DeleteFileW removes a reparse point itself and refuses a folder link;
// RemoveDirectoryW removes a junction, not what it leads to; an
// object-manager link leads the deletion to its target.
TEST_F(Names, DeletingEachKindOfName) {
    const struct {
        const char* what;
        bool folder_call;  // RemoveDirectoryW, else DeleteFileW
        const char* name;
        DWORD error;  // 0: done
        std::vector<std::string> gone, kept;
    } cases[] = {
        {"a file link", false, "symlink", 0, {kStage + "\\symlink"}, {kElsewhere + "\\target.txt"}},
        {"an object link",
         false,
         "objlink",
         0,
         {kElsewhere + "\\target.txt"},
         {kStage + "\\objlink"}},
        {"a hard link", false, "hardlink", 0, {kStage + "\\hardlink"}, {kStage + "\\file.txt"}},
        {"a junction as a file",
         false,
         "junction",
         ERROR_ACCESS_DENIED,
         {},
         {kStage + "\\junction"}},
        {"a folder link as a file",
         false,
         "dirlink",
         ERROR_ACCESS_DENIED,
         {},
         {kStage + "\\dirlink"}},
        {"a junction",
         true,
         "junction",
         0,
         {kStage + "\\junction"},
         {kElsewhere + "\\dir\\deep.txt"}},
        {"a folder link",
         true,
         "dirlink",
         0,
         {kStage + "\\dirlink"},
         {kElsewhere + "\\dir\\deep.txt"}},
        {"a folder with files",
         true,
         "folder",
         ERROR_DIR_NOT_EMPTY,
         {},
         {kStage + "\\folder\\inner.txt"}},
        {"a file as a folder", true, "file.txt", ERROR_DIRECTORY, {}, {kStage + "\\file.txt"}},
        {"nothing", true, "none", ERROR_FILE_NOT_FOUND, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reset(profile());
        const std::wstring name = W(kStage + "\\" + c.name);
        const BOOL done = c.folder_call ? RemoveDirectoryW(name.c_str())
                                        : DeleteFileW(name.c_str());
        EXPECT_EQ(done != FALSE, c.error == 0);
        if (!done) {
            EXPECT_EQ(GetLastError(), c.error);
        }
        for (const auto& g : c.gone) EXPECT_FALSE(Exists(g)) << g;
        for (const auto& k : c.kept) EXPECT_TRUE(Exists(k)) << k;
        expect_no_leaks();
    }
}

TEST_F(Names, CreateFileAnswersAsWindows) {
    const struct {
        const char* what;
        std::string name;
        DWORD access, flags, disposition, error;
    } cases[] = {
        {"a folder without backup semantics", kStage + "\\folder", GENERIC_READ, 0, OPEN_EXISTING,
         ERROR_ACCESS_DENIED},
        {"nothing there", kStage + "\\none", GENERIC_READ, 0, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {"a missing folder", kStage + "\\none\\x", GENERIC_READ, 0, OPEN_EXISTING,
         ERROR_PATH_NOT_FOUND},
        {"a new file over a link", kStage + "\\symlink", GENERIC_WRITE, 0, CREATE_NEW,
         ERROR_FILE_EXISTS},
        {"a new file over a dangling link", kStage + "\\dangling", GENERIC_WRITE, 0, CREATE_NEW,
         ERROR_FILE_EXISTS},
        {"a FIFO for writing, nobody reading", kStage + "\\fifo", GENERIC_WRITE, 0, OPEN_EXISTING,
         233 /* ERROR_PIPE_NOT_CONNECTED */},
        {"a privilege nobody holds", kStage + "\\file.txt", ACCESS_SYSTEM_SECURITY, 0,
         OPEN_EXISTING, ERROR_PRIVILEGE_NOT_HELD},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Open(c.name, c.access, c.flags, c.disposition), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_FALSE(Exists(kElsewhere + "\\missing.txt"));  // the dangling link was not followed

    // Reading a FIFO does not wait for a writer.
    HANDLE fifo = Open(kStage + "\\fifo", GENERIC_READ, 0);
    ASSERT_NE(fifo, INVALID_HANDLE_VALUE);
    char byte = 0;
    DWORD read = 7;
    EXPECT_TRUE(ReadFile(fifo, &byte, 1, &read, nullptr));
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(CloseHandle(fifo));

    // The object manager resolves its link before the file system sees the
    // name: a new file is made where the link points.
    HANDLE made = Open(kStage + "\\objnew", GENERIC_WRITE, FILE_FLAG_OPEN_REPARSE_POINT,
                       CREATE_NEW);
    ASSERT_NE(made, INVALID_HANDLE_VALUE);
    EXPECT_EQ(FinalPath(made), Final(kElsewhere + "\\created.txt"));
    EXPECT_TRUE(CloseHandle(made));
    EXPECT_EQ(calls("open").back().args["target"], kElsewhere + "\\created.txt");

    // Other dispositions are not modelled, and say so.
    EXPECT_EQ(Open(kStage + "\\file.txt", GENERIC_READ, 0, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(machine().problems().size(), 1u);
}

TEST(CompareStringOrdinalTest, ComparesCodeUnitsWithOrWithoutCase) {
    winsim::test::TempFolder temp;
    winsim::Machine m(winsim::Machine::default_profile(), temp.path() / "sandbox");
    const struct {
        const wchar_t *a, *b;
        BOOL ignore_case;
        int result;
    } cases[] = {
        {L"\\\\?\\C:\\ProgramData", L"\\\\?\\c:\\programdata", TRUE, CSTR_EQUAL},
        {L"\\\\?\\C:\\ProgramData", L"\\\\?\\c:\\programdata", FALSE, CSTR_LESS_THAN},
        {L"Stra\u00dfe", L"STRA\u00dfE", TRUE, CSTR_EQUAL},
        {L"\u00e9t\u00e9", L"\u00c9T\u00c9", TRUE, CSTR_EQUAL},
        {L"abc", L"abcd", TRUE, CSTR_LESS_THAN},
        {L"b", L"A", TRUE, CSTR_GREATER_THAN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(winsim::to_utf8(c.a) + " / " + winsim::to_utf8(c.b));
        EXPECT_EQ(CompareStringOrdinal(c.a, -1, c.b, -1, c.ignore_case), c.result);
    }
    // Counted strings stop at their count.
    EXPECT_EQ(CompareStringOrdinal(L"abcX", 3, L"ABCY", 3, TRUE), CSTR_EQUAL);
    EXPECT_EQ(CompareStringOrdinal(nullptr, 0, L"a", 1, TRUE), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
