// GetMacAddress over the simulated adapter list.
#include "support/machine_fixture.h"

#include "sablewick/util/mac_address.hpp"

#include <string>
#include <vector>

namespace {

winsim::Adapter adapter(UINT type, std::vector<BYTE> address) {
    winsim::Adapter a;
    a.type = type;
    a.address = std::move(address);
    return a;
}

const std::vector<BYTE> kFirst = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
const std::vector<BYTE> kSecond = {0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5};
const char* const kZero = "00:00:00:00:00:00";

class MacAddressTest : public winsim::test::MachineTest {};

TEST_F(MacAddressTest, TakesTheFirstEthernetAdapterWithASixByteAddress) {
    struct Case {
        const char* shape;
        std::vector<winsim::Adapter> adapters;
        unsigned failing_call;  // 0: none
        std::string expected;
    };
    const Case cases[] = {
        {"two Ethernet adapters",
         {adapter(MIB_IF_TYPE_ETHERNET, kFirst), adapter(MIB_IF_TYPE_ETHERNET, kSecond)}, 0,
         "00:1a:2b:3c:4d:5e"},
        {"only wireless and loopback",
         {adapter(IF_TYPE_IEEE80211, kFirst), adapter(MIB_IF_TYPE_LOOPBACK, kSecond)}, 0, kZero},
        {"Ethernet with an eight-byte address first",
         {adapter(MIB_IF_TYPE_ETHERNET, {1, 2, 3, 4, 5, 6, 7, 8}), adapter(IF_TYPE_IEEE80211, kFirst),
          adapter(MIB_IF_TYPE_ETHERNET, kSecond)},
         0, "a0:b1:c2:d3:e4:f5"},
        {"no adapters", {}, 0, kZero},
        {"first call fails", {adapter(MIB_IF_TYPE_ETHERNET, kFirst)}, 1, kZero},
        {"second call fails", {adapter(MIB_IF_TYPE_ETHERNET, kFirst)}, 2, kZero},
    };
    for (const auto& c : cases) {
        machine().network.adapters = c.adapters;
        machine().faults.clear();
        // Occurrences count from the machine's start.
        if (c.failing_call)
            machine().faults.fail_status("GetAdaptersInfo", ERROR_NOT_SUPPORTED,
                                         machine().faults.occurrences("GetAdaptersInfo") + c.failing_call);
        machine().log.clear();
        EXPECT_EQ(GetMacAddress(), c.expected) << c.shape;
    }
    expect_no_leaks();
}

TEST_F(MacAddressTest, ReadsTheListTwiceIntoABufferOfTheReportedSize) {
    machine().network.adapters = {adapter(MIB_IF_TYPE_ETHERNET, kFirst)};
    EXPECT_EQ(GetMacAddress(), "00:1a:2b:3c:4d:5e");
    auto one = calls("GetAdaptersInfo");
    ASSERT_EQ(one.size(), 2u);
    EXPECT_EQ(one[0].args["SizePointer"], sizeof(IP_ADAPTER_INFO));
    EXPECT_EQ(one[0].result, ERROR_SUCCESS);
    EXPECT_EQ(one[1].args["AdapterInfo"], one[0].args["AdapterInfo"]);

    machine().log.clear();
    machine().network.adapters.push_back(adapter(MIB_IF_TYPE_ETHERNET, kSecond));
    EXPECT_EQ(GetMacAddress(), "00:1a:2b:3c:4d:5e");
    auto two = calls("GetAdaptersInfo");
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].result, ERROR_BUFFER_OVERFLOW);
    EXPECT_EQ(two[1].args["SizePointer"], 2 * sizeof(IP_ADAPTER_INFO));
    EXPECT_EQ(two[1].result, ERROR_SUCCESS);
}

}  // namespace
