// The host program: its arguments become the simulated command line and its
// trace holds one JSON object per call and per file operation.
#include "support/machine_fixture.h"

namespace {

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

}  // namespace
