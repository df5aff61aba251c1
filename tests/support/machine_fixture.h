// A fresh simulated machine for every test, over a fresh sandbox under a
// fresh temporary folder that is removed afterwards.
//
//   class MyTest : public winsim::test::MachineTest {
//       nlohmann::json profile() override {            // optional
//           auto p = MachineTest::profile();           // the default profile
//           p["security"]["token"] = "standard_user";
//           return p;
//       }
//   };
//   TEST_F(MyTest, Something) {
//       machine().faults.fail("RegOpenKeyExW", ERROR_ACCESS_DENIED);
//       ... run product code ...
//       EXPECT_EQ(read_file("C:\\ProgramData\\x.cfg"), "...");
//       EXPECT_EQ(calls("MessageBoxW").size(), 1u);
//       expect_no_leaks();
//   }
#pragma once

#include "platform/winsim/machine.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace winsim::test {

// A folder made under the system's temporary folder, removed with the object.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Success when the machine holds nothing outstanding and saw no misuse;
// otherwise a failure that lists every leak and problem.
::testing::AssertionResult NoLeaks(const Machine& m);

class MachineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The profile each test's machine starts from; override to change it.
    virtual nlohmann::json profile() { return Machine::default_profile(); }
    // Replaces the machine by a new one from `profile` over a new sandbox.
    void reset(const nlohmann::json& profile);

    Machine& machine() { return *machine_; }
    const std::filesystem::path& temp_dir() const { return temp_->path(); }

    // Files of the sandbox by their Windows path ("C:\\ProgramData\\...").
    std::filesystem::path host_path(const std::string& windows_path) const;
    bool file_exists(const std::string& windows_path) const;
    // The whole file; an empty optional when it cannot be read.
    std::optional<std::string> read_file(const std::string& windows_path) const;
    void write_file(const std::string& windows_path, const std::string& content) const;

    const std::vector<MessageBoxRecord>& message_boxes() { return machine_->ui.message_boxes; }
    std::vector<CallRecord> calls(const std::string& name) const { return machine_->log.named(name); }
    void expect_no_leaks() { EXPECT_TRUE(NoLeaks(*machine_)); }

private:
    std::unique_ptr<TempFolder> temp_;
    std::unique_ptr<Machine> machine_;
    int resets_ = 0;
};

// A run of the real host program (SablewickAgentSetup) as a child process,
// with its profile, sandbox and trace in `dir`.
struct HostRunResult {
    int exit_code = -1;
    std::string out;                   // standard output
    std::string err;                   // standard error (message boxes, ...)
    std::vector<nlohmann::json> trace; // the WINSIM_TRACE lines
    std::filesystem::path sandbox;
};
HostRunResult run_host_program(const nlohmann::json& profile, const std::vector<std::string>& args,
                               const std::filesystem::path& dir);

}  // namespace winsim::test
