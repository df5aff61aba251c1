// What other processes do to the files the program makes: a standard
// user's program that watches a folder and swaps each new file it can, and
// the Windows Installer opening the package it is given. Both meet the
// program's opens and the files' descriptors as Windows has them.
#include "support/machine_fixture.h"

#include "platform/winsim/api_support.h"
#include "platform/winsim/files.h"

#include <string>

namespace {

using winsim::test::MachineTest;

const std::string kTemp = "C:\\Users\\alice\\AppData\\Local\\Temp";
const std::string kData = "C:\\ProgramData\\Sablewick\\Sablewick Remote";
const std::string kMsiSignature("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);

class OtherProcesses : public MachineTest {
protected:
    std::wstring W(const std::string& windows) const {
        return winsim::from_utf8(host_path(windows).string());
    }

    nlohmann::json watching(const std::string& folder, const char* action) {
        auto p = profile();
        p["files"][kData] = {{"folder", true}};
        p["processes"]["running"].push_back({{"image", "Swapper.exe"},
                                             {"user", "alice"},
                                             {"token", "standard_user"},
                                             {"watch",
                                              {{"folder", folder},
                                               {"pattern", "*.MSI"},
                                               {"action", action},
                                               {"text", "swapped"}}}});
        return p;
    }
    std::shared_ptr<winsim::Process> swapper() {
        return machine().processes.running(machine(), "Swapper.exe").at(0);
    }

    // The program's own ways of putting a file there.
    void WriteHeld(const std::string& name) {
        HANDLE h = CreateFileW(W(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD n = 0;
        ASSERT_TRUE(WriteFile(h, "program", 7, &n, nullptr));
        ASSERT_TRUE(CloseHandle(h));
    }
    void WriteThenRename(const std::string& name) {
        HANDLE h = CreateFileW(W(name + ".tmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0,
                               nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD n = 0;
        ASSERT_TRUE(WriteFile(h, "program", 7, &n, nullptr));
        ASSERT_TRUE(CloseHandle(h));
        ASSERT_TRUE(MoveFileExW(W(name + ".tmp").c_str(), W(name).c_str(), 0));
    }
};

// A watcher tries at every turn: what the program holds without sharing
// is refused for as long as it is held, and falls as soon as it is not.
TEST_F(OtherProcesses, AWatcherSwapsWhatWindowsLetsIt) {
    const struct {
        const char* what;
        std::string folder;
        bool held;  // written through a handle that shares nothing, else renamed into place
        const char* action;
        DWORD first;                      // the first attempt's result
        std::optional<std::string> left;  // in the end; null: gone
    } cases[] = {
        {"held, replaced", kTemp, true, "replace", ERROR_ACCESS_DENIED, "swapped"},
        {"held, overwritten", kTemp, true, "overwrite", ERROR_SHARING_VIOLATION, "swapped"},
        {"held, deleted", kTemp, true, "delete", ERROR_SHARING_VIOLATION, std::nullopt},
        {"in the user's folder, replaced", kTemp, false, "replace", 0, "swapped"},
        {"in the user's folder, overwritten", kTemp, false, "overwrite", 0, "swapped"},
        {"in the user's folder, deleted", kTemp, false, "delete", 0, std::nullopt},
        {"in SYSTEM's folder, replaced", kData, false, "replace", ERROR_ACCESS_DENIED, "program"},
        {"in SYSTEM's folder, overwritten", kData, false, "overwrite", ERROR_ACCESS_DENIED,
         "program"},
        {"in SYSTEM's folder, deleted", kData, false, "delete", ERROR_ACCESS_DENIED, "program"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reset(watching(c.folder, c.action));
        const std::string name = c.folder + "\\package.msi";
        if (c.held)
            WriteHeld(name);
        else
            WriteThenRename(name);
        const auto attempts = swapper()->details["attempts"];
        ASSERT_FALSE(attempts.empty());
        EXPECT_EQ(attempts[0]["file"], name);
        EXPECT_EQ(attempts[0]["action"], c.action);
        EXPECT_EQ(attempts[0]["result"], c.first);
        // Nothing more once an attempt went through.
        for (std::size_t i = 0; i + 1 < attempts.size(); ++i) EXPECT_NE(attempts[i]["result"], 0);
        EXPECT_EQ(read_file(name), c.left);
        // Its own file does not stay behind.
        EXPECT_FALSE(file_exists(name + "." + std::to_string(swapper()->id) + ".swap"));
        expect_no_leaks();
    }
}

// msiexec reads the package sharing reading only: a package the program
// still holds for writing cannot be opened, one it holds for reading can.
TEST_F(OtherProcesses, TheInstallerOpensThePackageAsMsiexec) {
    const std::string package = kTemp + "\\package.msi";
    const auto* embedded = machine()
                               .modules
                               .find_resource(winsim::ResourceKey::of_name(L"MSI"),
                                              winsim::ResourceKey::of_id(102))
                               .get();
    ASSERT_NE(embedded, nullptr);
    const std::string bytes(
        reinterpret_cast<const char*>(embedded->data ? embedded->data : embedded->owned.data()),
        embedded->size);
    const struct {
        const char* what;
        DWORD access, share;
        std::string content;
        DWORD exit_code;
        bool embedded;
    } cases[] = {
        {"held for reading, sharing reading", GENERIC_READ, FILE_SHARE_READ, bytes, 0, true},
        {"held for writing", GENERIC_WRITE, FILE_SHARE_READ, bytes, 1620, false},
        {"another package", GENERIC_READ, FILE_SHARE_READ, kMsiSignature + "other", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reset(profile());
        write_file(package, c.content);
        HANDLE held = CreateFileW(W(package).c_str(), c.access, c.share, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        const std::wstring file = W(package);
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.lpVerb = L"open";
        info.lpFile = file.c_str();
        info.lpParameters = L"/qn";
        ASSERT_TRUE(ShellExecuteExW(&info));
        EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
        EXPECT_EQ(code, c.exit_code);
        const auto& d = machine().processes.started("msiexec.exe").at(0)->details;
        EXPECT_EQ(d["package_is_embedded"], c.embedded);
        if (c.exit_code == 0) {
            EXPECT_EQ(d["package_size"], c.content.size());
            EXPECT_EQ(d["package_sha1"].get<std::string>().size(), 40u);
        } else {
            EXPECT_EQ(d["package_open_error"], ERROR_SHARING_VIOLATION);
        }
        CloseHandle(info.hProcess);
        CloseHandle(held);
        expect_no_leaks();
    }
}

}  // namespace
