// What the program does through a file handle: read and write in place,
// move the pointer, cut the file, ask its size and final path, rename it,
// delete it by disposition, set its attributes; and the sharing every open
// of a file is checked against.
#include "support/machine_fixture.h"

#include "platform/winsim/api_support.h"
#include "platform/winsim/files.h"

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using winsim::test::MachineTest;

const std::string kData = "C:\\ProgramData\\Sablewick\\Sablewick Remote";
const std::string kConfig = kData + "\\SablewickRemote.cfg";
const std::string kOther = kData + "\\other.cfg";
const std::wstring kDataW = L"C:\\ProgramData\\Sablewick\\Sablewick Remote";
const std::wstring kOtherW = kDataW + L"\\other.cfg";
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class Handles : public MachineTest {
protected:
    nlohmann::json profile() override {
        auto p = MachineTest::profile();
        p["files"][kConfig] = "0123456789";
        p["files"][kOther] = "other";
        p["files"][kData + "\\read-only.cfg"] = {{"text", "ro"}, {"read_only", true}};
        p["files"][kData + "\\folder\\inner.txt"] = "inner";
        p["files"][kData + "\\empty"] = {{"folder", true}};
        return p;
    }

    std::wstring W(const std::string& windows) const {
        return winsim::from_utf8(host_path(windows).string());
    }
    bool Exists(const std::string& windows) const {
        return winsim::anything_at(host_path(windows));
    }
    HANDLE Open(const std::string& windows, DWORD access, DWORD share = kShareAll,
                DWORD flags = 0) {
        return CreateFileW(W(windows).c_str(), access, share, nullptr, OPEN_EXISTING, flags,
                           nullptr);
    }
    BOOL Rename(HANDLE h, const std::wstring& name, bool replace) {
        std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(WCHAR));
        auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        info->ReplaceIfExists = replace ? TRUE : FALSE;
        info->RootDirectory = nullptr;
        info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(WCHAR));
        std::memcpy(info->FileName, name.data(), name.size() * sizeof(WCHAR));
        return SetFileInformationByHandle(h, FileRenameInfo, info,
                                          static_cast<DWORD>(buffer.size()));
    }
    BOOL Dispose(HANDLE h, bool remove = true) {
        FILE_DISPOSITION_INFO info{};
        info.DeleteFile = remove ? TRUE : FALSE;
        return SetFileInformationByHandle(h, FileDispositionInfo, &info, sizeof info);
    }
};

