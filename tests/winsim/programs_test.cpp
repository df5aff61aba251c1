// The stand-ins the shell starts: taskkill and the Windows Installer.
#include "support/machine_fixture.h"

#include "platform/winsim/api_support.h"

#include <string>

namespace {

using winsim::test::MachineTest;

const char kConfig[] = "C:\\ProgramData\\Sablewick\\Sablewick Remote\\SablewickRemote.cfg";
const char kLog[] = "C:\\ProgramData\\Sablewick\\Sablewick Remote\\SablewickRemote Msi\\log_v1.0.45.1871.log";
const char kPackage[] = "C:\\Users\\alice\\AppData\\Local\\Temp\\sablewick_remote_4242_5000000.msi";
const std::string kMsiSignature("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);

class Programs : public MachineTest {
protected:
    struct Launch {
        BOOL ok = FALSE;
        DWORD error = 0;
        HANDLE process = nullptr;
        std::shared_ptr<winsim::Process> started;
    };

    Launch open(const std::wstring& file, const std::wstring& parameters, int show = SW_HIDE) {
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.lpVerb = L"open";
        info.lpFile = file.c_str();
        info.lpParameters = parameters.c_str();
        info.nShow = show;
        Launch l;
        l.ok = ShellExecuteExW(&info);
        l.error = l.ok ? 0 : GetLastError();
        l.process = info.hProcess;
        auto started = machine().processes.started();
        if (l.ok && !started.empty()) l.started = started.back();
        return l;
    }

    DWORD finish(const Launch& l, DWORD timeout, DWORD expected_wait = WAIT_OBJECT_0) {
        EXPECT_EQ(WaitForSingleObject(l.process, timeout), expected_wait);
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeProcess(l.process, &code));
        EXPECT_TRUE(CloseHandle(l.process));
        return code;
    }

    std::wstring installer_parameters(const std::string& log) {
        return L" /qn /norestart /l*v \"" + machine().host_wpath(log) +
               L"\" TRAY_MODE=install ONETIME_MODE=manytimes ONETIME_ID=00000000-0000-0000-0000-000000000000";
    }

    Launch run_installer(const std::string& package_bytes = kMsiSignature + "rest of the package") {
        write_file(kPackage, package_bytes);
        std::filesystem::create_directories(host_path(kLog).parent_path());
        return open(machine().host_wpath(kPackage), installer_parameters(kLog), SW_SHOWNORMAL);
    }
};

TEST_F(Programs, TaskkillExitCodes) {
    const struct {
        const wchar_t* parameters;
        DWORD exit_code;
        bool tray_ended;
    } cases[] = {
        {L"/F /IM SablewickTrayAgent.exe", 0, true},
        {L"/F /IM sablewicktrayagent.EXE", 0, true},  // image names compare without case
        {L"/F /IM Nothing.exe", 128, false},
        {L"/IM SablewickTrayAgent.exe", 1, false},  // a windowless process ends only with /F
        {L"/F", 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(winsim::to_utf8(c.parameters));
        reset(winsim::Machine::default_profile());
        auto l = open(L"taskkill.exe", c.parameters);
        ASSERT_TRUE(l.ok);
        EXPECT_EQ(finish(l, 15000), c.exit_code);
        EXPECT_EQ(machine().processes.running(machine(), "SablewickTrayAgent.exe").empty(), c.tray_ended);
        EXPECT_EQ(machine().processes.running(machine(), "SablewickRemoteDesktop.exe").size(), 1u);
    }
    // Once it is gone, a second run finds nothing.
    auto l = open(L"taskkill.exe", L"/F /IM SablewickRemoteDesktop.exe");
    EXPECT_EQ(finish(l, 15000), 0u);
    l = open(L"taskkill.exe", L"/F /IM SablewickRemoteDesktop.exe");
    EXPECT_EQ(finish(l, 15000), 128u);
    expect_no_leaks();
}

TEST_F(Programs, TaskkillThatHangsOrIsMissing) {
    machine().programs.taskkill.hang = true;
    auto l = open(L"taskkill.exe", L"/F /IM SablewickTrayAgent.exe");
    const auto before = machine().clock().now();
    EXPECT_EQ(finish(l, 15000, WAIT_TIMEOUT), winsim::kStillActive);
    EXPECT_EQ(machine().clock().now() - before, 15000u);
    EXPECT_EQ(machine().processes.running(machine(), "SablewickTrayAgent.exe").size(), 1u);

    std::filesystem::remove(host_path("C:\\Windows\\System32\\taskkill.exe"));
    l = open(L"taskkill.exe", L"/F /IM SablewickTrayAgent.exe");
    EXPECT_FALSE(l.ok);
    EXPECT_EQ(l.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    expect_no_leaks();
}

TEST(InstallerParameters, ReadAsMsiexecReadsThem) {
    auto p = winsim::parse_installer_parameters(
        " /qb /norestart /l*v \"C:\\Program Data\\log v1.log\" TRAY_MODE=notray ONETIME_MODE=onetime "
        "ONETIME_ID=0a1b2c3d-0000-4000-8000-00000000abcd NAME=\"a b\"");
    EXPECT_TRUE(p.valid) << p.error;
    EXPECT_EQ(p.ui, "qb");
    EXPECT_TRUE(p.norestart);
    EXPECT_EQ(p.log_mode, "*v");
    EXPECT_EQ(p.log.value_or(""), "C:\\Program Data\\log v1.log");
    const std::vector<std::pair<std::string, std::string>> props = {
        {"TRAY_MODE", "notray"}, {"ONETIME_MODE", "onetime"},
        {"ONETIME_ID", "0a1b2c3d-0000-4000-8000-00000000abcd"}, {"NAME", "a b"}};
    EXPECT_EQ(p.properties, props);

    for (const char* refused : {" /qn /l*v", " /qn /x", " /qn stray", " /l*v \"\""}) {
        SCOPED_TRACE(refused);
        EXPECT_FALSE(winsim::parse_installer_parameters(refused).valid);
    }
}

// Effects act on the files they name; the model knows no file of its own.
TEST_F(Programs, InstallerEffectsOnTheFilesTheyName) {
    const struct {
        const char* name;
        const char* effects;          // programs.msiexec.effects
        std::optional<std::string> before;
        std::optional<std::string> after;
    } cases[] = {
        {"appends a line",
         R"([{"replace_line": "C:\\Data\\app.ini", "holding": "port", "line": "port=27015"}])",
         "a = 1\r\n", "a = 1\r\nport=27015\r\n"},
        {"replaces the first line holding the text",
         R"([{"replace_line": "C:\\Data\\app.ini", "holding": "port", "line": "port=27015\n"}])",
         "a\r\n  port = 1\r\nport = 2\r\n", "a\r\nport=27015\nport = 2\r\n"},
        {"creates a missing file",
         R"([{"replace_line": "C:\\Data\\app.ini", "holding": "port", "line": "port=1"}])",
         std::nullopt, "port=1\r\n"},
        {"deletes the file", R"([{"delete_file": "C:\\Data\\app.ini"}])", "a = 1\r\n",
         std::nullopt},
        {"rewrites the file",
         R"([{"write_file": "C:\\Data\\app.ini", "text": "new\r\n"}, {"append_file": "C:\\Data\\app.ini", "text": "more"}])",
         "old\r\n", "new\r\nmore"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset(winsim::Machine::default_profile());
        machine().programs.installer.effects = nlohmann::json::parse(c.effects);
        write_file(kConfig, "agent = 1\r\n");
        if (c.before) write_file("C:\\Data\\app.ini", *c.before);
        auto l = run_installer();
        ASSERT_TRUE(l.ok);
        EXPECT_EQ(finish(l, 1800000), 0u);
        EXPECT_EQ(read_file("C:\\Data\\app.ini"), c.after);
        EXPECT_EQ(read_file(kConfig), "agent = 1\r\n");
    }
}

// An installer without effects changes nothing; an effect that does not
// name its file or service is refused with the profile.
TEST_F(Programs, InstallerEffectsNameWhatTheyActOn) {
    auto p = winsim::Machine::default_profile();
    p["programs"]["msiexec"].erase("effects");
    reset(p);
    write_file(kConfig, "agent = 1\r\n");
    auto l = run_installer();
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(finish(l, 1800000), 0u);
    EXPECT_EQ(read_file(kConfig), "agent = 1\r\n");
    EXPECT_TRUE(l.started->details["effects"].empty());

    for (const char* effect : {R"({"holding": "port", "line": "port=1"})",
                               R"({"replace_line": "C:\\a.ini", "line": "x"})",
                               R"({"service": {"binary_path": "C:\\svc.exe"}})",
                               R"({"write_file": true})", R"({"tray_port_line": "tray-port=1"})"}) {
        SCOPED_TRACE(effect);
        p["programs"]["msiexec"]["effects"] = nlohmann::json::array(
            {nlohmann::json::parse(effect)});
        EXPECT_THROW(reset(p), std::runtime_error);
    }
}

TEST_F(Programs, InstallerRecordsItsRunAndWritesTheLog) {
    auto l = run_installer();
    ASSERT_TRUE(l.ok);
    ASSERT_TRUE(l.started);
    const auto& d = l.started->details;
    EXPECT_EQ(l.started->image, "msiexec.exe");
    EXPECT_EQ(l.started->show, SW_SHOWNORMAL);
    EXPECT_EQ(d["ui"], "qn");
    EXPECT_EQ(d["properties"]["TRAY_MODE"], "install");
    EXPECT_EQ(d["log"], host_path(kLog).string());
    EXPECT_EQ(d["package"], host_path(kPackage).string());
    EXPECT_EQ(d["package_size"], kMsiSignature.size() + 19);
    // the default profile's installer leaves its tray-port line
    EXPECT_EQ(read_file(kConfig), "tray-port=27015\r\n");
    auto log = read_file(kLog);
    ASSERT_TRUE(log);
    EXPECT_NE(log->find("Property(S): ONETIME_MODE = manytimes"), std::string::npos);
    EXPECT_EQ(finish(l, 1800000), 0u);
    expect_no_leaks();
}

TEST_F(Programs, InstallerRefusals) {
    const struct {
        const char* name;
        std::string package;
        bool log_folder;
        std::wstring parameters;  // empty: the product's
        DWORD exit_code;
    } cases[] = {
        {"log folder missing", kMsiSignature, false, L"", winsim::kMsiLogFailure},
        {"not a package", "MZ not an msi", true, L"", winsim::kMsiPackageInvalid},
        {"bad command line", kMsiSignature, true, L" /qn /l*v", winsim::kMsiInvalidCommandLine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset(winsim::Machine::default_profile());
        write_file(kConfig, "a = 1\r\n");
        write_file(kPackage, c.package);
        if (c.log_folder) std::filesystem::create_directories(host_path(kLog).parent_path());
        auto l = open(machine().host_wpath(kPackage), c.parameters.empty() ? installer_parameters(kLog) : c.parameters);
        ASSERT_TRUE(l.ok);
        EXPECT_EQ(finish(l, 1800000), c.exit_code);
        EXPECT_EQ(read_file(kConfig), "a = 1\r\n");  // no effect applied
    }
}

TEST_F(Programs, InstallerChangesServiceAndTrayProgram) {
    machine().programs.installer.effects = nlohmann::json::parse(R"([
        {"service": {"name": "SablewickRemote", "binary_path": "C:\\Program Files\\Agent\\svc.exe -k"}},
        {"write_file": "C:\\Program Files\\Agent\\SablewickTrayAgent.exe", "text": "tray v2"}])");
    auto l = run_installer();
    ASSERT_TRUE(l.ok);
    auto* s = machine().services.find("SablewickRemote");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->binary_path, host_path("C:\\Program Files\\Agent\\svc.exe").string() + " -k");
    EXPECT_EQ(s->state, static_cast<DWORD>(SERVICE_RUNNING));  // kept from before
    EXPECT_EQ(read_file("C:\\Program Files\\Agent\\SablewickTrayAgent.exe"), "tray v2");
    finish(l, 1800000);
}

TEST_F(Programs, ShellLaunchWithoutProcessHandleOrPackage) {
    machine().programs.installer.returns_process_handle = false;
    auto l = run_installer();
    EXPECT_TRUE(l.ok);
    EXPECT_EQ(l.process, nullptr);

    l = open(machine().host_wpath("C:\\Users\\alice\\AppData\\Local\\Temp\\missing.msi"), L" /qn");
    EXPECT_FALSE(l.ok);
    EXPECT_EQ(l.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    expect_no_leaks();
}

}  // namespace
