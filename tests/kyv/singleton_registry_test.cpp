#include "kyv/common/singleton_registry.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

using kyv::common::singleton_node;

std::vector<const singleton_node*> nodes_of(const kyv::common::singleton_registry& r) {
    std::vector<const singleton_node*> out;
    for (const singleton_node* n = r.head(); n; n = n->next) out.push_back(n);
    return out;
}

singleton_node node_with_slot(int slot) { return singleton_node{nullptr, nullptr, slot, nullptr}; }

TEST(SingletonRegistryTest, KeepsAscendingSlotsWithTheLatestFirstAmongEquals) {
    kyv::common::singleton_registry registry;
    singleton_node zero = node_with_slot(0), two = node_with_slot(2), one = node_with_slot(1),
                   second_one = node_with_slot(1), negative = node_with_slot(-1);
    registry.insert(zero);
    registry.insert(two);
    registry.insert(one);
    EXPECT_EQ(nodes_of(registry), (std::vector<const singleton_node*>{&zero, &one, &two}));

    registry.insert(second_one);
    registry.insert(negative);
    EXPECT_EQ(nodes_of(registry),
              (std::vector<const singleton_node*>{&negative, &zero, &second_one, &one, &two}));

    // A singleton rebuilt after disposal registers again; it keeps its place.
    registry.insert(one);
    EXPECT_EQ(nodes_of(registry).size(), 5u);
}

}  // namespace
