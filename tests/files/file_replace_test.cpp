// Replacing a file through a new file renamed over it.
#include "file_replace.h"
#include "files_fixture.h"

#include <stdexcept>

namespace files_test {
namespace {

using ReplaceFileContents = FilesTest;

TEST_F(ReplaceFileContents, ReplacesOnlyWhenTheNewFileIsWhole) {
    const std::string name = "C:\\ProgramData\\SablewickRemote.cfg";
    const fs::path target = host_path(name);
    const fs::path fresh = sablewick::FileReplacement::NewFilePath(target);
    const std::string text = "tray-port = 1\r\n";
    const struct {
        const char* name;
        int in_the_way;  // at the new file's place: 0 nothing, 1 a folder; 2: the disk is full
        std::string error;
    } cases[] = {
        {"nothing in the way", 0, ""},
        {"new file cannot be opened", 1, "Unable to create " + target.string()},
        {"write fails", 2, "Unable to write " + target.string()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Spit(target, "old text, longer than the new one\r\n");
        if (c.in_the_way == 1) fs::create_directory(fresh);
        if (c.in_the_way == 2) machine().faults.fail_file("write", name + ".new", winsim::kErrorDiskFull);
        EXPECT_EQ(ErrorOf<std::runtime_error>(
                      [&] { sablewick::ReplaceFileContents(target, text.data(), text.size()); }),
                  c.error);
        EXPECT_EQ(Slurp(target), c.error.empty() ? text : "old text, longer than the new one\r\n");
        EXPECT_EQ(fs::exists(fs::symlink_status(fresh)), c.in_the_way == 1);
        fs::remove(fresh);
        machine().faults.clear();
    }
}

}  // namespace
}  // namespace files_test
