// The agent data folder and the paths of its files.
#include "files_fixture.h"

#include <boost/system/system_error.hpp>

#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace files_test {
namespace {

using PathOf = std::function<fs::path(sablewick::Bootstrapper&)>;

struct PathCase {
    const char* name;
    PathOf get;
    bool is_log;
};

const PathCase kPaths[] = {
    {"config", [](sablewick::Bootstrapper& b) { return b.GetConfigFilePath(); }, false},
    {"settings", [](sablewick::Bootstrapper& b) { return b.GetDatFilePath(); }, false},
    {"log", [](sablewick::Bootstrapper& b) { return b.GetMsiLogPath(); }, true},
};

using AgentPathsTest = FilesTest;

TEST_F(AgentPathsTest, PathsLieInTheAgentDataFolderAndNoFileIsMade) {
    const fs::path data = DataFolder();
    EXPECT_EQ(setup.GetConfigFilePath(), data / "SablewickRemote.cfg");
    EXPECT_EQ(setup.GetDatFilePath(), data / "SablewickRemote.dat");
    EXPECT_EQ(setup.GetMsiLogPath(), data / "SablewickRemote Msi" / "log_v1.0.45.1871.log");
    EXPECT_EQ(setup.GetMsiLogPath().filename().string(), "log_v1.0.45.1871.log");
    EXPECT_FALSE(fs::exists(data / "SablewickRemote.cfg"));
    EXPECT_FALSE(fs::exists(data / "SablewickRemote.dat"));
    EXPECT_FALSE(fs::exists(data / "SablewickRemote Msi" / "log_v1.0.45.1871.log"));
    expect_no_leaks();
}

// Whichever function comes first creates the missing folders; only the log
// path makes the log folder.
TEST_F(AgentPathsTest, FirstCallCreatesTheMissingFolders) {
    for (const PathCase& c : kPaths) {
        SCOPED_TRACE(c.name);
        reset(profile());
        ASSERT_FALSE(fs::exists(host_path("C:\\ProgramData\\Sablewick")));
        c.get(setup);
        EXPECT_TRUE(fs::is_directory(DataFolder()));
        EXPECT_EQ(fs::is_directory(DataFolder() / "SablewickRemote Msi"), c.is_log);
    }
}

TEST_F(AgentPathsTest, FolderRemovedBetweenCallsIsMadeAgain) {
    setup.GetConfigFilePath();
    fs::remove_all(host_path("C:\\ProgramData\\Sablewick"));
    setup.GetDatFilePath();
    EXPECT_TRUE(fs::is_directory(DataFolder()));
}

// Any entry of the folder's name counts as existing: it is neither replaced
// nor changed, and no error arises here.
TEST_F(AgentPathsTest, ExistingEntryIsLeftAlone) {
    const struct {
        const char* name;
        bool as_file;
    } cases[] = {{"folder", false}, {"file in the folder's place", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset(profile());
        const fs::path data = DataFolder();
        fs::create_directories(data.parent_path());
        if (c.as_file) {
            Spit(data, "not a folder");
        } else {
            fs::create_directories(data / "SablewickRemote Msi");
            Spit(data / "keep.txt", "kept");
        }
        EXPECT_EQ(setup.GetConfigFilePath(), data / "SablewickRemote.cfg");
        EXPECT_EQ(setup.GetDatFilePath(), data / "SablewickRemote.dat");
        // Under a file the log folder cannot be made; the path still comes back.
        EXPECT_EQ(setup.GetMsiLogPath(), data / "SablewickRemote Msi" / "log_v1.0.45.1871.log");
        if (c.as_file) {
            EXPECT_EQ(Slurp(data), "not a folder");
        } else {
            EXPECT_EQ(Slurp(data / "keep.txt"), "kept");
            EXPECT_EQ(std::distance(fs::directory_iterator(data), fs::directory_iterator()), 2);
        }
    }
}

TEST_F(AgentPathsTest, FolderThatCannotBeMadeFailsExceptForTheLog) {
    // A file where the folder above the agent data folder belongs.
    fs::create_directories(host_path("C:\\ProgramData"));
    Spit(host_path("C:\\ProgramData\\Sablewick"), "");
    for (const PathCase& c : kPaths) {
        SCOPED_TRACE(c.name);
        if (c.is_log) {
            EXPECT_EQ(c.get(setup), DataFolder() / "SablewickRemote Msi" / "log_v1.0.45.1871.log");
        } else {
            EXPECT_THROW(c.get(setup), fs::filesystem_error);
        }
    }
}

// A folder of the chain that cannot be opened to be looked at (access to it
// refused) is an error for all three: what cannot be looked at may be a
// link. The log folder is looked at by all three too, when it is there, so
// that a link there stops the run before any file is touched.
TEST_F(AgentPathsTest, FolderThatCannotBeLookedAtIsAnError) {
    const std::string data = "C:\\ProgramData\\Sablewick\\Sablewick Remote";
    for (const std::string& folder : {data, data + "\\SablewickRemote Msi"}) {
        SCOPED_TRACE(folder);
        reset(profile());
        fs::create_directories(host_path(data + "\\SablewickRemote Msi"));
        machine().faults.fail_file("open", folder, ERROR_ACCESS_DENIED);
        for (const PathCase& p : kPaths) {
            SCOPED_TRACE(p.name);
            try {
                p.get(setup);
                ADD_FAILURE() << "no error";
            } catch (const fs::filesystem_error& e) {
                EXPECT_EQ(e.code().value(), static_cast<int>(ERROR_ACCESS_DENIED)) << e.what();
                EXPECT_EQ(e.path1(), host_path(folder));
            }
        }
    }
}

TEST_F(AgentPathsTest, FailedKnownFolderLookupLeavesAllThree) {
    machine().faults.fail_status("SHGetKnownFolderPath", E_FAIL);
    for (const PathCase& c : kPaths) {
        SCOPED_TRACE(c.name);
        try {
            c.get(setup);
            ADD_FAILURE() << "no error";
        } catch (const boost::system::system_error& e) {
            EXPECT_EQ(e.code().value(), E_FAIL);
        }
    }
    expect_no_leaks();
}

}  // namespace
}  // namespace files_test
