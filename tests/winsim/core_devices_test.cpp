// The buffer protocols of the registry, the drive list and the adapter list.
#include "support/machine_fixture.h"

#include <cstring>

namespace {

using winsim::RegistryValue;
using winsim::test::MachineTest;

class Devices : public MachineTest {};

TEST_F(Devices, RegistrySizeProbeAndMoreData) {
    auto& reg = machine().registry;
    reg.set(L"SOFTWARE\\Microsoft\\Cryptography", L"MachineGuid", RegistryValue::sz(L"abc"));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"software\\microsoft\\cryptography", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"MachineGuid", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 4 * sizeof(wchar_t));  // "abc" and its NUL

    wchar_t buf[8] = {};
    DWORD small = 2 * sizeof(wchar_t);
    EXPECT_EQ(RegQueryValueExW(key, L"MachineGuid", nullptr, &type, reinterpret_cast<LPBYTE>(buf), &small),
              ERROR_MORE_DATA);
    EXPECT_EQ(small, size);
    DWORD enough = sizeof buf;
    EXPECT_EQ(RegQueryValueExW(key, L"MachineGuid", nullptr, &type, reinterpret_cast<LPBYTE>(buf), &enough),
              ERROR_SUCCESS);
    EXPECT_EQ(enough, size);
    EXPECT_STREQ(buf, L"abc");
    EXPECT_EQ(RegQueryValueExW(key, L"Other", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    expect_no_leaks();
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(machine().problems().size(), 1u);
}

TEST_F(Devices, RegistryViewsAndRawValues) {
    auto p = winsim::Machine::default_profile();
    p["registry"] = {{"64bit",
                      {{"SOFTWARE\\Microsoft\\Cryptography",
                        {{"MachineGuid", {{"type", "REG_SZ"}, {"value", "x"}, {"terminated", false}}},
                         {"Odd", {{"type", "REG_BINARY"}, {"hex", "01 02 03"}}}}}}}};
    reset(p);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", 0,
                            KEY_READ | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"MachineGuid", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, sizeof(wchar_t));  // no terminator stored
    EXPECT_EQ(RegQueryValueExW(key, L"odd", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(size, 3u);
    RegCloseKey(key);
    expect_no_leaks();
}

TEST_F(Devices, LogicalDriveStringsAndVolumes) {
    wchar_t buf[16];
    // C:\ and D:\ need 9 characters with the final NUL.
    EXPECT_EQ(GetLogicalDriveStringsW(8, buf), 9u);
    EXPECT_EQ(GetLogicalDriveStringsW(9, buf), 8u);
    EXPECT_EQ(std::wstring(buf, 9), std::wstring(L"C:\\\0D:\\\0\0", 9));
    EXPECT_EQ(GetDriveTypeW(L"C:\\"), static_cast<UINT>(DRIVE_FIXED));
    EXPECT_EQ(GetDriveTypeW(L"D:\\"), static_cast<UINT>(DRIVE_CDROM));
    EXPECT_EQ(GetDriveTypeW(L"Q:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));

    DWORD serial = 0;
    EXPECT_TRUE(GetVolumeInformationW(L"C:\\", nullptr, MAX_PATH, &serial, nullptr, nullptr, nullptr, MAX_PATH));
    EXPECT_EQ(serial, 4073213537u);
    serial = 7;
    EXPECT_FALSE(GetVolumeInformationW(L"D:\\", nullptr, MAX_PATH, &serial, nullptr, nullptr, nullptr, MAX_PATH));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
    EXPECT_EQ(serial, 7u);
}

TEST_F(Devices, AdaptersInfoBufferProtocol) {
    auto& adapters = machine().network.adapters;
    adapters.push_back({"{B}", "Wi-Fi", IF_TYPE_IEEE80211, {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff}, 9, "", ""});
    ULONG size = sizeof(IP_ADAPTER_INFO);  // room for one of two
    std::vector<unsigned char> storage(2 * sizeof(IP_ADAPTER_INFO));
    auto* info = reinterpret_cast<PIP_ADAPTER_INFO>(storage.data());
    EXPECT_EQ(GetAdaptersInfo(info, &size), static_cast<ULONG>(ERROR_BUFFER_OVERFLOW));
    EXPECT_EQ(size, 2 * sizeof(IP_ADAPTER_INFO));
    EXPECT_EQ(GetAdaptersInfo(info, &size), static_cast<ULONG>(ERROR_SUCCESS));

    ASSERT_NE(info->Next, nullptr);
    EXPECT_EQ(info->Next, info + 1);  // chained inside the caller's buffer
    EXPECT_EQ(info->Next->Next, nullptr);
    EXPECT_EQ(info->Type, static_cast<UINT>(MIB_IF_TYPE_ETHERNET));
    EXPECT_EQ(info->AddressLength, 6u);
    EXPECT_EQ(std::memcmp(info->Address, "\x00\x1a\x2b\x3c\x4d\x5e", 6), 0);
    EXPECT_STREQ(info->Description, "Intel(R) Ethernet Connection I219-V");
    EXPECT_EQ(info->Next->Type, static_cast<UINT>(IF_TYPE_IEEE80211));

    adapters.clear();
    EXPECT_EQ(GetAdaptersInfo(info, &size), static_cast<ULONG>(ERROR_NO_DATA));
}

}  // namespace
