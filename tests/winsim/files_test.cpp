// Files in the simulated Windows, one model under two doors: the product's
// C library and std::filesystem operations and the Win32 file functions
// (exclusive creation, writes, renames, deletion, attributes). Both reach
// the call log and fault injection at the C library's boundary, and both
// meet the same refusals Windows makes for read-only files and files held
// open.
#include "support/machine_fixture.h"

#include "platform/winsim/api_support.h"
#include "platform/winsim/files.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace {

namespace fs = std::filesystem;
using winsim::test::MachineTest;

const std::string kData = "C:\\ProgramData\\Sablewick\\Sablewick Remote";
const std::string kConfig = kData + "\\SablewickRemote.cfg";
const std::string kSettings = kData + "\\SablewickRemote.dat";

class Files : public MachineTest {
protected:
    nlohmann::json profile() override {
        auto p = MachineTest::profile();
        p["files"][kConfig] = "old\r\n";
        p["files"][kSettings] = {{"text", "record\r\n"}, {"read_only", true}};
        return p;
    }

    fs::path at(const std::string& windows) const { return host_path(windows); }

    // What the product's own calls do: std::filesystem and file streams.
    static int remove(const fs::path& p) {
        std::error_code ec;
        fs::remove(p, ec);
        return ec.value();
    }
    static int rename(const fs::path& from, const fs::path& to) {
        std::error_code ec;
        fs::rename(from, to, ec);
        return ec.value();
    }
    static bool write(const fs::path& p, const std::string& text) {
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << text;
        out.close();
        return !out.fail();
    }

    winsim::CallRecord last(const std::string& call) {
        const auto records = calls(call);
        return records.empty() ? winsim::CallRecord{} : records.back();
    }

