#include "support/machine_fixture.h"

#include "sablewick/util/parse/http_method.hpp"
#include "sablewick/util/parse/object_registry.hpp"

#include <map>
#include <memory>
#include <string>

namespace {

using namespace sablewick::util::parse;

TEST(HttpMethodSymbolsTest, HoldExactlyTheFiveLowerCaseMethods) {
    std::map<std::string, HttpMethod> found;
    http_method_symbols.for_each(
        [&found](const std::string& symbol, HttpMethod value) { found[symbol] = value; });
    const std::map<std::string, HttpMethod> expected = {
        {"get", HttpMethod::Get},   {"options", HttpMethod::Options}, {"post", HttpMethod::Post},
        {"put", HttpMethod::Put},   {"delete", HttpMethod::Delete},
    };
    EXPECT_EQ(found, expected);
    EXPECT_EQ(http_method_symbols.find(std::string("GET")), nullptr);
}

class ObjectRegistryTest : public winsim::test::MachineTest {};

TEST_F(ObjectRegistryTest, TeardownWithoutStateOnlyDeletesTheCriticalSection) {
    { ObjectRegistry registry; }
    const auto init = calls("InitializeCriticalSectionAndSpinCount");
    ASSERT_EQ(init.size(), 1u);
    EXPECT_EQ(init[0].args["dwSpinCount"], 4000);
    EXPECT_EQ(calls("DeleteCriticalSection").size(), 1u);
    EXPECT_EQ(calls("CloseHandle").size(), 0u);
    expect_no_leaks();
}

// Counts its deletions and the handles closed before the first of them.
struct Tracked : CountedObject {
    Tracked(int& deleted, std::size_t& closed_before) : deleted_(deleted), closed_before_(closed_before) {}
    ~Tracked() override {
        if (deleted_++ == 0) closed_before_ = winsim::Machine::current().log.count("CloseHandle");
    }
    int& deleted_;
    std::size_t& closed_before_;
};

TEST_F(ObjectRegistryTest, TeardownWithStateClosesHandlesThenReleasesObjects) {
    int deleted = 0;
    std::size_t closed_before = 0;
    {
        ObjectRegistry registry;
        ObjectRegistryState& state = registry.State();
        EXPECT_EQ(&registry.State(), &state);
        state.handles.second.reset(machine().handles.open("event"));
        CountedRef shared(std::make_unique<Tracked>(deleted, closed_before));
        state.objects["a"] = shared;
        state.objects["b"] = shared;
    }
    EXPECT_EQ(deleted, 1);
    EXPECT_EQ(closed_before, 1u);
    EXPECT_EQ(calls("CloseHandle").size(), 1u);
    EXPECT_EQ(calls("DeleteCriticalSection").size(), 1u);
    expect_no_leaks();
}

}  // namespace
