// A machine a standard user prepared before the elevated run: links,
// junctions, hard links and files of their own in the agent's folders and
// the temporary folder. Each case is judged by the disk afterwards: nothing
// outside the agent's folders changed, and the agent's files are as they
// were or whole and new, never anything else's bytes.
#include "install_fixture.h"

#include "folder_security.h"

#include <boost/uuid/detail/sha1.hpp>

#include <map>
#include <sstream>

namespace install_test {
namespace {

namespace fs = std::filesystem;

const std::string kSablewick = "C:\\ProgramData\\Sablewick";
const std::string kLogFolder = kDataFolder + "\\SablewickRemote Msi";
const std::string kVictim = "C:\\Users\\alice\\victim.txt";
const std::string kSecret = "C:\\Windows\\System32\\config\\secret.txt";
const std::string kElsewhere = "C:\\Users\\alice\\Stage";
const std::string kUsersConfig = "# mine\r\ntray-port = 100\r\nkey = user\r\n";
const std::string kInstalledSettings =
    "22 serialization::archive 19 0 2 11111111-2222-4333-8444-555555555555 "
    "9f0e1d2c-3b4a-5968-7786-95a4b3c2d1e0 1 00000000-0000-0000-0000-000000000000\n";
const std::string kAgentSddl = "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// What a path holds, as far as a change of it matters: its kind, a link's
// target, a file's bytes.
std::string Digest(const fs::path& p) {
    std::error_code ec;
    const auto status = fs::symlink_status(p, ec);
    if (fs::is_symlink(status)) return "link to " + fs::read_symlink(p, ec).string();
    if (fs::is_directory(status)) return "folder";
    if (!fs::is_regular_file(status)) return "other";
    std::ifstream in(p, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    boost::uuids::detail::sha1 sha;
    sha.process_bytes(bytes.data(), bytes.size());
    unsigned digest[5];
    sha.get_digest(digest);
    std::ostringstream out;
    for (unsigned d : digest) out << std::hex << d;
    return out.str();
}

class PreparedMachine : public InstallTest {
protected:
    // Everything on the disk but the agent's folders and the temporary
    // packages, which the run may change.
    std::map<std::string, std::string> Outside() {
        winsim::ModelFileAccess test;
        std::map<std::string, std::string> out;
        const fs::path agent = host_path(kSablewick);
        const fs::path root = host_path("C:\\");
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            const fs::path p = it->path();
            if (p == agent) {
                it.disable_recursion_pending();
                continue;
            }
            if (p.filename().string().rfind("sablewick_remote_", 0) == 0) continue;
            out[p.string()] = Digest(p);
        }
        return out;
    }
    // The agent data folder's plain files with one name, with their bytes:
    // a second name of someone else's file is not the agent's.
    std::map<std::string, std::string> AgentFiles() {
        winsim::ModelFileAccess test;
        std::map<std::string, std::string> out;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(host_path(kSablewick), ec);
             it != fs::recursive_directory_iterator(); it.increment(ec))
            if (fs::is_regular_file(it->symlink_status()) && fs::hard_link_count(it->path(), ec) == 1) out[it->path().string()] = *read_file(it->path().string());
        return out;
    }
    std::string Dacl(const std::string& windows_path, SECURITY_INFORMATION parts) {
        const auto* node = machine().files.node(machine(), host_path(windows_path), false);
        return node ? winsim::sddl_of(node->security, parts) : "";
    }
    bool InstallerRan() { return !started("msiexec.exe").empty(); }
    std::string Report() {
        return message_boxes().empty() ? "" : message_boxes()[0].text_utf8();
    }
};

nlohmann::json Running(const std::string& image, const nlohmann::json& openFiles) {
    return {{"image", image}, {"open_files", openFiles}};
}

TEST_F(PreparedMachine, NothingIsUsedThroughWhatAUserLeft) {
    enum class Mode { first, update };
    enum class End { completed, report };
    struct Case {
        const char* name;
        Mode mode;
        nlohmann::json files;  // added to the machine
        nlohmann::json running;  // a process of the machine, or null
        End end;
        std::string report = {};      // what the report says, when there is one,
        std::string reportPath = {};  // before this path (a Windows path)
    };
    const nlohmann::json victim = {{kVictim, "victim"}};
    const Case cases[] = {
        {"links at the new files' names", Mode::first,
         {{kConfig + ".new", {{"symlink", kVictim}}}, {kSettings + ".new", {{"object_link", kVictim}}}},
         nullptr, End::completed, ""},
        {"Sablewick a junction to a folder elsewhere", Mode::first,
         {{kSablewick, {{"junction", kElsewhere}, {"owner", "alice"}}},
          {kElsewhere + "\\Sablewick Remote\\SablewickRemote.cfg", "someone's file"},
          {kElsewhere + "\\Sablewick Remote\\SablewickRemote Msi\\log_v1.0.45.1871.log", "someone's log"}},
         nullptr, End::report, "Unable to use ", kSablewick},
        {"the log folder a junction to a folder elsewhere", Mode::first,
         {{kLogFolder, {{"junction", kElsewhere}, {"owner", "alice"}}},
          {kElsewhere + "\\log_v1.0.45.1871.log", "someone's log"}},
         nullptr, End::report, "Unable to use ", kLogFolder},
        {"the data folder an object-manager link's way to a file elsewhere", Mode::first,
         {{kSablewick, {{"folder", true}, {"owner", "alice"}}},
          {kDataFolder, {{"junction", kElsewhere}, {"owner", "alice"}}},
          {kElsewhere + "\\SablewickRemote.cfg", {{"object_link", kVictim}}}},
         nullptr, End::report, "Unable to use ", kDataFolder},
        {"the log's name a link to a file", Mode::first,
         {{kMsiLog, {{"symlink", kVictim}}}}, nullptr, End::completed, ""},
        {"the log's name a second name of a file", Mode::first,
         {{kMsiLog, {{"hardlink", kVictim}}}}, nullptr, End::completed, ""},
        {"update, the configuration a link to a file the user cannot read", Mode::update,
         {{kConfig, {{"symlink", kSecret}}}, {kSecret, {{"text", "secret"}, {"sddl", "O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)"}}}},
         nullptr, End::completed, ""},
        {"update, the configuration a second name of a file the user cannot read", Mode::update,
         {{kConfig, {{"hardlink", kSecret}}}, {kSecret, {{"text", "secret"}, {"sddl", "O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)"}}}},
         nullptr, End::completed, ""},
        {"update, the configuration a link to a pipe", Mode::update,
         {{kConfig, {{"symlink", "C:\\Users\\alice\\pipe"}}}, {"C:\\Users\\alice\\pipe", {{"fifo", true}}}},
         nullptr, End::completed, ""},
        {"update, the configuration a link to an endless file", Mode::update,
         {{kConfig, {{"symlink", "/dev/zero"}}}}, nullptr, End::completed, ""},
        {"update while the service holds its configuration, shared for writing", Mode::update, {},
         Running("SablewickRemote.exe", {{{"path", kConfig}, {"access", {"read", "write"}}, {"share", {"read", "write"}}}}),
         End::completed, ""},
        {"reinstallation, the configuration held by a reader that shares only reading", Mode::first, {},
         Running("viewer.exe", {{{"path", kConfig}, {"share", {"read"}}}}), End::report,
         "cannot remove: The process cannot access the file because it is being used by another process [",
         kConfig},
        {"reinstallation, the settings file read-only", Mode::first,
         {{kSettings, {{"text", kInstalledSettings}, {"read_only", true}}}}, nullptr, End::report,
         "cannot remove: Access is denied [", kSettings},
        {"an empty folder at the configuration's name", Mode::first, {{kConfig, {{"folder", true}}}}, nullptr,
         End::completed, ""},
        {"another run writing the new configuration", Mode::first, {{kConfig + ".new", "being written"}},
         Running("SablewickAgentSetup.exe",
                 {{{"path", kConfig + ".new"}, {"access", {"write"}}, {"share", nlohmann::json::array()}}}),
         End::completed, ""},
        {"a read-only leftover new file", Mode::first,
         {{kConfig + ".new", {{"text", "left over"}, {"read_only", true}}}}, nullptr, End::completed, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        nlohmann::json p = profile();
        // The agent's files as an earlier installation left them, where
        // its folders are not links of the case's own.
        const bool linkedFolder = c.files.contains(kSablewick) || c.files.contains(kDataFolder);
        if (!linkedFolder) {
            p["files"][kConfig] = kUsersConfig;
            p["files"][kSettings] = kInstalledSettings;
        }
        p["files"].update(victim);
        if (!c.files.is_null()) p["files"].update(c.files);
        if (!c.running.is_null()) p["processes"]["running"].push_back(c.running);
        reset(p);
        const auto outside = Outside();
        const auto agentBefore = AgentFiles();

        const int result = install({/*silent*/ false, c.mode == Mode::update, false, std::nullopt});

        const auto outsideAfter = Outside();
        for (const auto& [path, digest] : outsideAfter) {
            const auto before = outside.find(path);
            EXPECT_TRUE(before != outside.end() && before->second == digest) << "changed or new: " << path;
        }
        for (const auto& [path, digest] : outside) EXPECT_TRUE(outsideAfter.count(path)) << "gone: " << path;
        // What the run wrote in the agent's folders holds nothing of
        // anybody else's.
        for (const auto& [path, bytes] : AgentFiles()) {
            const auto before = agentBefore.find(path);
            if (before != agentBefore.end() && before->second == bytes) continue;
            EXPECT_EQ(bytes.find("victim"), std::string::npos) << path;
            EXPECT_EQ(bytes.find("secret"), std::string::npos) << path;
        }
        if (c.end == End::completed) {
            EXPECT_EQ(result, 0) << Report();
            EXPECT_TRUE(message_boxes().empty()) << Report();
            EXPECT_TRUE(InstallerRan());
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(host_path(kMsiLog))));
        } else {
            EXPECT_NE(result, 0);
            EXPECT_NE(Report().find(c.report + host_path(c.reportPath).string()), std::string::npos)
                << Report();
            EXPECT_FALSE(InstallerRan());
            // The file that could not be replaced is as it was; a refused
            // folder stops the run before anything is written.
            const auto after = AgentFiles();
            const std::string named = host_path(c.reportPath).string();
            if (agentBefore.count(named)) {
                EXPECT_EQ(after.count(named) ? after.at(named) : "", agentBefore.at(named));
            } else {
                EXPECT_EQ(after, agentBefore);
            }
        }
        EXPECT_TRUE(temp_packages().empty());
        expect_no_leaks();
    }
}

