// Known folders in the sandbox, WideCharToMultiByte's ANSI code page, and
// message boxes.
#include "support/machine_fixture.h"

#include <filesystem>

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

}  // namespace
