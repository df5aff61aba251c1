// Files in the simulated Windows: the product's file operations reach the
// call log and fault injection at the C library's boundary, and the machine
// refuses what Windows refuses for read-only files and files held open.
#include "support/machine_fixture.h"

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
};

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
    faults.fail("write", winsim::kErrorDiskFull, 1);
    EXPECT_FALSE(write(file, "0123456789"));
    EXPECT_EQ(read_file(kData + "\\x.txt"), "01234");
    const auto writes = calls("write");
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].result, 5);
    EXPECT_EQ(writes[1].to_json()["errno"], "ENOSPC");

    // The final flush fails at the close; the file is closed all the same.
    faults.fail("close", winsim::kErrorDiskFull, 2);
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
    machine().faults.fail_file("write", kData + "\\B.TXT", winsim::kErrorDiskFull, 2);
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
    std::ifstream reading(config);
    EXPECT_TRUE(reading.is_open());  // it shares reading

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

TEST(FileErrors, Win32ErrorsAndErrnoValuesMapBothWays) {
    const struct {
        DWORD win32;
        int errno_value;
    } pairs[] = {{ERROR_SHARING_VIOLATION, ETXTBSY},
                 {ERROR_ACCESS_DENIED, EACCES},
                 {winsim::kErrorDiskFull, ENOSPC},
                 {ERROR_FILE_NOT_FOUND, ENOENT},
                 {winsim::kErrorFileExists, EEXIST}};
    for (const auto& p : pairs) {
        EXPECT_EQ(winsim::errno_of_win32(p.win32), p.errno_value) << p.win32;
        EXPECT_EQ(winsim::win32_of_errno(p.errno_value), p.win32) << p.errno_value;
    }
    EXPECT_EQ(winsim::errno_of_win32(ERROR_PATH_NOT_FOUND), ENOENT);
}

}  // namespace