// An update over the running service's configuration, which it holds but
// lets others write: the user's text comes back with the installer's line,
// written in place.
TEST_F(PreparedMachine, ConfigurationHeldForWritingIsWrittenBackInPlace) {
    nlohmann::json p = profile();
    p["files"][kConfig] = kUsersConfig;
    p["files"][kSettings] = kInstalledSettings;
    p["processes"]["running"].push_back(
        Running("SablewickRemote.exe",
                {{{"path", kConfig}, {"access", {"read", "write"}}, {"share", {"read", "write"}}}}));
    reset(p);
    EXPECT_EQ(install({false, /*update*/ true, false, std::nullopt}), 0);
    EXPECT_EQ(read_file(kConfig), "# mine\r\ntray-port=27015\r\nkey = user\r\n");
    expect_no_leaks();
}

// The agent's folders belong to administrators, whoever made them: made by
// the run, made by a user before it, or inherited from an older
// installation with the application-data folder's rights (users may add
// files and folders there). Users can read what is in them, and change
// nothing.
TEST_F(PreparedMachine, AgentFoldersBelongToAdministrators) {
    constexpr ACCESS_MASK kChange = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE
                                    | WRITE_DAC | WRITE_OWNER | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA;
    const struct {
        const char* name;
        nlohmann::json files;
        bool made;  // the folders are made or re-secured by the run, with its own descriptor
    } cases[] = {
        {"none there", nlohmann::json::object(), true},
        {"made by a user", {{kSablewick, {{"folder", true}, {"owner", "alice"}}},
                            {kDataFolder, {{"folder", true}, {"owner", "alice"}}},
                            {kLogFolder, {{"folder", true}, {"owner", "alice"}}}},
         true},
        // Only the top one needs securing; the ones below then inherit its.
        {"made by an older installation", {{kLogFolder, {{"folder", true}}}, {kConfig, kUsersConfig}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        nlohmann::json p = profile();
        if (!c.files.is_null()) p["files"].update(c.files);
        reset(p);
        const winsim::Actor user{machine().security.identity(winsim::TokenKind::standard_user, "alice"),
                                 "alice"};
        EXPECT_EQ(install(), 0) << Report();
        EXPECT_EQ(Dacl(kSablewick, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION), kAgentSddl);
        for (const std::string& path : {kSablewick, kDataFolder, kLogFolder, kConfig, kSettings}) {
            SCOPED_TRACE(path);
            const std::string owner = Dacl(path, OWNER_SECURITY_INFORMATION);
            EXPECT_TRUE(owner == "O:BA" || owner == "O:SY") << owner;
            const ACCESS_MASK granted = machine().files.granted(machine(), user, host_path(path).string(), false);
            EXPECT_EQ(granted & kChange, 0u) << std::hex << granted;
            EXPECT_NE(granted & FILE_READ_DATA, 0u) << std::hex << granted;
            if (c.made && path != kConfig && path != kSettings) {
                EXPECT_EQ(Dacl(path, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION), kAgentSddl);
            }
        }
        expect_no_leaks();
    }
}

// A standard user's program that tries to swap the package as soon as it
// appears in the temporary folder, and again after every file operation of
// the program: until the installer has ended, every attempt is refused, and
// the installer reads the program's own package.
TEST_F(PreparedMachine, PackageSwappedAsSoonAsItAppears) {
    for (const char* action : {"replace", "overwrite", "delete"}) {
        SCOPED_TRACE(action);
        nlohmann::json p = profile();
        p["processes"]["running"].push_back(
            {{"image", "Swapper.exe"},
             {"user", "alice"},
             {"token", "standard_user"},
             {"watch", {{"folder", kTempFolder}, {"pattern", "sablewick_remote_*.msi"}, {"action", action},
                        {"text", "not the agent's package"}}}});
        reset(p);
        EXPECT_EQ(install(), 0) << Report();
        const auto installer = started("msiexec.exe");
        ASSERT_EQ(installer.size(), 1u);
        EXPECT_EQ(installer[0]->details["package_is_embedded"], true) << installer[0]->details.dump();
        const auto swapper = machine().processes.running(machine(), "Swapper.exe");
        ASSERT_EQ(swapper.size(), 1u);
        EXPECT_FALSE(swapper[0]->details["attempts"].empty());
        const std::uint64_t installerEnd = *installer[0]->end_ms;
        for (const auto& attempt : swapper[0]->details["attempts"])
            if (attempt["clock_ms"].get<std::uint64_t>() <= installerEnd) {
                EXPECT_NE(attempt["result"], 0) << attempt.dump();
            }
        expect_no_leaks();
    }
}

}  // namespace
}  // namespace install_test