    // The Win32 side: wide host paths, as the model hands paths to the
    // program, in a folder of the machine's disk.
    static std::wstring W(const fs::path& p) { return winsim::from_utf8(p.string()); }
    fs::path At(const std::string& name) const { return host_path("C:\\ProgramData") / name; }
    // The test's own writing: not the program's, so neither recorded nor failed.
    static void Put(const fs::path& p, const std::string& text) {
        winsim::ModelFileAccess test;
        std::ofstream(p, std::ios::binary) << text;
    }
    static std::string Read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    DWORD LastError() { return machine().last_error(); }
    HANDLE CreateNew(const fs::path& p) {
        return CreateFileW(W(p).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
};

// The one mapping between the two sides of the boundary: a Win32 error
// injected into a file operation shows as its errno, and an errno the host
// gives becomes the error Windows gives in that situation.
TEST(FileErrors, Win32ErrorsAndErrnoValuesMapBothWays) {
    const struct {
        DWORD win32;
        int errno_value;
    } pairs[] = {{ERROR_SHARING_VIOLATION, ETXTBSY},
                 {ERROR_ACCESS_DENIED, EACCES},
                 {ERROR_DISK_FULL, ENOSPC},
                 {ERROR_FILE_NOT_FOUND, ENOENT},
                 {ERROR_FILE_EXISTS, EEXIST}};
    for (const auto& p : pairs) {
        EXPECT_EQ(winsim::errno_of_win32(p.win32), p.errno_value) << p.win32;
        EXPECT_EQ(winsim::win32_of_errno(p.errno_value), p.win32) << p.errno_value;
    }
    EXPECT_EQ(winsim::errno_of_win32(ERROR_PATH_NOT_FOUND), ENOENT);
    EXPECT_EQ(winsim::errno_of_win32(ERROR_ALREADY_EXISTS), EEXIST);

    const struct {
        int err;
        bool folderMissing;
        DWORD expected;
    } cases[] = {
        {EPERM, false, ERROR_ACCESS_DENIED},    {EISDIR, false, ERROR_ACCESS_DENIED},
        {EROFS, false, ERROR_ACCESS_DENIED},    {ENOENT, true, ERROR_PATH_NOT_FOUND},
        {ENOTDIR, false, ERROR_PATH_NOT_FOUND}, {EDQUOT, false, ERROR_DISK_FULL},
        {EIO, false, ERROR_GEN_FAILURE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        EXPECT_EQ(winsim::win32_of_errno(c.err, c.folderMissing), c.expected);
    }
}

TEST_F(Files, TheProgramsFileOperationsAreRecordedWithSandboxPaths) {
    ASSERT_TRUE(machine().files.interposing());
    ASSERT_TRUE(write(at(kConfig + ".new"), "new\r\n"));
    ASSERT_EQ(rename(at(kConfig + ".new"), at(kConfig)), 0);
    EXPECT_FALSE(fs::exists(at(kData + "\\missing")));
    {
        // Outside the sandbox, and the model's own work, pass unrecorded.
        ASSERT_TRUE(write(temp_dir() / "outside.txt", "x"));
        winsim::ModelFileAccess model;
        ASSERT_TRUE(write(at(kData + "\\model.txt"), "x"));
    }

    std::vector<std::string> seen;
    for (const auto& c : machine().log.calls()) {
        ASSERT_TRUE(c.file) << c.call;
        seen.push_back(c.call + " " + c.args.value("path", std::string()));
    }
    const std::vector<std::string> expected = {
        "open " + kConfig + ".new", "write " + kConfig + ".new", "close " + kConfig + ".new",
        "rename " + kConfig + ".new", "stat " + kData + "\\missing"};
    EXPECT_EQ(seen, expected);
    const auto renamed = last("rename").to_json();
    EXPECT_EQ(renamed["args"]["newPath"], kConfig);
    EXPECT_TRUE(renamed["errno"].is_null());
    EXPECT_EQ(last("stat").to_json()["errno"], "ENOENT");
    EXPECT_EQ(read_file(kConfig), "new\r\n");
}

// Each kind of operation fails with the errno of the Win32 error injected,
// and leaves what that failure leaves on Windows.
TEST_F(Files, InjectedFailuresGiveTheirErrors) {
    const fs::path file = at(kData + "\\x.txt"), other = at(kData + "\\y.txt");
    auto& faults = machine().faults;

    faults.fail("open", ERROR_PATH_NOT_FOUND, 1);
    EXPECT_FALSE(write(file, "text"));
    EXPECT_FALSE(file_exists(kData + "\\x.txt"));  // nothing created
    EXPECT_EQ(last("open").to_json()["errno"], "ENOENT");
    EXPECT_TRUE(last("open").injected);

    faults.fail("open", ERROR_ACCESS_DENIED, 2);
    EXPECT_FALSE(write(file, "text"));
    EXPECT_EQ(last("open").to_json()["errno"], "EACCES");

    // A full disk takes part of the data, then nothing.
    faults.fail("write", ERROR_DISK_FULL, 1);
    EXPECT_FALSE(write(file, "0123456789"));
    EXPECT_EQ(read_file(kData + "\\x.txt"), "01234");
    const auto writes = calls("write");
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].result, 5);
    EXPECT_EQ(writes[1].to_json()["errno"], "ENOSPC");

    // The final flush fails at the close; the file is closed all the same.
    faults.fail("close", ERROR_DISK_FULL, 2);
    EXPECT_FALSE(write(file, "whole"));
    EXPECT_EQ(last("close").to_json()["errno"], "ENOSPC");
    EXPECT_TRUE(write(file, "again"));

    faults.fail("rename", ERROR_SHARING_VIOLATION, 1);
    EXPECT_EQ(rename(file, other), ETXTBSY);
    EXPECT_TRUE(file_exists(kData + "\\x.txt"));
    faults.fail("remove", ERROR_SHARING_VIOLATION, 1);
    EXPECT_EQ(remove(file), ETXTBSY);
    EXPECT_TRUE(file_exists(kData + "\\x.txt"));

    faults.fail_file("stat", kData + "\\x.txt", ERROR_ACCESS_DENIED);
    EXPECT_THROW((void)fs::exists(file), fs::filesystem_error);
    faults.fail("mkdir", ERROR_ACCESS_DENIED);
    std::error_code ec;
    fs::create_directories(at(kData + "\\a\\b"), ec);
    EXPECT_EQ(ec.value(), EACCES);
}

// A fault armed for one file counts that file's operations only.
TEST_F(Files, FaultsByFileCountThatFileOnly) {
    machine().faults.fail_file("write", kData + "\\B.TXT", ERROR_DISK_FULL, 2);
    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(write(at(kData + "\\a.txt"), "a"));
        EXPECT_EQ(write(at(kData + "\\b.txt"), "bb"), round == 0);
    }
    EXPECT_EQ(read_file(kData + "\\b.txt"), "b");
}

