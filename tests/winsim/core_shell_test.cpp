// Known folders in the sandbox, WideCharToMultiByte's ANSI code page,
// message boxes, and ShellExecuteExW's lookup of a file and its error dialog.
#include "support/machine_fixture.h"

#include <filesystem>
#include <functional>
#include <string>

namespace {

using winsim::test::MachineTest;

class Shell : public MachineTest {
protected:
    nlohmann::json profile() override {
        auto p = MachineTest::profile();
        p["folders"]["ProgramData"] = {{"path", "C:\\ProgramData"}, {"exists", false}};
        return p;
    }
};

TEST_F(Shell, KnownFolderIsCreatedOnlyWhenAsked) {
    PWSTR path = nullptr;
    EXPECT_EQ(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(path, nullptr);
    wchar_t buf[MAX_PATH];
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buf), E_FAIL);

    ASSERT_EQ(SHGetKnownFolderPath(FOLDERID_ProgramData, KF_FLAG_CREATE, nullptr, &path), S_OK);
    std::filesystem::path host(winsim::to_utf8(path));
    CoTaskMemFree(path);
    EXPECT_EQ(host, host_path("C:\\ProgramData"));
    EXPECT_TRUE(std::filesystem::is_directory(host));
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buf), S_OK);
    EXPECT_EQ(std::filesystem::path(winsim::to_utf8(buf)), host);
    expect_no_leaks();
}

TEST_F(Shell, AnsiCodePageIsWindows1252) {
    const wchar_t text[] = L"caf\u00e9 \u20ac \u0100 \U0001F600";
    char out[32];
    BOOL used = FALSE;
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    EXPECT_EQ(n, 11);  // one '?' for the pair of surrogates, and the NUL
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, out, sizeof out, nullptr, &used), n);
    EXPECT_STREQ(out, "caf\xe9 \x80 ? ?");
    EXPECT_TRUE(used);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"abc", 3, out, sizeof out, nullptr, &used), 3);
    EXPECT_FALSE(used);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, out, 4, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(Shell, MessageBoxesAreRecordedAndAnsweredOk) {
    EXPECT_EQ(MessageBoxW(nullptr, L"Body\r\n\r\ntext", L"Caption", MB_OK | MB_ICONERROR), IDOK);
    ASSERT_EQ(message_boxes().size(), 1u);
    EXPECT_EQ(message_boxes()[0].text_utf8(), "Body\r\n\r\ntext");
    EXPECT_EQ(message_boxes()[0].caption, L"Caption");
    EXPECT_EQ(message_boxes()[0].type, MB_OK | MB_ICONERROR);
}

