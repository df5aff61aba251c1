// The settings file, its text archive, and the one-time record.
#include "file_replace.h"
#include "files_fixture.h"

#include <boost/uuid/string_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <stdexcept>
#include <vector>

namespace files_test {
namespace {

using sablewick::snet::types::ClientSettings;
using sablewick::snet::types::OneTimeSettings;

const std::string kNil = "00000000-0000-0000-0000-000000000000";
const std::string kU1 = "11111111-2222-3333-4444-555555555555";
const std::string kU2 = "aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee";
const std::string kU3 = "01234567-89ab-cdef-0123-456789abcdef";

std::string Header(const std::string& library) { return "22 serialization::archive " + library + " "; }

// What a save writes for a record: always 146 bytes.
std::string Saved(const std::string& company, const std::string& computer, bool flag,
                  const std::string& id2) {
    return Header("19") + "0 2 " + company + " " + computer + " " + (flag ? "1" : "0") + " " + id2
           + "\n";
}

class SettingsTest : public FilesTest {
protected:
    fs::path SettingsFile() { return setup.GetDatFilePath(); }
};

// How each archive loads, and what the next save makes of it.
TEST_F(SettingsTest, ArchiveForms) {
    const struct {
        const char* name;
        std::string file;
        std::string error;  // empty: loads
        std::string company = {}, computer = {};
        bool flag = true;
        std::string id2 = {};
    } cases[] = {
        {"embedded record", kEmbeddedRecord, "", kNil, kNil, true, kNil},
        {"class version 0", Header("19") + "0 0 " + kU1 + " " + kU2 + "\n", "", kU1, kU2, true, kNil},
        {"class version 1", Header("19") + "0 1 " + kU1 + " " + kU2 + " 0\n", "", kU1, kU2, false,
         kNil},
        {"class version 2", Header("19") + "0 2 " + kU1 + " " + kU2 + " 0 " + kU3 + "\n", "", kU1,
         kU2, false, kU3},
        {"class version 3 reads like 2", Header("19") + "0 3 " + kU1 + " " + kU2 + " 0 " + kU3 + "\n",
         "", kU1, kU2, false, kU3},
        {"library version 0", Header("0") + "0 2 " + kU1 + " " + kU2 + " 1 " + kU3 + "\n", "", kU1,
         kU2, true, kU3},
        {"library version 20", Header("20") + "0 2 " + kU1 + " " + kU2 + " 1 " + kU3 + "\n",
         "unsupported version"},
        {"two blanks before the signature",
         "22  serialization::archive 19 0 2 " + kU1 + " " + kU2 + " 1 " + kU3 + "\n",
         "invalid signature"},
        {"signature length of a damaged file",
         "4000000000 serialization::archive 19 0 2 " + kU1 + " " + kU2 + " 1 " + kU3,
         "invalid signature"},
        {"other signature", "22 serialization::archivX 19 0 2 " + kU1 + " " + kU2 + " 1 " + kU3,
         "invalid signature"},
        {"byte-order mark", "\xEF\xBB\xBF" + Saved(kU1, kU2, true, kU3), "input stream error"},
        {"upper case", Header("19") + "0 2 AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE " + kU1 + " 1 " + kU3,
         "", kU2, kU1, true, kU3},
        {"any whitespace between items",
         "\n 22 serialization::archive\t19\r\n0  2\n\n" + kU1 + "\t\t" + kU2 + " \n1\r\n" + kU3, "",
         kU1, kU2, true, kU3},
        {"trailing text", Saved(kU1, kU2, true, kU3) + "garbage 42\n", "", kU1, kU2, true, kU3},
        {"flag 2", Header("19") + "0 2 " + kU1 + " " + kU2 + " 2 " + kU3 + "\n", "input stream error"},
        {"empty file", "", "input stream error"},
        {"cut off", Header("19") + "0 2 " + kU1 + " " + kU2 + " 1", "input stream error"},
        {"missing dash", Header("19") + "0 2 11111111-22223333-4444-555555555555 " + kU2 + " 1 " + kU3,
         "input stream error"},
        {"not hexadecimal",
         Header("19") + "0 2 11111111-2222-3333-4444-55555555555g " + kU2 + " 1 " + kU3,
         "input stream error"},
    };
    const boost::uuids::string_generator parse;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Spit(SettingsFile(), c.file);
        if (!c.error.empty()) {
            EXPECT_EQ(ErrorOf<std::exception>([&] { setup.LoadSettings(); }), c.error);
            continue;
        }
        const ClientSettings loaded = setup.LoadSettings();
        EXPECT_EQ(loaded.companyId, parse(c.company));
        EXPECT_EQ(loaded.computerId, parse(c.computer));
        EXPECT_EQ(loaded.flagV1, c.flag);
        EXPECT_EQ(loaded.idV2, parse(c.id2));

        setup.SaveSettings(loaded);
        const std::string saved = *Slurp(SettingsFile());
        EXPECT_EQ(saved, Saved(c.company, c.computer, c.flag, c.id2));
        EXPECT_EQ(saved.size(), 146u);
    }
    EXPECT_FALSE(fs::exists(sablewick::NewFilePath(SettingsFile())));
}

TEST_F(SettingsTest, SavedRecordHasTheAgentsBytes) {
    ClientSettings settings;
    settings.computerId = boost::uuids::string_generator()("b2cdac20-187f-6fc0-0f51-c10147f7d51b");
    setup.SaveSettings(settings);
    EXPECT_EQ(Slurp(SettingsFile()),
              "22 serialization::archive 19 0 2 00000000-0000-0000-0000-000000000000 "
              "b2cdac20-187f-6fc0-0f51-c10147f7d51b 1 00000000-0000-0000-0000-000000000000\n");
}

TEST_F(SettingsTest, MissingSettingsFile) {
    EXPECT_EQ(ErrorOf<std::runtime_error>([&] { setup.LoadSettings(); }),
              "Unable to open settings file to read");
}

// A save that fails leaves the settings file as it was and no new file, and
// says why: no new file could be made, it could not be written, or the
// settings file could not be replaced (read-only, or held by a program that
// shares nothing).
TEST_F(SettingsTest, FailedSaveKeepsTheSettingsFile) {
    const std::string data = "C:\\ProgramData\\Sablewick\\Sablewick Remote";
    const std::string dat = data + "\\SablewickRemote.dat";
    enum class Machine { folder_without_new_files, plain, read_only, held };
    const struct {
        const char* name;
        Machine machine;
        const char* call;  // failing, or null
        std::string message;  // the path follows
    } cases[] = {
        {"no new file", Machine::folder_without_new_files, nullptr, "Unable to create "},
        {"disk full", Machine::plain, "WriteFile", "Unable to write "},
        {"disk full, the C library's write", Machine::plain, "write", "Unable to write "},
        {"read-only", Machine::read_only, nullptr,
         "filesystem error: cannot remove: Access is denied ["},
        {"held without sharing", Machine::held, nullptr,
         "filesystem error: cannot remove: The process cannot access the file because it is "
         "being used by another process ["},
    };
    ClientSettings settings;
    settings.companyId = boost::uuids::string_generator()(kU1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        nlohmann::json p = profile();
        p["files"][dat] = {{"text", kEmbeddedRecord}, {"read_only", c.machine == Machine::read_only}};
        // Administrators may read the folder but not add to it.
        if (c.machine == Machine::folder_without_new_files)
            p["files"][data] = {{"folder", true},
                                {"sddl", "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BA)"}};
        if (c.machine == Machine::held)
            p["processes"]["running"].push_back(
                {{"image", "holder.exe"}, {"open_files", {{{"path", dat}, {"share", nlohmann::json::array()}}}}});
        reset(p);
        if (c.call) machine().faults.fail(c.call, ERROR_DISK_FULL);
        const fs::path file = SettingsFile();
        const std::string error = ErrorOf<std::runtime_error>([&] { setup.SaveSettings(settings); });
        const std::string expected = c.message + file.string();
        EXPECT_EQ(error.substr(0, expected.size()), expected);
        EXPECT_EQ(read_file(dat), kEmbeddedRecord);
        EXPECT_FALSE(file_exists(dat + ".new"));
        expect_no_leaks();
    }
}

TEST_F(SettingsTest, OneTimeRecord) {
    const struct {
        const char* name;
        std::optional<std::string> resource;  // none: the executable has none
        bool onetime;
        std::string id;
        int number;
    } cases[] = {
        {"no resource", std::nullopt, false, kNil, 0},
        {"whole record", Header("19") + "0 0 1 " + kU1 + " -7\n", true, kU1, -7},
        {"older library, CR LF", Header("13") + "0 0 1 " + kU2 + " 2147483647\r\n", true, kU2,
         2147483647},
        {"cut off after the flag", Header("19") + "0 0 1", true, kNil, 0},
        {"zero bytes", std::string(), false, kNil, 0},
        {"not an archive", std::string("hello"), false, kNil, 0},
    };
    const auto type = winsim::ResourceKey::of_name(L"ONETIME");
    const auto id = winsim::ResourceKey::of_id(108);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        machine().modules.remove_resource(type, id);
        if (c.resource)
            machine().modules.add_resource(type, id, 0,
                                           std::vector<unsigned char>(c.resource->begin(),
                                                                      c.resource->end()));
        OneTimeSettings settings;  // as the installer run prepares it
        setup.LoadOneTimeSettings(settings);
        EXPECT_EQ(settings.onetime, c.onetime);
        EXPECT_EQ(boost::uuids::to_string(settings.id), c.id);
        EXPECT_EQ(settings.number, c.number);
    }
    expect_no_leaks();
}

}  // namespace
}  // namespace files_test