// DeleteFileW and MoveFileExW refuse a read-only file, even to an
// administrator; renaming the file itself is allowed and the attribute
// goes with it.
TEST_F(Files, ReadOnlyFilesCannotBeRemovedReplacedOrWritten) {
    const fs::path settings = at(kSettings), fresh = at(kSettings + ".new"), moved = at(kData + "\\moved.dat");
    ASSERT_TRUE(write(fresh, "new record\r\n"));

    EXPECT_EQ(remove(settings), EACCES);
    EXPECT_EQ(rename(fresh, settings), EACCES);
    EXPECT_FALSE(write(settings, "x"));
    EXPECT_EQ(read_file(kSettings), "record\r\n");
    const auto refused = last("remove").to_json();
    EXPECT_FALSE(refused.contains("injected"));
    EXPECT_EQ(refused["args"]["refused"], "read-only");

    EXPECT_EQ(rename(settings, moved), 0);
    EXPECT_TRUE(machine().files.read_only(moved));
    EXPECT_EQ(remove(moved), EACCES);
    EXPECT_EQ(rename(fresh, settings), 0);  // the name is free now
    EXPECT_EQ(read_file(kSettings), "new record\r\n");
}

// A file a running service holds without delete or write sharing: removing
// it is a sharing violation, replacing it is refused, writing to it too;
// once the service has stopped, it is free.
TEST_F(Files, AFileTheServiceHoldsIsFreeOnceItStops) {
    auto p = profile();
    p["services"]["SablewickRemote"]["open_files"] = nlohmann::json::array({kConfig});
    p["services"]["SablewickRemote"]["stop_polls"] = 1;
    reset(p);
    const fs::path config = at(kConfig), fresh = at(kConfig + ".new");
    ASSERT_TRUE(write(fresh, "new\r\n"));

    EXPECT_EQ(remove(config), ETXTBSY);
    EXPECT_EQ(rename(fresh, config), EACCES);
    EXPECT_FALSE(write(config, "x"));
    const auto held = last("open").to_json();
    EXPECT_EQ(held["errno"], "ETXTBSY");
    EXPECT_EQ(held["args"]["refused"], "held by SablewickRemote (service)");
    EXPECT_EQ(read_file(kConfig), "old\r\n");
    {
        // It shares reading; open, the file could not be replaced.
        std::ifstream reading(config);
        EXPECT_TRUE(reading.is_open());
    }

    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, L"SablewickRemote", SERVICE_STOP | SERVICE_QUERY_STATUS);
    SERVICE_STATUS stop{};
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &stop));
    EXPECT_EQ(remove(config), ETXTBSY);  // still stopping
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status),
                                     sizeof status, &needed));
    ASSERT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);

    EXPECT_EQ(rename(fresh, config), 0);
    EXPECT_EQ(read_file(kConfig), "new\r\n");
    expect_no_leaks();
}

