#include "kyv/common/scope_guard.hpp"

#include <gtest/gtest.h>

#include <boost/bind/bind.hpp>

#include <stdexcept>
#include <vector>

namespace {

std::vector<wchar_t*> g_released;

void release(wchar_t* p) { g_released.push_back(p); }

class ScopeGuardTest : public ::testing::Test {
protected:
    void SetUp() override { g_released.clear(); }
    wchar_t block_[4] = {};
};

TEST_F(ScopeGuardTest, ReleasesOnceWhenItsOnlyReferenceGoes) {
    {
        const auto guard = kyv::common::make_scope_guard(boost::bind(release, block_));
        EXPECT_TRUE(g_released.empty());
    }
    EXPECT_EQ(g_released, std::vector<wchar_t*>{block_});
}

TEST_F(ScopeGuardTest, CopiesShareOneGuardThatReleasesWithTheLastCopy) {
    auto guard = kyv::common::make_scope_guard(boost::bind(release, block_));
    {
        const auto copy = guard;
        guard.reset();
        EXPECT_TRUE(g_released.empty());
    }
    EXPECT_EQ(g_released, std::vector<wchar_t*>{block_});
}

TEST_F(ScopeGuardTest, ReleasesWhenAnExceptionLeavesTheScope) {
    EXPECT_THROW(
        {
            const auto guard = kyv::common::make_scope_guard(boost::bind(release, block_));
            throw std::runtime_error("leaving");
        },
        std::runtime_error);
    EXPECT_EQ(g_released, std::vector<wchar_t*>{block_});
}

}  // namespace