TEST_F(Handles, ReadWriteAndCutInPlace) {
    HANDLE h = Open(kConfig, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size{};
    ASSERT_TRUE(GetFileSizeEx(h, &size));
    EXPECT_EQ(size.QuadPart, 10);
    char buf[16] = {};
    DWORD n = 0;
    ASSERT_TRUE(ReadFile(h, buf, 4, &n, nullptr));
    EXPECT_EQ(std::string(buf, n), "0123");
    LARGE_INTEGER to{}, at{};
    to.QuadPart = -2;
    ASSERT_TRUE(SetFilePointerEx(h, to, &at, FILE_END));
    EXPECT_EQ(at.QuadPart, 8);
    ASSERT_TRUE(WriteFile(h, "AB", 2, &n, nullptr));
    to.QuadPart = 6;
    ASSERT_TRUE(SetFilePointerEx(h, to, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(h));
    ASSERT_TRUE(GetFileSizeEx(h, &size));
    EXPECT_EQ(size.QuadPart, 6);
    to.QuadPart = -7;
    EXPECT_FALSE(SetFilePointerEx(h, to, nullptr, FILE_CURRENT));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
    EXPECT_EQ(n, 0u);  // at the end
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(read_file(kConfig), "012345");
    expect_no_leaks();
}

// A handle does what it was opened for, nothing more.
TEST_F(Handles, EachCallNeedsItsAccess) {
    HANDLE reading = Open(kConfig, GENERIC_READ);
    HANDLE attributes = Open(kConfig, FILE_READ_ATTRIBUTES);
    HANDLE nothing = Open(kConfig, 0);
    ASSERT_NE(reading, INVALID_HANDLE_VALUE);
    ASSERT_NE(attributes, INVALID_HANDLE_VALUE);
    ASSERT_NE(nothing, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    char byte = 0;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_HIDDEN;
    BY_HANDLE_FILE_INFORMATION info{};
    const struct {
        const char* what;
        BOOL result;
    } refused[] = {
        {"write through a reading handle", WriteFile(reading, "x", 1, &n, nullptr)},
        {"cut through a reading handle", SetEndOfFile(reading)},
        {"read through an attributes handle", ReadFile(attributes, &byte, 1, &n, nullptr)},
        {"set attributes without FILE_WRITE_ATTRIBUTES",
         SetFileInformationByHandle(attributes, FileBasicInfo, &basic, sizeof basic)},
        {"rename without DELETE", Rename(reading, L"renamed.cfg", false)},
        {"delete without DELETE", Dispose(reading)},
        {"query without FILE_READ_ATTRIBUTES", GetFileInformationByHandle(nothing, &info)},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(c.result);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    for (HANDLE h : {reading, attributes, nothing}) EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(read_file(kConfig), "0123456789");
    EXPECT_EQ(GetFileAttributesW(W(kConfig).c_str()), FILE_ATTRIBUTE_ARCHIVE);
    expect_no_leaks();
}

TEST_F(Handles, FinalPathBufferProtocol) {
    HANDLE h = Open(kConfig, FILE_READ_ATTRIBUTES);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const std::wstring expected = L"\\\\?\\" + W(kConfig);
    const DWORD length = static_cast<DWORD>(expected.size());
    std::vector<WCHAR> buf(length + 1, L'#');
    // Too small by one: the size needed, the null included; nothing written.
    EXPECT_EQ(GetFinalPathNameByHandleW(h, buf.data(), length, FILE_NAME_NORMALIZED), length + 1);
    EXPECT_EQ(buf[0], L'#');
    EXPECT_EQ(GetFinalPathNameByHandleW(h, buf.data(), length + 1, FILE_NAME_NORMALIZED), length);
    EXPECT_EQ(std::wstring(buf.data()), expected);
    EXPECT_EQ(GetFinalPathNameByHandleW(h, buf.data(), length + 1, 0x10), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    // Renamed meanwhile: the path the file has now.
    HANDLE mover = Open(kConfig, DELETE);
    ASSERT_TRUE(Rename(mover, W(kData + "\\moved.cfg"), false));
    EXPECT_EQ(GetFinalPathNameByHandleW(h, buf.data(), length + 1, FILE_NAME_NORMALIZED),
              static_cast<DWORD>(W(kData + "\\moved.cfg").size() + 4));
    EXPECT_EQ(std::wstring(buf.data()), L"\\\\?\\" + W(kData + "\\moved.cfg"));
    EXPECT_TRUE(CloseHandle(mover));
    EXPECT_TRUE(CloseHandle(h));
    expect_no_leaks();
}

TEST_F(Handles, RenameThroughTheHandleAsMoveFileExRefusesIt) {
    const struct {
        const char* what;
        std::wstring name;
        bool replace;
        const char* hold;  // a file opened beforehand, or null
        DWORD error;       // 0: renamed
        std::string lands;
    } cases[] = {
        // Not in the file's folder: FILE_RENAME_INFO takes a relative name
        // relative to the process's current folder, here the system folder.
        {"a bare name, in the current folder", L"renamed.cfg", false, nullptr, 0,
         "C:\\Windows\\System32\\renamed.cfg"},
        {"a full path", L"C:\\ProgramData\\moved.cfg", false, nullptr, 0,
         "C:\\ProgramData\\moved.cfg"},
        {"onto a file, not asked to replace", kOtherW, false, nullptr, ERROR_ALREADY_EXISTS, ""},
        {"onto a file, replacing", kOtherW, true, nullptr, 0, kOther},
        {"onto a file that is open", kOtherW, true, "other.cfg", ERROR_ACCESS_DENIED, ""},
        {"onto a read-only file", kDataW + L"\\read-only.cfg", true, nullptr, ERROR_ACCESS_DENIED,
         ""},
        {"onto a folder", kDataW + L"\\empty", true, nullptr, ERROR_ACCESS_DENIED, ""},
        {"a relative path into a missing folder", L"sub\\x.cfg", false, nullptr,
         ERROR_PATH_NOT_FOUND, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reset(profile());
        HANDLE held = c.hold ? Open(kData + "\\" + c.hold, FILE_READ_ATTRIBUTES) : nullptr;
        HANDLE h = Open(kConfig, DELETE | SYNCHRONIZE);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        // A drive path names the file's place on this machine's disk.
        const std::wstring name = c.name.find(L':') == 1 ? W(winsim::to_utf8(c.name)) : c.name;
        EXPECT_EQ(Rename(h, name, c.replace) != FALSE, c.error == 0);
        if (c.error) {
            EXPECT_EQ(GetLastError(), c.error);
            EXPECT_EQ(read_file(kConfig), "0123456789");
        } else {
            EXPECT_EQ(read_file(c.lands), "0123456789");
            EXPECT_FALSE(Exists(kConfig));
        }
        EXPECT_TRUE(CloseHandle(h));
        if (held) {
            EXPECT_TRUE(CloseHandle(held));
        }
        expect_no_leaks();
    }
}

TEST_F(Handles, DeleteByDisposition) {
    const struct {
        const char* what;
        std::string name;
        DWORD flags;
        DWORD error;
    } cases[] = {
        {"a file", kConfig, 0, 0},
        {"an empty folder", kData + "\\empty", FILE_FLAG_BACKUP_SEMANTICS, 0},
        {"a read-only file", kData + "\\read-only.cfg", 0, ERROR_ACCESS_DENIED},
        {"a folder with a file", kData + "\\folder", FILE_FLAG_BACKUP_SEMANTICS,
         ERROR_DIR_NOT_EMPTY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HANDLE h = Open(c.name, DELETE, kShareAll, c.flags);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(Dispose(h) != FALSE, c.error == 0);
        if (c.error) {
            EXPECT_EQ(GetLastError(), c.error);
        }
        EXPECT_TRUE(CloseHandle(h));
        EXPECT_EQ(Exists(c.name), c.error != 0);
    }

    // Another open: the name stays until it closes, and opens meanwhile fail.
    HANDLE reader = Open(kOther, GENERIC_READ);
    HANDLE h = Open(kOther, DELETE);
    ASSERT_TRUE(Dispose(h));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(Exists(kOther));
    EXPECT_EQ(Open(kOther, GENERIC_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseHandle(reader));
    EXPECT_FALSE(Exists(kOther));
    expect_no_leaks();
}

TEST_F(Handles, BasicInfoSetsAttributesThatStayWithTheFile) {
    HANDLE h = Open(kConfig, FILE_WRITE_ATTRIBUTES | DELETE);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILE_BASIC_INFO info{};
    info.FileAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    ASSERT_TRUE(SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof info));
    info.FileAttributes = 0;  // unchanged
    ASSERT_TRUE(SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof info));
    ASSERT_TRUE(Rename(h, W(kData + "\\renamed.cfg"), false));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(GetFileAttributesW(W(kData + "\\renamed.cfg").c_str()),
              FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    // FILE_ATTRIBUTE_NORMAL clears them; a directory bit on a file is refused.
    h = Open(kData + "\\renamed.cfg", FILE_WRITE_ATTRIBUTES);
    info.FileAttributes = FILE_ATTRIBUTE_DEVICE;
    EXPECT_FALSE(SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    ASSERT_TRUE(SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof info));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(GetFileAttributesW(W(kData + "\\renamed.cfg").c_str()), FILE_ATTRIBUTE_NORMAL);
    expect_no_leaks();
}

// Every open is checked against every other: each must share what the
// other does, and opens for attributes alone take no part.
TEST_F(Handles, SharingAmongOpens) {
    const struct {
        DWORD first_access, first_share, second_access, second_share;
        DWORD error;
    } cases[] = {
        {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, 0},
        {GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, kShareAll, ERROR_SHARING_VIOLATION},
        {GENERIC_WRITE, kShareAll, GENERIC_READ, FILE_SHARE_READ, ERROR_SHARING_VIOLATION},
        {FILE_READ_ATTRIBUTES, 0, GENERIC_READ | GENERIC_WRITE, 0, 0},
        {DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, GENERIC_WRITE,
         FILE_SHARE_READ | FILE_SHARE_WRITE, ERROR_SHARING_VIOLATION},
        {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, DELETE, FILE_SHARE_READ, 0},
        {GENERIC_READ, FILE_SHARE_READ, DELETE, kShareAll, ERROR_SHARING_VIOLATION},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.first_access) + "/" + std::to_string(c.first_share) + " then "
                     + std::to_string(c.second_access) + "/" + std::to_string(c.second_share));
        HANDLE first = Open(kConfig, c.first_access, c.first_share);
        ASSERT_NE(first, INVALID_HANDLE_VALUE);
        HANDLE second = Open(kConfig, c.second_access, c.second_share);
        EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.error == 0);
        if (second == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(GetLastError(), c.error);
        } else {
            EXPECT_TRUE(CloseHandle(second));
        }
        EXPECT_TRUE(CloseHandle(first));
    }
    // The program's C library opens meet them too: a handle that shares
    // nothing keeps its stream from opening.
    HANDLE exclusive = Open(kConfig, GENERIC_READ, 0);
    EXPECT_FALSE(std::ifstream(host_path(kConfig)).is_open());
    EXPECT_EQ(calls("open").back().args["refused"], "held by the program");
    EXPECT_TRUE(CloseHandle(exclusive));
    expect_no_leaks();
}

// The Win32 calls that change the disk do so through one C library
// operation each, recorded under its kind and failed there.
TEST_F(Handles, EachChangePassesTheBoundary) {
    HANDLE h = Open(kConfig, GENERIC_WRITE | DELETE);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    auto& faults = machine().faults;
    faults.fail("truncate", ERROR_DISK_FULL);
    EXPECT_FALSE(SetEndOfFile(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    faults.fail("rename", ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(Rename(h, L"renamed.cfg", false));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    faults.fail("remove", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(Dispose(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    faults.fail("mkdir", ERROR_DISK_FULL);
    EXPECT_FALSE(CreateDirectoryW(W(kData + "\\new").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    faults.clear();
    EXPECT_TRUE(CloseHandle(h));
    for (const char* kind : {"truncate", "rename", "remove", "mkdir"}) {
        SCOPED_TRACE(kind);
        ASSERT_FALSE(calls(kind).empty());
        EXPECT_TRUE(calls(kind).back().injected);
    }
    EXPECT_EQ(read_file(kConfig), "0123456789");
    EXPECT_FALSE(Exists(kData + "\\new"));

    // Made, and taken away again.
    EXPECT_TRUE(CreateDirectoryW(W(kData + "\\new").c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryW(W(kData + "\\new").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(RemoveDirectoryW(W(kData + "\\new").c_str()));
    EXPECT_EQ(calls("remove").back().args["function"], "rmdir");
    expect_no_leaks();
}

}  // namespace