// A failed launch brings the shell's own error dialog unless the caller asks
// for none; the call fails the same way either way. A declined consent
// prompt is no error and shows nothing more.
TEST_F(Shell, FailedLaunchShowsTheShellsDialogUnlessAskedNotTo) {
    const std::string package = "C:\\Users\\alice\\AppData\\Local\\Temp\\a.msi";
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::string verb, file;  // Windows paths
        DWORD error;
        std::string text;  // the dialog's; empty: none
    };
    const Case cases[] = {
        {"missing program", [] {}, "open", "C:\\Tools\\missing.exe", ERROR_FILE_NOT_FOUND,
         "Windows cannot find '"},
        {"package type without a program",
         [this] { machine().programs.installer.associated = false; }, "open", package,
         ERROR_NO_ASSOCIATION, "This file does not have a program associated with it"},
        {"launch refused",
         [this] { machine().faults.fail("ShellExecuteExW", ERROR_ACCESS_DENIED); }, "open", package,
         ERROR_ACCESS_DENIED, "Windows cannot access the specified device, path, or file."},
        {"consent declined",
         [this] {
             machine().security.process_token = winsim::TokenKind::standard_user;
             machine().security.consent_accepted = false;
         },
         "runas", package, ERROR_CANCELLED, ""},
    };
    for (const Case& c : cases) {
        for (const ULONG mask :
             {SEE_MASK_NOCLOSEPROCESS, SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI}) {
            SCOPED_TRACE(std::string(c.name) + (mask & SEE_MASK_FLAG_NO_UI ? ", no UI" : ""));
            reset(profile());
            write_file(package, "package");
            c.arrange();
            const std::wstring verb = winsim::from_utf8(c.verb),
                               file = machine().host_wpath(c.file);
            SHELLEXECUTEINFOW info{};
            info.cbSize = sizeof info;
            info.fMask = mask;
            info.lpVerb = verb.c_str();
            info.lpFile = file.c_str();

            EXPECT_FALSE(ShellExecuteExW(&info));
            EXPECT_EQ(GetLastError(), c.error);
            EXPECT_TRUE(machine().processes.started().empty());
            if (c.text.empty() || (mask & SEE_MASK_FLAG_NO_UI)) {
                EXPECT_TRUE(message_boxes().empty());
            } else {
                ASSERT_EQ(message_boxes().size(), 1u);
                EXPECT_EQ(message_boxes()[0].owner, "shell");
                EXPECT_EQ(message_boxes()[0].caption, file);
                EXPECT_EQ(message_boxes()[0].text_utf8().rfind(c.text, 0), 0u)
                    << message_boxes()[0].text_utf8();
                EXPECT_EQ(calls("ShellExecuteExW")[0].args["dialog"]["text"],
                          message_boxes()[0].text_utf8());
            }
            expect_no_leaks();
        }
    }
}

// A bare name is looked for in the working folder and beside the calling
// program before the system folder; only the system folder's taskkill.exe
// is the system's, whichever way it is named.
TEST_F(Shell, BareNameIsLookedForBeforeTheSystemFolder) {
    const std::string program = "C:\\Users\\alice\\Downloads\\SablewickAgentSetup.exe";
    const std::string current = "C:\\Users\\alice\\Desktop";
    const std::string system = "C:\\Windows\\System32\\taskkill.exe";
    struct Case {
        const char* name;
        std::string planted;    // a taskkill.exe put there; empty: none
        std::string directory;  // lpDirectory; empty: none
        std::string file;       // lpFile, a Windows path or a bare name
        std::string started;    // the program started
    };
    const Case cases[] = {
        {"nothing planted", "", "", "taskkill.exe", system},
        {"planted in the current folder", current + "\\taskkill.exe", "", "taskkill.exe",
         current + "\\taskkill.exe"},
        {"planted beside the program", "C:\\Users\\alice\\Downloads\\taskkill.exe", "",
         "taskkill.exe", "C:\\Users\\alice\\Downloads\\taskkill.exe"},
        {"planted in the working folder asked for", "C:\\Work\\taskkill.exe", "C:\\Work",
         "taskkill.exe", "C:\\Work\\taskkill.exe"},
        {"the system's by its path, one planted beside", current + "\\taskkill.exe", "", system,
         system},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto p = profile();
        p["process"]["module_path"] = program;
        p["process"]["current_directory"] = current;
        reset(p);
        if (!c.planted.empty()) write_file(c.planted, "planted\r\n");
        const std::wstring file = c.file == "taskkill.exe" ? L"taskkill.exe"
                                                           : machine().host_wpath(c.file);
        const std::wstring directory = machine().host_wpath(c.directory),
                           parameters = L"/F /IM x.exe";
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.lpVerb = L"open";
        info.lpFile = file.c_str();
        info.lpParameters = parameters.c_str();
        info.lpDirectory = c.directory.empty() ? nullptr : directory.c_str();

        ASSERT_TRUE(ShellExecuteExW(&info));
        const auto started = machine().processes.started();
        ASSERT_EQ(started.size(), 1u);
        EXPECT_EQ(started[0]->path, host_path(c.started).string());
        // Only the system's taskkill ran the stand-in and read its parameters.
        EXPECT_EQ(started[0]->details.contains("image"), c.started == system);
    }
}

}  // namespace
