// Inputs the fuzz targets (fuzz/) turned up, kept as tests: each once made
// the code under test crash, read out of bounds or ask for absurd memory.
#include "bootstrapper.h"
#include "support/machine_fixture.h"

#include "kyv/common/string_conversion.hpp"
#include "snet/types/settings_archive.hpp"

#include <boost/archive/archive_exception.hpp>
#include <boost/uuid/nil_generator.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using boost::archive::archive_exception;

const std::string kRest =
    " serialization::archive 19 0 0 1 b2cdac20-187f-6fc0-0f51-c10147f7d51b 42\n";

// Signature lengths other than the signature's own. The archive used to make
// room for that many characters before comparing them, so a settings file or
// one-time record of a few bytes could ask for a terabyte.
const char* const kForeignLengths[] = {
    "1099511627776",         // 2^40
    "18446744073709551615",  // the largest std::size_t
    "-1",                    // read as the largest std::size_t
    "23",
    "0",
};

class ArchiveRegressionTest : public winsim::test::MachineTest {
protected:
    sablewick::Bootstrapper setup{nullptr};
};

TEST_F(ArchiveRegressionTest, SettingsFileWithForeignSignatureLengthIsAnInvalidSignature) {
    const std::filesystem::path file = setup.GetDatFilePath();
    for (const char* length : kForeignLengths) {
        SCOPED_TRACE(length);
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out << length << kRest;
        }
        try {
            setup.LoadSettings();
            ADD_FAILURE() << "loaded";
        } catch (const archive_exception& e) {
            EXPECT_EQ(e.code, archive_exception::invalid_signature) << e.what();
        }
    }
}

TEST_F(ArchiveRegressionTest, OneTimeRecordWithForeignSignatureLengthKeepsTheCallersValues) {
    auto& record = machine().modules.add_resource(winsim::ResourceKey::of_name(L"ONETIME"),
                                                  winsim::ResourceKey::of_id(108), 0, {});
    for (const char* length : kForeignLengths) {
        SCOPED_TRACE(length);
        const std::string text = length + kRest;
        record.own(std::vector<unsigned char>(text.begin(), text.end()));
        sablewick::snet::types::OneTimeSettings settings;
        EXPECT_NO_THROW(setup.LoadOneTimeSettings(settings));
        EXPECT_FALSE(settings.onetime);
        EXPECT_EQ(settings.id, boost::uuids::nil_uuid());
        EXPECT_EQ(settings.number, 0);
    }
}

// The check of the length must leave the stream where the archive expects
// it: the same record with the right length, with whitespace before it, or
// inside a longer stream, still loads.
TEST(ArchiveRegression, RightSignatureLengthStillLoads) {
    for (const std::string prefix : {"", "  \n\t", "\r\n"}) {
        SCOPED_TRACE(prefix);
        std::istringstream in(prefix + "22" + kRest + "22 and more");
        sablewick::snet::types::OneTimeSettings settings;
        sablewick::snet::types::LoadTextArchive(in, settings);
        EXPECT_TRUE(settings.onetime);
        EXPECT_EQ(settings.number, 42);
    }
}

// A first byte announcing more bytes than remain, in a block of exactly the
// input's size: it used to be decoded with the bytes after the block.
TEST(StringConversionRegression, CutOffCharacterAtTheEndIsNotReadPast) {
    const struct {
        std::string bytes;
        std::wstring units;
    } cases[] = {
        {"*]\xed", {L'*', L']', 0xED}},
        {"ab\xf0\x9f\x98", {L'a', L'b', 0xF0, 0x9F, 0x98}},
        {"\xc3", {0xC3}},
    };
    for (const auto& c : cases) {
        std::unique_ptr<char[]> block(new char[c.bytes.size()]);
        std::copy(c.bytes.begin(), c.bytes.end(), block.get());
        EXPECT_EQ(kyv::common::utf8_to_wstring(block.get(), block.get() + c.bytes.size()), c.units)
            << ::testing::PrintToString(c.bytes);
    }
}

}  // namespace
