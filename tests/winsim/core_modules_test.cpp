// Modules and resources: the module path with its truncation, shell32's
// export, FindResourceW and LoadStringW.
#include "support/machine_fixture.h"

namespace {

using winsim::ResourceKey;
using winsim::test::MachineTest;

class Modules : public MachineTest {
protected:
    nlohmann::json profile() override {
        auto p = MachineTest::profile();
        p["process"]["module_path"] = "C:\\Users\\alice\\Downloads\\setup.exe";
        return p;
    }
};

TEST_F(Modules, ModuleFileNameTruncatesToTheBuffer) {
    const std::wstring full = machine().host_wpath("C:\\Users\\alice\\Downloads\\setup.exe");
    const DWORD len = static_cast<DWORD>(full.size());
    struct Case {
        DWORD size;
        DWORD result;
        DWORD error;
        std::wstring text;
    };
    const Case cases[] = {
        {len + 1, len, 0, full},
        {len + 50, len, 0, full},
        // too small by one: the buffer is filled, terminated, nSize returned
        {len, len, ERROR_INSUFFICIENT_BUFFER, full.substr(0, len - 1)},
        {5, 5, ERROR_INSUFFICIENT_BUFFER, full.substr(0, 4)},
        {1, 1, ERROR_INSUFFICIENT_BUFFER, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        std::vector<wchar_t> buf(c.size + 1, L'#');
        SetLastError(0);
        EXPECT_EQ(GetModuleFileNameW(nullptr, buf.data(), c.size), c.result);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(std::wstring(buf.data()), c.text);
        EXPECT_EQ(buf[c.size], L'#');  // nothing past the buffer
    }
}

TEST_F(Modules, Shell32ExportIsConfigurable) {
    HMODULE shell32 = GetModuleHandleW(L"shell32.dll");
    ASSERT_NE(shell32, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(shell32, "SHGetKnownFolderPath")),
              reinterpret_cast<void*>(&SHGetKnownFolderPath));

    auto p = profile();
    p["modules"]["shell32"]["SHGetKnownFolderPath"] = false;
    reset(p);
    shell32 = GetModuleHandleW(L"SHELL32");
    EXPECT_EQ(GetProcAddress(shell32, "SHGetKnownFolderPath"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
}

TEST_F(Modules, FindResourceByNameIdAndLanguage) {
    auto& mods = machine().modules;
    mods.resources.clear();
    mods.add_resource(ResourceKey::of_name(L"MSI"), ResourceKey::of_id(102), 1033, {1, 2, 3});
    mods.add_resource(ResourceKey::of_name(L"CFG"), ResourceKey::of_id(104), 4105, {'a'});
    mods.add_resource(ResourceKey::of_name(L"CFG"), ResourceKey::of_id(104), 1033, {'b', 'c'});

    HRSRC r = FindResourceW(nullptr, MAKEINTRESOURCEW(102), L"msi");  // type names ignore case
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(SizeofResource(nullptr, r), 3u);
    auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(nullptr, r)));
    EXPECT_EQ(bytes[2], 3);
    // "#102" names the id; MAKEINTRESOURCEW keeps the low 16 bits.
    EXPECT_EQ(FindResourceW(nullptr, L"#102", L"MSI"), r);
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(0x10066), L"MSI"), r);
    // The UI language wins among several.
    EXPECT_EQ(SizeofResource(nullptr, FindResourceW(nullptr, MAKEINTRESOURCEW(104), L"CFG")), 2u);

    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(103), L"MSI"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(102), L"DAT"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
    // A resource removed after it was found keeps its bytes for the holder.
    mods.remove_resource(ResourceKey::of_name(L"MSI"), ResourceKey::of_id(102));
    EXPECT_EQ(SizeofResource(nullptr, r), 3u);
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(102), L"MSI"), nullptr);
}

TEST_F(Modules, LoadStringFromStringBlocks) {
    auto& mods = machine().modules;
    mods.set_string(105, L"The installation image is corrupted.");
    mods.set_string(106, L"SablewickAgentSetup");
    // 105 and 106 share block 7 (105 / 16 + 1), entries 9 and 10.
    HRSRC block = FindResourceW(nullptr, MAKEINTRESOURCEW(7), RT_STRING);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(SizeofResource(nullptr, block), 2u * (16 + 36 + 19));

    wchar_t buf[64];
    EXPECT_EQ(LoadStringW(nullptr, 106, buf, 64), 19);
    EXPECT_STREQ(buf, L"SablewickAgentSetup");
    EXPECT_EQ(LoadStringW(nullptr, 106, buf, 5), 4);  // truncated and terminated
    EXPECT_STREQ(buf, L"Sabl");

    // A zero buffer size: a read-only pointer to the text, not terminated.
    const wchar_t* text = nullptr;
    EXPECT_EQ(LoadStringW(nullptr, 105, reinterpret_cast<LPWSTR>(&text), 0), 36);
    EXPECT_EQ(std::wstring(text, 36), L"The installation image is corrupted.");
    EXPECT_EQ(text[36], 19);  // the next entry's length

    EXPECT_EQ(LoadStringW(nullptr, 107, buf, 64), 0);  // empty entry of the block
    EXPECT_EQ(LoadStringW(nullptr, 300, buf, 64), 0);  // no such block
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

}  // namespace
