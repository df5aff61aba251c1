// The known-folder path helper against the simulated shell, with and
// without the known-folder export.
#include "support/machine_fixture.h"

#include "kyv/except/windows_category.hpp"
#include "kyv/win/path_helper_impl.hpp"

#include <boost/system/system_error.hpp>

#include <functional>
#include <string>

namespace {

using kyv::win::path_helper;
using kyv::win::path_helper_impl;
using winsim::Memory;

const HANDLE kToken = reinterpret_cast<HANDLE>(0x4321);

struct Getter {
    const char* folder;  // as the model names it
    int csidl;
    boost::filesystem::path (path_helper::*get)(HANDLE);
};
const Getter kGetters[] = {
    {"LocalAppData", 28, &path_helper::GetLocalAppDataPath},
    {"LocalAppDataLow", 0, &path_helper::GetLocalAppDataLowPath},
    {"ProgramData", 35, &path_helper::GetProgramDataPath},
    {"ProgramFiles", 38, &path_helper::GetProgramFilesPath},
    {"RoamingAppData", 26, &path_helper::GetRoamingAppDataPath},
    {"System", 37, &path_helper::GetSystemPath},
    {"SystemX86", 41, &path_helper::GetSystemX86Path},
    {"Desktop", 16, &path_helper::GetDesktopPath},
};

class PathHelperTest : public winsim::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        // The helper resolves the export once per process; dispose of the
        // previous test's so that this machine's shell is asked.
        auto& node = path_helper_impl::registry_node();
        if (node.instance) node.dispose(node);
    }

    std::string host_folder(const char* name) {
        return winsim::to_utf8(machine().host_wpath(machine().folders.find(name)->windows_path));
    }
};

class PathHelperWithoutKnownFoldersTest : public PathHelperTest {
protected:
    nlohmann::json profile() override {
        auto p = PathHelperTest::profile();
        p["modules"]["shell32"]["SHGetKnownFolderPath"] = false;
        return p;
    }
};

TEST_F(PathHelperTest, IsBuiltAndRegisteredOnce) {
    path_helper* first = kyv::win::path_helper_instance();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(kyv::win::path_helper_instance(), first);
    EXPECT_EQ(calls("GetProcAddress").size(), 1u);
    EXPECT_EQ(calls("LoadLibraryExW").size(), 0u);
    const auto module = calls("GetModuleHandleW");
    ASSERT_EQ(module.size(), 1u);
    EXPECT_EQ(module[0].args["lpModuleName"], "shell32.dll");

    const kyv::common::singleton_node* head = kyv::common::registered_singletons();
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->slot, 0);
    EXPECT_EQ(head->instance, static_cast<void*>(static_cast<path_helper_impl*>(first)));
}

TEST_F(PathHelperTest, EveryGetterAsksTheKnownFolderServiceAndFreesItsString) {
    path_helper* helper = kyv::win::path_helper_instance();
    for (const auto& g : kGetters) {
        machine().log.clear();
        const auto path = (helper->*g.get)(kToken);
        const auto call = calls("SHGetKnownFolderPath");
        ASSERT_EQ(call.size(), 1u) << g.folder;
        EXPECT_EQ(call[0].args["folder"], g.folder);
        EXPECT_EQ(call[0].args["dwFlags"], KF_FLAG_CREATE);
        EXPECT_EQ(call[0].args["hToken"], reinterpret_cast<std::uintptr_t>(kToken));
        EXPECT_EQ(path.string(), host_folder(g.folder));
        EXPECT_EQ(calls("SHGetFolderPathW").size(), 0u);
        EXPECT_EQ(machine().memory.outstanding(Memory::Allocator::cotaskmem), 0u) << g.folder;
    }
    expect_no_leaks();
}

TEST_F(PathHelperWithoutKnownFoldersTest, FallsBackToCsidlWithoutTheToken) {
    path_helper* helper = kyv::win::path_helper_instance();
    for (const auto& g : kGetters) {
        machine().log.clear();
        const auto path = (helper->*g.get)(kToken);
        const auto call = calls("SHGetFolderPathW");
        if (g.csidl == 0) {
            EXPECT_TRUE(path.empty());
            EXPECT_TRUE(machine().log.calls().empty()) << "no call for " << g.folder;
            continue;
        }
        ASSERT_EQ(call.size(), 1u) << g.folder;
        EXPECT_EQ(call[0].args["csidl"], g.csidl | CSIDL_FLAG_CREATE);
        EXPECT_EQ(call[0].args["hToken"], nullptr);
        EXPECT_EQ(call[0].args["hwnd"], nullptr);
        EXPECT_EQ(call[0].args["dwFlags"], SHGFP_TYPE_CURRENT);
        EXPECT_EQ(path.string(), host_folder(g.folder));
    }
    EXPECT_EQ(helper->GetProgramDataPath(nullptr), helper->GetProgramDataPath(kToken));
    expect_no_leaks();
}

void expect_windows_error(const std::function<void()>& lookup, HRESULT hr, const char* text) {
    try {
        lookup();
        ADD_FAILURE() << "no exception";
    } catch (const boost::system::system_error& e) {
        EXPECT_EQ(e.code().value(), hr);
        EXPECT_EQ(&e.code().category(), &kyv::except::windows_category());
        EXPECT_STREQ(e.what(), text);
    }
}

TEST_F(PathHelperTest, KnownFolderFailureThrowsItsHresult) {
    machine().messages.system[static_cast<DWORD>(E_FAIL)] = L"Unspecified error\r\n";
    machine().faults.fail_status("SHGetKnownFolderPath", E_FAIL);
    expect_windows_error([] { kyv::win::path_helper_instance()->GetProgramDataPath(nullptr); },
                         -2147467259, "Unspecified error [windows:-2147467259]");
    expect_no_leaks();
}

TEST_F(PathHelperWithoutKnownFoldersTest, CsidlFailureThrowsItsHresult) {
    machine().messages.system[static_cast<DWORD>(E_ACCESSDENIED)] = L"Access is denied.\r\n";
    machine().faults.fail_status("SHGetFolderPathW", E_ACCESSDENIED);
    expect_windows_error([] { kyv::win::path_helper_instance()->GetDesktopPath(nullptr); },
                         E_ACCESSDENIED, "Access is denied [windows:-2147024891]");
    expect_no_leaks();
}

}  // namespace
