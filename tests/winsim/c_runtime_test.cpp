// The C runtime's conversions while a machine is current: 8-bit text as
// Windows' runtime gives it in its "C" locale, paths as the sandbox names
// its files. The 8-bit cases are what MinGW's runtime gives under Wine.
#include "support/machine_fixture.h"

#include "platform/winsim/c_runtime.h"

#include <boost/filesystem/path.hpp>
#include <boost/program_options/detail/convert.hpp>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace {

using CRuntimeConversions = winsim::test::MachineTest;

// Boost.Program_options stores an option's value through the global
// locale, as the program's company id is stored.
TEST_F(CRuntimeConversions, EightBitTextAsWindowsRuntimeInItsCLocale) {
    const struct {
        const wchar_t* text;
        std::optional<std::string> bytes;  // none: the conversion fails
    } cases[] = {
        {L"caf\u00e9", std::string("caf\xE9")},
        {L"\u0080\u00ff", std::string("\x80\xFF")},
        {L"\u20ac", std::nullopt},  // Windows-1252's euro sign is no "C" locale character
        {L"\u0100", std::nullopt},
        {L"\xD834\xDD1E", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(winsim::to_utf8(c.text));
        if (c.bytes) {
            EXPECT_EQ(boost::to_local_8_bit(c.text), *c.bytes);
            EXPECT_EQ(boost::from_local_8_bit(*c.bytes), c.text);
        } else {
            EXPECT_THROW(boost::to_local_8_bit(c.text), std::logic_error);
        }
    }
}

// Wide paths reach the sandbox's files, whose names are UTF-8, through
// std::filesystem and Boost.Filesystem alike, and come back unchanged.
TEST_F(CRuntimeConversions, PathsConvertAsTheSandboxNamesItsFiles) {
    ASSERT_TRUE(winsim::CRuntime::converts_file_names());
    const struct {
        const char* name;
        std::wstring folder;  // as the model hands it out
        std::string host;     // as Linux names it: UTF-8
    } cases[] = {
        {"up to U+00FF", L"Donn\u00e9es", "Donn\u00e9es"},
        {"beyond U+07FF, three bytes for one unit", L"\u6570", "\u6570"},
        {"beyond U+FFFF, a surrogate pair", L"\xD834\xDD1E", "\U0001D11E"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(std::filesystem::path(c.folder).string(), c.host);
        EXPECT_EQ(std::filesystem::path(c.host).wstring(), c.folder);
        EXPECT_EQ(boost::filesystem::path(c.folder).string(), c.host);
        EXPECT_EQ(boost::filesystem::path(c.host).wstring(), c.folder);

        // The way the program goes to a file in a folder the model named.
        const std::filesystem::path file(machine().host_wpath("C:\\") + L"/" + c.folder
                                         + L"/a.txt");
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << "written by the product";
        EXPECT_EQ(read_file("C:\\" + c.host + "\\a.txt"), "written by the product");
    }
}

// A wide name that no UTF-8 name can carry, and bytes that are no UTF-8,
// fail as the host's path type reports a conversion it cannot make.
TEST_F(CRuntimeConversions, PathsWithoutAFileNameOfTheSandboxFail) {
    for (const wchar_t* name : {L"/a\xD834", L"/a\xD834/b", L"/a\xDD1E"}) {
        SCOPED_TRACE(winsim::to_utf8(name));
        EXPECT_THROW(std::filesystem::path{std::wstring(name)}, std::filesystem::filesystem_error);
    }
    for (const char* name : {"/a\xE9", "/a\xC3", "/a\xED\xA0\xB4"}) {
        SCOPED_TRACE(name);
        EXPECT_THROW(std::filesystem::path(name).wstring(), std::filesystem::filesystem_error);
    }
}

// The host's own conversions come back with the machine's end: its "C"
// locale holds ASCII only.
TEST(CRuntimeAfterTheMachine, HostConversionsAreBack) {
    {
        winsim::test::TempFolder dir;
        winsim::Machine m(winsim::Machine::default_profile(), dir.path() / "sandbox");
        EXPECT_NO_THROW(boost::to_local_8_bit(L"caf\u00e9"));
        EXPECT_NO_THROW(std::filesystem::path(L"caf\u00e9"));
    }
    EXPECT_FALSE(winsim::CRuntime::converts_file_names());
    EXPECT_THROW(boost::to_local_8_bit(L"caf\u00e9"), std::logic_error);
    EXPECT_THROW(std::filesystem::path(L"caf\u00e9"), std::filesystem::filesystem_error);
}

}  // namespace
