// Faults of the simulated machine that the fuzz targets and the benchmarks
// ran into.
#include "bootstrapper.h"
#include "support/machine_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

namespace {

class ModelRegressionTest : public winsim::test::MachineTest {};

// RegQueryValueExW copied an empty value's data from a null pointer, which
// UndefinedBehaviorSanitizer reports; the machine GUID of an empty value is
// empty.
TEST_F(ModelRegressionTest, EmptyMachineGuidValueReadsAsEmpty) {
    for (DWORD type : {DWORD{REG_SZ}, DWORD{REG_EXPAND_SZ}}) {
        winsim::RegistryValue empty;
        empty.type = type;
        machine().registry.set(L"SOFTWARE\\Microsoft\\Cryptography", L"MachineGuid", empty);
        sablewick::Bootstrapper setup(nullptr);
        EXPECT_EQ(setup.GetMachineGuid(0), L"");
        EXPECT_EQ(setup.GetMachineGuid(KEY_WOW64_64KEY), L"");
    }
    expect_no_leaks();
}

// Every section of a profile is optional; one without "sessions" (an empty
// profile, or one naming only the token) used to fail to build a machine.
TEST_F(ModelRegressionTest, ProfileWithoutSessionsBuildsAMachine) {
    for (const char* text : {"{}", R"({"security": {"token": "standard_user"}})"}) {
        SCOPED_TRACE(text);
        EXPECT_NO_THROW(reset(nlohmann::json::parse(text)));
        EXPECT_EQ(machine().sessions.sessions.count(0), 1u);
    }
}

}  // namespace