// A process that holds a file lets it go when taskkill ends it; a holder
// that shares deletion does not stand in the way at all.
TEST_F(Files, TaskkillReleasesWhatTheProcessHeld) {
    auto p = profile();
    p["processes"]["running"] = {
        {{"image", "SablewickTrayAgent.exe"}, {"open_files", {kConfig}}},
        {{"image", "Scanner.exe"}, {"open_files", {{{"path", kSettings}, {"share", {"read", "delete"}}}}}}};
    p["files"][kSettings] = "record\r\n";
    reset(p);
    EXPECT_EQ(remove(at(kConfig)), ETXTBSY);
    EXPECT_EQ(remove(at(kSettings)), 0);

    std::wstring parameters = L"/F /IM SablewickTrayAgent.exe";
    SHELLEXECUTEINFOW request{};
    request.cbSize = sizeof request;
    request.lpVerb = L"open";
    request.lpFile = L"taskkill.exe";
    request.lpParameters = parameters.c_str();
    ASSERT_TRUE(ShellExecuteExW(&request));

    EXPECT_EQ(remove(at(kConfig)), 0);
    expect_no_leaks();
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
    machine().files.set_read_only(At("read-only"));
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

// Each Win32 file call is made of one C library operation, which the
// boundary records under its kind and may fail: the failure comes back as
// the Win32 error it was injected as, with what that failure leaves.
TEST_F(Files, Win32CallsPassTheBoundaryAndFailThere) {
    const fs::path file = at(kData + "\\n.txt"), moved = at(kData + "\\m.txt");
    HANDLE h = CreateNew(file);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, "abc", 3, &written, nullptr));
    ASSERT_TRUE(CloseHandle(h));
    ASSERT_NE(GetFileAttributesW(W(file).c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(MoveFileExW(W(file).c_str(), W(moved).c_str(), MOVEFILE_REPLACE_EXISTING));
    ASSERT_TRUE(DeleteFileW(W(moved).c_str()));
    std::vector<std::string> seen;
    for (const auto& c : machine().log.calls())
        if (c.file) seen.push_back(c.call + " " + c.args.value("path", std::string()));
    const std::vector<std::string> expected = {"open " + kData + "\\n.txt",  "write " + kData + "\\n.txt",
                                               "close " + kData + "\\n.txt", "stat " + kData + "\\n.txt",
                                               "rename " + kData + "\\n.txt", "remove " + kData + "\\m.txt"};
    EXPECT_EQ(seen, expected);

    auto& faults = machine().faults;
    faults.fail("open", ERROR_ACCESS_DENIED, 2);
    EXPECT_EQ(CreateNew(file), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(file_exists(kData + "\\n.txt"));

    // A full disk under WriteFile: part of the data reached the file.
    faults.fail("write", ERROR_DISK_FULL, 2);
    h = CreateNew(file);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    written = 0;
    EXPECT_FALSE(WriteFile(h, "0123456789", 10, &written, nullptr));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_EQ(written, 5u);
    faults.fail("close", ERROR_DISK_FULL, 2);
    EXPECT_FALSE(CloseHandle(h));  // the handle goes all the same
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_EQ(read_file(kData + "\\n.txt"), "01234");

    faults.fail("rename", ERROR_SHARING_VIOLATION, 2);
    EXPECT_FALSE(MoveFileExW(W(file).c_str(), W(moved).c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    faults.fail("remove", ERROR_SHARING_VIOLATION, 2);
    EXPECT_FALSE(DeleteFileW(W(file).c_str()));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    faults.fail("stat", ERROR_ACCESS_DENIED, 2);
    EXPECT_EQ(GetFileAttributesW(W(file).c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(read_file(kData + "\\n.txt"), "01234");
    expect_no_leaks();
}

// The Win32 calls meet the same read-only files and held files as the C
// library: a profile's read-only file shows the attribute and can be
// neither deleted nor replaced; a file the service holds without delete
// sharing cannot be deleted (a sharing violation) and, open at all, cannot
// be replaced (access denied), until the service lets it go.
TEST_F(Files, Win32CallsMeetTheSameReadOnlyAndHeldFiles) {
    auto p = profile();
    p["services"]["SablewickRemote"]["open_files"] = nlohmann::json::array({kConfig});
    p["services"]["SablewickRemote"]["stop_polls"] = 0;
    reset(p);
    const fs::path fresh = at(kData + "\\fresh");
    Put(fresh, "new");

    EXPECT_EQ(GetFileAttributesW(W(at(kSettings)).c_str()), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(GetFileAttributesW(W(at(kConfig)).c_str()), FILE_ATTRIBUTE_ARCHIVE);
    const struct {
        const char* name;
        bool remove;  // else replace
        const std::string* file;
        DWORD error;
    } cases[] = {
        {"delete the read-only file", true, &kSettings, ERROR_ACCESS_DENIED},
        {"replace the read-only file", false, &kSettings, ERROR_ACCESS_DENIED},
        {"delete the held file", true, &kConfig, ERROR_SHARING_VIOLATION},
        {"replace the held file", false, &kConfig, ERROR_ACCESS_DENIED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring target = W(at(*c.file));
        const BOOL done = c.remove ? DeleteFileW(target.c_str())
                                   : MoveFileExW(W(fresh).c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
        EXPECT_FALSE(done);
        EXPECT_EQ(LastError(), c.error);
        EXPECT_FALSE(last(c.remove ? "remove" : "rename").args.value("refused", std::string()).empty());
    }
    EXPECT_EQ(read_file(kSettings), "record\r\n");
    EXPECT_EQ(read_file(kConfig), "old\r\n");

    // Stopped, the service holds nothing.
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, L"SablewickRemote", SERVICE_STOP);
    SERVICE_STATUS stop{};
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &stop));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    EXPECT_TRUE(MoveFileExW(W(fresh).c_str(), W(at(kConfig)).c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(read_file(kConfig), "new");
    // Clearing the attribute frees the read-only file.
    machine().files.set_read_only(at(kSettings), false);
    EXPECT_TRUE(DeleteFileW(W(at(kSettings)).c_str()));
    expect_no_leaks();
}

}  // namespace
