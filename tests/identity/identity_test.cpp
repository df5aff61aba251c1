// The computer identity stored in the settings file.
#include "bootstrapper.h"
#include "computer_identity.h"
#include "digest_text.h"
#include "support/machine_fixture.h"

#include <boost/uuid/string_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using winsim::Registry;
using winsim::RegistryValue;

const std::string kNil = "00000000-0000-0000-0000-000000000000";
const std::string kMac = "001a2b3c4d5e";
const std::string kSerial = "4073213537";
const std::string kGuid = "8e41c7d2-53b0-4a6f-b9e1-2d7c04f5a913";
const std::wstring kCryptography = L"SOFTWARE\\Microsoft\\Cryptography";

std::string Saved(const std::string& company, const std::string& computer) {
    return "22 serialization::archive 19 0 2 " + company + " " + computer + " 1 " + kNil + "\n";
}

// The computer identity's text form for an identity source text.
std::string IdentityOf(const std::string& source) {
    return boost::uuids::to_string(boost::uuids::string_generator()(sablewick::Sha1Hex128(source)));
}

class IdentityTest : public winsim::test::MachineTest {
protected:
    fs::path SettingsFile() { return setup.GetDatFilePath(); }
    std::optional<std::string> Settings() {
        std::ifstream in(SettingsFile(), std::ios::binary);
        if (!in) return std::nullopt;
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // A settings file as an earlier installation left it.
    void WriteEmbeddedRecord() { setup.UnpackToFile(107, L"DAT", SettingsFile()); }
    // The record the program carries, which the identities go into.
    void SetEmbeddedRecord(const std::string& bytes) {
        machine().modules.remove_resource(winsim::ResourceKey::of_name(L"DAT"), winsim::ResourceKey::of_id(107));
        machine().modules.add_resource(winsim::ResourceKey::of_name(L"DAT"), winsim::ResourceKey::of_id(107),
                                       4105, std::vector<unsigned char>(bytes.begin(), bytes.end()));
    }
    std::string Register() {
        setup.RegisterComputerID();
        return boost::uuids::to_string(setup.LoadSettings().computerId);
    }
    void SetGuid(Registry::View view, RegistryValue value) {
        machine().registry.set(view, kCryptography, L"MachineGuid", std::move(value));
    }
    void RemoveGuid() {
        machine().registry.remove_key(Registry::View::default_view, kCryptography);
        machine().registry.remove_key(Registry::View::view64, kCryptography);
    }

    sablewick::Bootstrapper setup{nullptr};
};

TEST(Sha1Hex128, KnownDigests) {
    // Digests from a second implementation (Python's hashlib); the blocks
    // of 55, 63 and 64 bytes meet the padding's edges, and "aaaa...64" has
    // leading zeros.
    const struct {
        std::string text;
        const char* digest;
    } cases[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
        {std::string(63, 'a'), "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
        {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.size());
        EXPECT_EQ(sablewick::Sha1Hex128(c.text), std::string(c.digest, 32));
    }
}

// The digest's text does not depend on the element type Boost gives it:
// five 32-bit words, most significant byte first, or twenty bytes.
TEST(Sha1Hex128, DigestShapes) {
    const unsigned int words[5] = {0xb2cdac20u, 0x187f6fc0u, 0x0f51c101u, 0x47f7d51bu, 0x2ef0332bu};
    const unsigned char bytes[20] = {0xb2, 0xcd, 0xac, 0x20, 0x18, 0x7f, 0x6f, 0xc0, 0x0f, 0x51,
                                     0xc1, 0x01, 0x47, 0xf7, 0xd5, 0x1b, 0x2e, 0xf0, 0x33, 0x2b};
    EXPECT_EQ(sablewick::DigestPrefixHex(words, 16), "b2cdac20187f6fc00f51c10147f7d51b");
    EXPECT_EQ(sablewick::DigestPrefixHex(bytes, 16), "b2cdac20187f6fc00f51c10147f7d51b");
    EXPECT_EQ(sablewick::DigestPrefixHex(bytes, 20), "b2cdac20187f6fc00f51c10147f7d51b2ef0332b");
}

// The acceptance case, on the default machine: adapter 00-1A-2B-3C-4D-5E,
// fixed drive C: with serial 4073213537, the MachineGuid below, and no
// "company_id".
TEST_F(IdentityTest, DefaultMachine) {
    const std::string source = kMac + kSerial + kGuid + kNil;
    ASSERT_EQ(source.size(), 94u);
    // sha1sum of the 94 characters, computed outside this program.
    EXPECT_EQ(sablewick::Sha1Hex128(source), std::string("b2cdac20187f6fc00f51c10147f7d51b2ef0332b", 32));

    EXPECT_EQ(Register(), "b2cdac20-187f-6fc0-0f51-c10147f7d51b");
    EXPECT_EQ(Settings(), Saved(kNil, "b2cdac20-187f-6fc0-0f51-c10147f7d51b"));
    const auto volume = calls("GetVolumeInformationW");
    ASSERT_EQ(volume.size(), 1u);
    EXPECT_EQ(volume[0].args["lpRootPathName"], "C:\\");
    // The default view had the GUID: the native view is not asked.
    ASSERT_EQ(calls("RegOpenKeyExW").size(), 1u);
    EXPECT_EQ(calls("RegOpenKeyExW")[0].args["samDesired"], 0x20019);
    expect_no_leaks();

    // The same machine gives the same identity again.
    setup.RegisterComputerID();
    EXPECT_EQ(Settings(), Saved(kNil, "b2cdac20-187f-6fc0-0f51-c10147f7d51b"));
    expect_no_leaks();
}

// Drives, serials and adapters: what enters the identity source text.
TEST_F(IdentityTest, MachineSources) {
    const auto drive = [](const char* root, const char* type, nlohmann::json serial,
                          bool ready = true) {
        return nlohmann::json{{"root", root}, {"type", type}, {"serial", serial}, {"ready", ready}};
    };
    const struct {
        const char* name;
        nlohmann::json drives;
        nlohmann::json adapters;  // null: the default adapter
        const char* root;         // asked for its serial
        std::string source;
    } cases[] = {
        {"no fixed drive, C: readable", {drive("C:\\", "removable", 77)}, nullptr, "C:\\",
         kMac + "77" + kGuid + kNil},
        {"no fixed drive, no C:", {drive("D:\\", "cdrom", 5, false)}, nullptr, "C:\\",
         kMac + "0" + kGuid + kNil},
        {"C: and D: fixed", {drive("C:\\", "fixed", 1), drive("D:\\", "fixed", 2)}, nullptr, "C:\\",
         kMac + "1" + kGuid + kNil},
        {"only D: fixed", {drive("C:\\", "removable", 1), drive("D:\\", "fixed", 2)}, nullptr,
         "D:\\", kMac + "2" + kGuid + kNil},
        {"serial 0", {drive("C:\\", "fixed", 0)}, nullptr, "C:\\", kMac + "0" + kGuid + kNil},
        {"serial 4294967295", {drive("C:\\", "fixed", 4294967295u)}, nullptr, "C:\\",
         kMac + "4294967295" + kGuid + kNil},
        {"serial 2^31", {drive("C:\\", "fixed", 2147483648u)}, nullptr, "C:\\",
         kMac + "2147483648" + kGuid + kNil},
        {"fixed drive without medium", {drive("C:\\", "fixed", 9, false)}, nullptr, "C:\\",
         kMac + "0" + kGuid + kNil},
        {"no adapter", {drive("C:\\", "fixed", 3)}, nlohmann::json::array(), "C:\\",
         "000000000000" "3" + kGuid + kNil},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        nlohmann::json p = profile();
        p["drives"] = c.drives;
        if (!c.adapters.is_null()) p["adapters"] = c.adapters;
        reset(p);
        EXPECT_EQ(Register(), IdentityOf(c.source));
        const auto volume = calls("GetVolumeInformationW");
        ASSERT_EQ(volume.size(), 1u);
        EXPECT_EQ(volume[0].args["lpRootPathName"], c.root);
        expect_no_leaks();
    }
}

TEST_F(IdentityTest, DrivesByType) {
    nlohmann::json p = profile();
    p["drives"] = {{{"root", "C:\\"}, {"type", "fixed"}},
                   {{"root", "D:\\"}, {"type", "cdrom"}, {"ready", false}},
                   {{"root", "E:\\"}, {"type", "fixed"}},
                   {{"root", "F:\\"}, {"type", "removable"}}};
    reset(p);
    EXPECT_EQ(setup.GetDrivesByType(DRIVE_FIXED), (std::vector<std::wstring>{L"C:\\", L"E:\\"}));
    EXPECT_EQ(setup.GetDrivesByType(DRIVE_CDROM), (std::vector<std::wstring>{L"D:\\"}));
    EXPECT_TRUE(setup.GetDrivesByType(DRIVE_REMOTE).empty());

    machine().faults.fail("GetLogicalDriveStringsW", ERROR_ACCESS_DENIED);
    EXPECT_TRUE(setup.GetDrivesByType(DRIVE_FIXED).empty());
    // The identity then reads the volume of C:.
    EXPECT_EQ(Register(), IdentityOf(kMac + "0" + kGuid + kNil));
    EXPECT_EQ(calls("GetVolumeInformationW").back().args["lpRootPathName"], "C:\\");
}

// The value's shapes; the key is closed on every path.
TEST_F(IdentityTest, MachineGuidShapes) {
    const auto with_bytes = [](RegistryValue v, std::vector<BYTE> extra) {
        v.data.insert(v.data.end(), extra.begin(), extra.end());
        return v;
    };
    const std::wstring guid = L"8e41c7d2-53b0-4a6f-b9e1-2d7c04f5a913";
    const struct {
        const char* name;
        std::optional<RegistryValue> value;  // none: no such value
        std::wstring expected;
    } cases[] = {
        {"REG_SZ", RegistryValue::sz(guid), guid},
        {"missing", std::nullopt, L""},
        {"REG_DWORD", RegistryValue::dword(42), L""},
        {"REG_MULTI_SZ", RegistryValue::multi_sz({guid}), L""},
        {"REG_BINARY", RegistryValue::binary({1, 2, 3, 4}), L""},
        {"odd byte count", with_bytes(RegistryValue::sz(guid), {0}), L""},
        {"not terminated", RegistryValue::sz(guid, false), L""},
        {"empty", RegistryValue::sz(L""), L""},
        {"zero bytes", RegistryValue{REG_SZ, {}}, L""},
        {"upper case", RegistryValue::sz(L"8E41C7D2-53B0-4A6F-B9E1-2D7C04F5A913"),
         L"8E41C7D2-53B0-4A6F-B9E1-2D7C04F5A913"},
        {"braces", RegistryValue::sz(L"{" + guid + L"}"), L"{" + guid + L"}"},
        {"REG_EXPAND_SZ unexpanded", RegistryValue::sz(L"%SystemRoot%-1", true, REG_EXPAND_SZ),
         L"%SystemRoot%-1"},
        {"text up to the first NUL", RegistryValue::sz(std::wstring(L"abc\0def", 7)), L"abc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset(profile());
        RemoveGuid();
        if (c.value) {
            SetGuid(Registry::View::default_view, *c.value);
            SetGuid(Registry::View::view64, *c.value);
        }
        EXPECT_EQ(setup.GetMachineGuid(0), c.expected);
        EXPECT_EQ(setup.GetMachineGuid(KEY_WOW64_64KEY), c.expected);
        expect_no_leaks();
        // What enters the identity: the text as stored, or nothing.
        std::string ansi(c.expected.begin(), c.expected.end());
        EXPECT_EQ(Register(), IdentityOf(kMac + kSerial + ansi + kNil));
        expect_no_leaks();
    }
}

TEST_F(IdentityTest, MachineGuidQueryFailuresCloseTheKey) {
    for (unsigned nth : {1u, 2u}) {
        SCOPED_TRACE(nth);
        reset(profile());
        machine().faults.fail_status("RegQueryValueExW", ERROR_ACCESS_DENIED, nth);
        EXPECT_EQ(setup.GetMachineGuid(0), L"");
        EXPECT_EQ(machine().log.count("RegCloseKey"), 1u);
        expect_no_leaks();
    }
    machine().faults.fail_status("RegOpenKeyExW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(setup.GetMachineGuid(0), L"");
    expect_no_leaks();
}

// The default view first, the native 64-bit view when that gives nothing.
TEST_F(IdentityTest, MachineGuidViews) {
    const struct {
        const char* name;
        std::optional<std::wstring> default_view, view64;
        std::string part;
        std::vector<int> access;  // of each RegOpenKeyExW
    } cases[] = {
        {"both", L"default-guid", L"native-guid", "default-guid", {0x20019}},
        {"only the 64-bit view", std::nullopt, L"native-guid", "native-guid", {0x20019, 0x20119}},
        {"empty in the default view", L"", L"native-guid", "native-guid", {0x20019, 0x20119}},
        {"neither", std::nullopt, std::nullopt, "", {0x20019, 0x20119}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset(profile());
        RemoveGuid();
        if (c.default_view) SetGuid(Registry::View::default_view, RegistryValue::sz(*c.default_view));
        if (c.view64) SetGuid(Registry::View::view64, RegistryValue::sz(*c.view64));
        EXPECT_EQ(Register(), IdentityOf(kMac + kSerial + c.part + kNil));
        std::vector<int> access;
        for (const auto& call : calls("RegOpenKeyExW")) access.push_back(call.args["samDesired"]);
        EXPECT_EQ(access, c.access);
        expect_no_leaks();
    }
}

// The machine GUID enters as 8-bit text in the ANSI code page (1252), not
// narrowed unit by unit: the expected bytes are written out by hand.
TEST_F(IdentityTest, MachineGuidThroughTheAnsiCodePage) {
    const std::wstring stem = L"8e41c7d2-53b0-4a6f-b9e1-2d7c04f5a91";
    const std::string ansiStem(stem.begin(), stem.end());  // ASCII alone
    const struct {
        const char* name;
        std::wstring last;
        std::string bytes;
    } cases[] = {
        {"euro sign", L"\u20AC", "\x80"},
        {"e with acute accent", L"\u00E9", "\xE9"},
        {"Y with diaeresis", L"\u0178", "\x9F"},
        {"letter outside the code page", L"\u0416", "?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset(profile());
        RemoveGuid();
        SetGuid(Registry::View::default_view, RegistryValue::sz(stem + c.last));
        EXPECT_EQ(Register(), IdentityOf(kMac + kSerial + ansiStem + c.bytes + kNil));
        expect_no_leaks();
    }
}

// The fields the identity does not own go back exactly as they were read.
// The record is the one the program carries: its other fields go into the
// settings file as it has them.
TEST_F(IdentityTest, OtherFieldsKeptAsTheEmbeddedRecordHasThem) {
    const std::string company = "7d3a90c4-5b21-4e8f-9a6c-0f12b3e4d5a6";
    const std::string second = "01234567-89ab-cdef-0123-456789abcdef";
    const std::string computer = IdentityOf(kMac + kSerial + kGuid + company);
    const struct {
        const char* name;
        std::string file;
        std::string saved;
    } cases[] = {
        {"class version 1, flag 0", "22 serialization::archive 19 0 1 " + company + " " + kNil + " 0\n",
         "22 serialization::archive 19 0 2 " + company + " " + computer + " 0 " + kNil + "\n"},
        {"class version 3, second id", "22 serialization::archive 19 0 3 " + company + " " + kNil + " 1 " + second + "\n",
         "22 serialization::archive 19 0 2 " + company + " " + computer + " 1 " + second + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset(profile());
        SetEmbeddedRecord(c.file);
        setup.RegisterComputerID();
        EXPECT_EQ(Settings(), c.saved);
        expect_no_leaks();
    }
}

// Every accepted form of one company identity gives one computer identity.
TEST_F(IdentityTest, AcceptedCompanyIdForms) {
    const std::string company = "7d3a90c4-5b21-4e8f-9a6c-0f12b3e4d5a6";
    const std::string expected = IdentityOf(kMac + kSerial + kGuid + company);
    for (const char* form : {"7d3a90c4-5b21-4e8f-9a6c-0f12b3e4d5a6",
                             "7D3A90C4-5B21-4E8F-9A6C-0F12B3E4D5A6",
                             "{7d3a90c4-5b21-4e8f-9a6c-0f12b3e4d5a6}",
                             "7d3a90c45b214e8f9a6c0f12b3e4d5a6"}) {
        SCOPED_TRACE(form);
        setup.SetCompanyId(form);
        EXPECT_EQ(Register(), expected);
        EXPECT_EQ(Settings(), Saved(company, expected));
    }
}

TEST_F(IdentityTest, RejectedCompanyIdForms) {
    for (const char* form : {"", " 7d3a90c4-5b21-4e8f-9a6c-0f12b3e4d5a6",
                             "7d3a90c4-5b21-4e8f-9a6c-0f12b3e4d5a6 ", "7d3a90c45b214e8f9a6c0f12b3e4d5a",
                             "7d3a90c45b214e8f9a6c0f12b3e4d5a6a", "7d3a90c4-5b214e8f9a6c0f12b3e4d5a6",
                             "{7d3a90c4-5b21-4e8f-9a6c-0f12b3e4d5a6", "7d3a90c4-5b21-4e8f-9a6c-0f12b3e4d5ag"}) {
        SCOPED_TRACE(form);
        setup.SetCompanyId(form);
        WriteEmbeddedRecord();
        const auto before = Settings();
        try {
            setup.RegisterComputerID();
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Failed to parse Company ID");
        }
        EXPECT_EQ(Settings(), before);
    }
}

// The record is made in memory and written once, identities included: a
// failure at any step leaves the settings file as it was, never the embedded
// record without its identities.
TEST_F(IdentityTest, FailureAtAnyStepKeepsTheSettingsFile) {
    const std::string data = "C:\\ProgramData\\Sablewick\\Sablewick Remote";
    const std::string old = "22 serialization::archive 19 0 2 " + kNil + " " + kNil + " 1 " + kNil + "\n";
    const std::string unsupported =
        "22 serialization::archive 20 0 2 " + kNil + " " + kNil + " 1 " + kNil + "\n";
    enum class Step { resource, archive, company, save };
    const struct {
        const char* name;
        Step step;
        std::string error;
    } cases[] = {
        {"no embedded record", Step::resource, "The specified resource type cannot be found in the image file"},
        {"embedded record unreadable", Step::archive, "unsupported version"},
        {"bad company id", Step::company, "Failed to parse Company ID"},
        {"no new file can be made", Step::save, "Unable to create "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        nlohmann::json p = profile();
        p["files"][data + "\\SablewickRemote.dat"] = old;
        // Administrators may read the folder but not add to it.
        if (c.step == Step::save)
            p["files"][data] = {{"folder", true}, {"sddl", "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BA)"}};
        reset(p);
        if (c.step == Step::resource)
            machine().modules.remove_resource(winsim::ResourceKey::of_name(L"DAT"), winsim::ResourceKey::of_id(107));
        if (c.step == Step::archive) SetEmbeddedRecord(unsupported);
        sablewick::Bootstrapper run(nullptr);
        if (c.step == Step::company) run.SetCompanyId("bad");
        try {
            run.RegisterComputerID();
            ADD_FAILURE() << "no error";
        } catch (const std::exception& e) {
            EXPECT_EQ(std::string(e.what()).substr(0, c.error.size()), c.error);
        }
        EXPECT_EQ(read_file(data + "\\SablewickRemote.dat"), old);
        EXPECT_FALSE(file_exists(data + "\\SablewickRemote.dat.new"));
        expect_no_leaks();
    }
}

}  // namespace
