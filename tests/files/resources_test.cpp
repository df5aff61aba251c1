// The embedded resources and their copy into files.
#include "files_fixture.h"

#include <boost/system/system_error.hpp>

#include <cstring>
#include <stdexcept>
#include <vector>

namespace files_test {
namespace {

using winsim::ResourceKey;

class ResourcesTest : public FilesTest {
protected:
    std::shared_ptr<winsim::Resource> Model(const wchar_t* type, unsigned id) {
        return machine().modules.find_resource(ResourceKey::of_name(type), ResourceKey::of_id(id));
    }
    std::string Bytes(const wchar_t* type, unsigned id) {
        auto r = Model(type, id);
        return std::string(reinterpret_cast<const char*>(r->data), r->size);
    }
    fs::path Target(const char* name) { return host_path("C:\\ProgramData") / name; }
};

// The bytes are those of the loaded image, not a copy; only the low 16 bits
// of the identifier count.
TEST_F(ResourcesTest, LoadResourceDataPointsIntoTheImage) {
    const struct {
        const wchar_t* type;
        std::uint32_t asked;
        unsigned id;
    } cases[] = {{L"MSI", 102, 102}, {L"CFG", 104, 104}, {L"DAT", 107, 107}, {L"CFG", 65640, 104}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked);
        auto model = Model(c.type, c.id);
        ASSERT_TRUE(model);
        const sablewick::ResourceData data = setup.LoadResourceData(c.asked, c.type);
        EXPECT_EQ(data.data, model->data);
        EXPECT_EQ(data.size, model->size);
    }
    EXPECT_EQ(machine().log.count("LockResource"), 0u);
    expect_no_leaks();
}

// A failed lookup leaves before the destination is touched.
TEST_F(ResourcesTest, FailedLookupLeavesTheDestinationAlone) {
    ASSERT_TRUE(machine().modules.remove_resource(ResourceKey::of_name(L"MSI"), ResourceKey::of_id(102)));
    machine().modules.add_resource(ResourceKey::of_name(L"EMPTY"), ResourceKey::of_id(1), 1033, {});
    const struct {
        const char* name;
        const wchar_t* type;
        unsigned id;
        std::optional<int> code;
    } cases[] = {
        {"missing package", L"MSI", 102, ERROR_RESOURCE_TYPE_NOT_FOUND},
        {"missing identifier", L"CFG", 999, ERROR_RESOURCE_NAME_NOT_FOUND},
        {"zero bytes", L"EMPTY", 1, std::nullopt},
    };
    Spit(Target("existing"), "old");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* name : {"existing", "missing"}) {
            try {
                setup.UnpackToFile(c.id, c.type, Target(name));
                ADD_FAILURE() << "no error";
            } catch (const boost::system::system_error& e) {
                if (c.code) {
                    EXPECT_EQ(e.code().value(), *c.code);
                }
                EXPECT_EQ(std::string(e.code().category().name()), "windows");
            }
        }
        EXPECT_EQ(Slurp(Target("existing")), "old");
        EXPECT_FALSE(fs::exists(Target("missing")));
    }
}

TEST_F(ResourcesTest, UnpackReplacesTheFileWithTheResourceBytes) {
    const fs::path file = Target("SablewickRemote.cfg");
    Spit(file, std::string(100000, 'x'));  // longer than the template
    setup.UnpackToFile(104, L"CFG", file);
    const std::string cfg = *Slurp(file);
    EXPECT_EQ(cfg, Bytes(L"CFG", 104));

    // 46 lines, each ended by CR LF, and no "tray-port" key.
    std::size_t lines = 0;
    for (std::size_t i = 0; i < cfg.size(); ++i)
        if (cfg[i] == '\n') {
            ++lines;
            EXPECT_TRUE(i > 0 && cfg[i - 1] == '\r') << "line " << lines;
        }
    EXPECT_EQ(lines, 46u);
    EXPECT_EQ(cfg.back(), '\n');
    EXPECT_EQ(cfg.find("tray-port"), std::string::npos);

    setup.UnpackToFile(107, L"DAT", Target("SablewickRemote.dat"));
    EXPECT_EQ(Slurp(Target("SablewickRemote.dat")), kEmbeddedRecord);
    EXPECT_EQ(kEmbeddedRecord.size(), 147u);

    setup.UnpackToFile(102, L"MSI", Target("package.msi"));
    EXPECT_TRUE(Slurp(Target("package.msi")) == Bytes(L"MSI", 102));
    expect_no_leaks();
}

// A destination in a folder that is missing cannot be made; an empty folder
// at its name goes, as a removal of the name would take it; a folder with
// something in it cannot be replaced, and says why.
TEST_F(ResourcesTest, DestinationThatCannotBeMadeOrReplaced) {
    const fs::path missing = Target("no such folder") / "file.cfg";
    EXPECT_EQ(ErrorOf<std::runtime_error>([&] { setup.UnpackToFile(104, L"CFG", missing); }),
              "Unable to create " + missing.string());
    EXPECT_FALSE(fs::exists(Target("no such folder")));

    fs::create_directory(Target("empty"));
    setup.UnpackToFile(104, L"CFG", Target("empty"));
    EXPECT_TRUE(Slurp(Target("empty")) == Bytes(L"CFG", 104));

    fs::create_directory(Target("full"));
    Spit(Target("full") / "inside", "kept");
    try {
        setup.UnpackToFile(104, L"CFG", Target("full"));
        ADD_FAILURE() << "no error";
    } catch (const fs::filesystem_error& e) {
        EXPECT_EQ(e.code().value(), static_cast<int>(ERROR_DIR_NOT_EMPTY)) << e.what();
        EXPECT_EQ(e.path1(), Target("full"));
        EXPECT_NE(std::string(e.what()).find("cannot remove"), std::string::npos) << e.what();
    }
    EXPECT_EQ(Slurp(Target("full") / "inside"), "kept");
    expect_no_leaks();
}

// A full disk: the write fails, and neither a cut-off file nor the new one
// stays behind; the file it would replace is left whole.
TEST_F(ResourcesTest, FailedWriteIsReportedAndTheOldFileKept) {
    // The Win32 call failing, and the C library's write below it taking
    // part of the data before the disk is full.
    for (const char* call : {"WriteFile", "write"}) {
        SCOPED_TRACE(call);
        reset(profile());
        const fs::path file = Target("SablewickRemote.cfg");
        Spit(file, "old");
        machine().faults.fail(call, ERROR_DISK_FULL);
        EXPECT_EQ(ErrorOf<std::runtime_error>([&] { setup.UnpackToFile(104, L"CFG", file); }),
                  "Unable to write " + file.string());
        machine().faults.clear(call);
        EXPECT_EQ(Slurp(file), "old");
        EXPECT_FALSE(fs::exists(Target("SablewickRemote.cfg.new")));
        expect_no_leaks();
    }
}

// A link at the destination is replaced by the file, never written through.
TEST_F(ResourcesTest, LinkAtTheDestinationIsReplaced) {
    const fs::path file = Target("SablewickRemote.cfg");
    Spit(Target("elsewhere"), "theirs");
    fs::create_symlink(Target("elsewhere"), file);
    setup.UnpackToFile(104, L"CFG", file);
    EXPECT_FALSE(fs::is_symlink(file));
    EXPECT_EQ(Slurp(file), Bytes(L"CFG", 104));
    EXPECT_EQ(Slurp(Target("elsewhere")), "theirs");
    expect_no_leaks();
}

}  // namespace
}  // namespace files_test
