// A simulated machine and a Bootstrapper over it, for the tests of the agent
// data paths, the embedded resources and the settings records.
#pragma once

#include "bootstrapper.h"
#include "support/machine_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace files_test {

namespace fs = std::filesystem;

// The embedded settings record, as the program carries it.
inline const std::string kEmbeddedRecord =
    "22 serialization::archive 13 0 2 00000000-0000-0000-0000-000000000000 "
    "00000000-0000-0000-0000-000000000000 1 00000000-0000-0000-0000-000000000000\r\n";

inline std::optional<std::string> Slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void Spit(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good()) << file;
}

// The text of the exception |f| throws, which must derive from E; empty
// when nothing is thrown.
template <class E, class F>
std::string ErrorOf(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return {};
}

class FilesTest : public winsim::test::MachineTest {
protected:
    fs::path DataFolder() const { return host_path("C:\\ProgramData\\Sablewick\\Sablewick Remote"); }

    sablewick::Bootstrapper setup{nullptr};
};

}  // namespace files_test
