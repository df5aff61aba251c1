// The host program: its arguments become the simulated command line and its
// trace holds one JSON object per call and per file operation.
#include "support/machine_fixture.h"

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

using winsim::test::HostRunResult;

const std::string kDataFolder = "C:\\ProgramData\\Sablewick\\Sablewick Remote";
const std::string kConfig = kDataFolder + "\\SablewickRemote.cfg";
const std::string kSettings = kDataFolder + "\\SablewickRemote.dat";
const std::string kCompany = "0a1b2c3d-0000-4000-8000-00000000abcd";

std::optional<std::string> ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A file the run left in its sandbox, by its Windows path.
std::optional<std::string> ReadFile(const HostRunResult& run, const std::string& windowsPath) {
    return ReadFile(winsim::Sandbox(run.sandbox).host_path(windowsPath));
}

std::vector<std::string> MessageBoxTexts(const HostRunResult& run) {
    std::vector<std::string> texts;
    for (const auto& line : run.trace)
        if (line["call"] == "MessageBoxW") texts.push_back(line["args"]["lpText"]);
    return texts;
}

bool InstallerRan(const HostRunResult& run) {
    for (const auto& line : run.trace) {
        if (line["call"] != "ShellExecuteExW" || line["result"] == 0) continue;
        const std::string file = line["args"]["pExecInfo"]["lpFile"];
        if (file.size() > 4 && file.compare(file.size() - 4, 4, ".msi") == 0) return true;
    }
    return false;
}

TEST(HostProgram, ArgumentsReachTheCommandLineAndTheTraceIsWritten) {
    winsim::test::TempFolder dir;
    auto run = winsim::test::run_host_program(winsim::Machine::default_profile(),
                                              {"--notray", "with blank", "q\"uote"}, dir.path());
    EXPECT_EQ(run.exit_code, 0) << run.err;
    ASSERT_FALSE(run.trace.empty());
    // Platform calls carry the last-error value, file operations their errno
    // and a path relative to the sandbox.
    bool configWritten = false;
    for (const auto& line : run.trace) {
        for (const char* key : {"call", "args", "result"}) ASSERT_TRUE(line.contains(key)) << line;
        ASSERT_NE(line.contains("lastError"), line.contains("errno")) << line;
        if (!line.contains("errno")) continue;
        const std::string path = line["args"]["path"];
        EXPECT_EQ(path.find(run.sandbox.string()), std::string::npos) << line;
        // Written whole beside the file, then renamed over it.
        configWritten = configWritten
                        || (line["call"] == "rename" && line["errno"].is_null()
                            && line["args"]["newPath"]
                                   == "C:\\ProgramData\\Sablewick\\Sablewick Remote\\SablewickRemote.cfg");
    }
    EXPECT_TRUE(configWritten);

    const nlohmann::json* split = nullptr;
    for (const auto& line : run.trace)
        if (line["call"] == "CommandLineToArgvW" && !split) split = &line;
    ASSERT_NE(split, nullptr);
    const auto& argv = (*split)["args"]["argv"];
    ASSERT_EQ(argv.size(), 4u);
    EXPECT_EQ(argv[1], "--notray");
    EXPECT_EQ(argv[2], "with blank");
    EXPECT_EQ(argv[3], "q\"uote");
    EXPECT_NE(run.out.find("sandbox: " + run.sandbox.string()), std::string::npos) << run.out;
}

// The company id reaches the program as 8-bit text, converted as Windows'
// runtime converts it (the Wine scenarios run the same cases): a letter up
// to U+00FF converts, so a run that would write the settings file ends in
// the program's own report, and an update that keeps the file installs; a
// letter beyond ends the run before anything happens.
TEST(HostProgram, CompanyIdConvertsAsWindowsRuntimeConvertsIt) {
    const struct {
        const char* name;
        std::vector<std::string> args;
        bool reported;  // "Failed to parse Company ID"
        bool installs;
    } cases[] = {
        {"first installation, U+00E9", {"--company_id=" + kCompany + "\u00e9"}, true, false},
        {"update, U+00E9", {"--update", "--company_id=" + kCompany + "\u00e9"}, false, true},
        {"update, U+0100", {"--update", "--company_id=" + kCompany + "\u0100"}, false, false},
    };
    winsim::test::TempFolder dir;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto profile = winsim::Machine::default_profile();
        profile["files"][kConfig] = "keep-me=1\r\n";
        profile["files"][kSettings] = "left alone";
        const auto run = winsim::test::run_host_program(profile, c.args,
                                                        dir.path() / std::to_string(++n));
        EXPECT_EQ(run.exit_code, 0) << run.err;

        const auto boxes = MessageBoxTexts(run);
        ASSERT_EQ(boxes.size(), c.reported ? 1u : 0u) << run.err;
        if (c.reported) {
            EXPECT_NE(boxes[0].find("Failed to parse Company ID"), std::string::npos) << boxes[0];
        }
        EXPECT_EQ(InstallerRan(run), c.installs);
        EXPECT_EQ(ReadFile(run, kSettings), "left alone");
        if (!c.installs) {
            EXPECT_EQ(ReadFile(run, kConfig), "keep-me=1\r\n");
        }
    }
}

// A machine-wide application-data folder named beyond ASCII holds the
// agent's files: the program's wide paths reach the sandbox's files as
// Windows' reach the disk.
TEST(HostProgram, ProgramDataNamedBeyondAsciiHoldsTheAgentsFiles) {
    const auto shipped = ReadFile(std::filesystem::path(SABLEWICK_SOURCE_DIR) / "resources"
                                  / "SablewickRemote.cfg");
    ASSERT_TRUE(shipped);
    winsim::test::TempFolder dir;
    int n = 0;
    for (const std::string programData : {"C:\\Donn\u00e9es", "C:\\\u6570\u636e \U0001D11E"}) {
        SCOPED_TRACE(programData);
        const std::string data = programData + "\\Sablewick\\Sablewick Remote";
        auto profile = winsim::Machine::default_profile();
        profile["folders"]["ProgramData"] = programData;
        profile["programs"]["msiexec"]["effects"][0]["replace_line"] = data
                                                                       + "\\SablewickRemote.cfg";
        const auto run = winsim::test::run_host_program(profile, {"--company_id=" + kCompany},
                                                        dir.path() / std::to_string(++n));
        EXPECT_EQ(run.exit_code, 0) << run.err;

        EXPECT_TRUE(MessageBoxTexts(run).empty()) << run.err;
        EXPECT_TRUE(InstallerRan(run));
        EXPECT_EQ(ReadFile(run, data + "\\SablewickRemote.cfg"), shipped);
        const auto settings = ReadFile(run, data + "\\SablewickRemote.dat");
        ASSERT_TRUE(settings);
        EXPECT_EQ(settings->size(), 146u);
        EXPECT_NE(settings->find(kCompany), std::string::npos);
        EXPECT_TRUE(ReadFile(run, data + "\\SablewickRemote Msi\\log_v1.0.45.1871.log"));
        EXPECT_FALSE(
            std::filesystem::exists(winsim::Sandbox(run.sandbox).host_path("C:\\ProgramData")));
    }
}

}  // namespace
