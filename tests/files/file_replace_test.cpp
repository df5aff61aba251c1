// Replacing a file through a new file renamed over it: what may stand at the
// new file's name and at the target's, what the replaced file hands on, and
// the calls of the replacement failing.
#include "file_replace.h"
#include "files_fixture.h"

#include <set>
#include <stdexcept>

namespace files_test {
namespace {

const std::string kFolder = "C:\\ProgramData\\data";
const std::string kTarget = kFolder + "\\SablewickRemote.cfg";
const std::string kNewFile = kTarget + ".new";
const std::string kVictim = "C:\\Users\\alice\\victim.txt";
const std::string kOld = "old text, longer than the new one\r\n";
const std::string kNew = "tray-port = 1\r\n";

class FileReplace : public FilesTest {
protected:
    // The default machine with the target's folder and |files| added.
    void Machine(const nlohmann::json& files, const nlohmann::json& running = nullptr) {
        nlohmann::json p = profile();
        p["files"][kFolder] = {{"folder", true}};
        p["files"][kVictim] = "victim";
        p["files"].update(files);
        if (!running.is_null()) p["processes"]["running"].push_back(running);
        reset(p);
    }
    void Replace() {
        sablewick::ReplaceFileContents(host_path(kTarget), kNew.data(), kNew.size());
    }
    std::set<std::string> Names() {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(host_path(kFolder)))
            names.insert(e.path().filename().string());
        return names;
    }
    // The DACL of the file at |windows_path| in SDDL, and its attributes.
    std::string Dacl(const std::string& windows_path) {
        const auto* node = machine().files.node(machine(), host_path(windows_path), false);
        return node ? winsim::sddl_of(node->security, DACL_SECURITY_INFORMATION) : "";
    }
    DWORD Attributes(const std::string& windows_path) {
        return GetFileAttributesW(winsim::from_utf8(host_path(windows_path).string()).c_str());
    }
};

// A finished leftover of an interrupted run at the new file's name is
// cleared, read-only or not; nothing else there is touched, nor what it leads
// to: another name is taken.
TEST_F(FileReplace, WhateverStandsAtTheNewFilesName) {
    const struct {
        const char* name;
        nlohmann::json planted;   // at <target>.new
        nlohmann::json running;   // a process of the machine, or null
        bool stays;
    } cases[] = {
        {"nothing", nullptr, nullptr, false},
        {"stale file", "stale", nullptr, false},
        {"read-only stale file", {{"text", "stale"}, {"read_only", true}}, nullptr, false},
        {"folder", {{"folder", true}}, nullptr, true},
        {"symbolic link to a file", {{"symlink", kVictim}}, nullptr, true},
        {"dangling link", {{"symlink", "C:\\Users\\alice\\gone.txt"}}, nullptr, true},
        {"junction", {{"junction", "C:\\Users\\alice"}}, nullptr, true},
        {"object-manager link to a file", {{"object_link", kVictim}}, nullptr, true},
        {"second name of a file", {{"hardlink", kVictim}}, nullptr, true},
        // Another run writing it holds it open, sharing nothing.
        {"another run's file in the making", "being written",
         {{"image", "SablewickAgentSetup.exe"},
          {"open_files", {{{"path", kNewFile}, {"access", {"write"}}, {"share", nlohmann::json::array()}}}}},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        nlohmann::json files = {{kTarget, kOld}};
        if (!c.planted.is_null()) files[kNewFile] = c.planted;
        Machine(files, c.running);
        const auto planted = fs::symlink_status(host_path(kNewFile)).type();

        Replace();

        EXPECT_EQ(read_file(kTarget), kNew);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(host_path(kTarget))));
        std::set<std::string> expected = {"SablewickRemote.cfg"};
        if (c.stays) expected.insert("SablewickRemote.cfg.new");
        EXPECT_EQ(Names(), expected);
        if (c.stays) {
            EXPECT_EQ(fs::symlink_status(host_path(kNewFile)).type(), planted);
        }
        if (c.running.is_object()) {
            EXPECT_EQ(read_file(kNewFile), "being written");
        }
        EXPECT_EQ(read_file(kVictim), "victim");
        expect_no_leaks();
    }
}

// What stands at the target's name: a link is itself replaced, never
// followed; an empty folder goes as a removal would take it; a file that
// another program holds but lets others write is written in place, as a
// plain write would be; what cannot be replaced stays as it was and the
// error names the removal, the path and the system's reason.
TEST_F(FileReplace, WhateverStandsAtTheTarget) {
    const struct {
        const char* name;
        nlohmann::json target;
        nlohmann::json running;
        const char* error;  // the start of the message after "cannot remove: ", or null
    } cases[] = {
        {"symbolic link to a file", {{"symlink", kVictim}}, nullptr, nullptr},
        // (An object-manager link is reached only through a junction, and
        // the agent's folders are never entered through one.)
        {"second name of a file", {{"hardlink", kVictim}}, nullptr, nullptr},
        {"empty folder", {{"folder", true}}, nullptr, nullptr},
        {"held, shared for reading and writing", kOld,
         {{"image", "SablewickRemote.exe"},
          {"open_files", {{{"path", kTarget}, {"access", {"read", "write"}}, {"share", {"read", "write"}}}}}},
         nullptr},
        {"held, shared for reading", kOld,
         {{"image", "SablewickRemote.exe"}, {"open_files", {{{"path", kTarget}, {"share", {"read"}}}}}},
         "The process cannot access the file because it is being used by another process"},
        {"read-only", {{"text", kOld}, {"read_only", true}}, nullptr, "Access is denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Machine({{kTarget, c.target}}, c.running);
        const std::string error = ErrorOf<std::runtime_error>([&] { Replace(); });
        if (c.error) {
            EXPECT_EQ(error, std::string("filesystem error: cannot remove: ") + c.error + " ["
                                 + host_path(kTarget).string() + "]");
            EXPECT_EQ(read_file(kTarget), kOld);
        } else {
            EXPECT_EQ(error, "");
            EXPECT_EQ(read_file(kTarget), kNew);
        }
        EXPECT_EQ(Names(), std::set<std::string>{"SablewickRemote.cfg"});
        EXPECT_EQ(read_file(kVictim), "victim");
        expect_no_leaks();
    }
}

// The new file takes over what ReplaceFileW keeps of the old one: its own
// DACL entries, whether its DACL is protected, and its attributes; what it
// inherited it inherits anew from its folder.
TEST_F(FileReplace, ReplacedFileHandsOnItsOwnSettings) {
    const std::string folder = "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    const struct {
        const char* name;
        const char* sddl;  // the old file's
        bool hidden;
        std::string dacl;  // the new file's
    } cases[] = {
        {"locked down", "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)", true, "D:PAI(A;;FA;;;SY)(A;;FA;;;BA)"},
        {"one entry of its own", "O:BAD:(A;;FR;;;S-1-5-21-1-2-3-1001)", false,
         "D:AI(A;;FR;;;S-1-5-21-1-2-3-1001)(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)"},
        {"all inherited", nullptr, false, "D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        nlohmann::json old = {{"text", kOld}, {"hidden", c.hidden}};
        if (c.sddl) old["sddl"] = c.sddl;
        Machine({{kFolder, {{"folder", true}, {"sddl", folder}}}, {kTarget, old}});
        Replace();
        EXPECT_EQ(read_file(kTarget), kNew);
        EXPECT_EQ(Dacl(kTarget), c.dacl);
        EXPECT_EQ((Attributes(kTarget) & FILE_ATTRIBUTE_HIDDEN) != 0, c.hidden);
        expect_no_leaks();
    }
}

// Whichever call fails, the target is either as it was, with the error that
// says why, or whole new; no new file is left.
TEST_F(FileReplace, FailingCallLeavesTheTargetWhole) {
    const struct {
        const char* call;
        DWORD error;
        const char* message;  // null: the replacement still goes through
    } cases[] = {
        {"CreateFileW", ERROR_ACCESS_DENIED, "Unable to create "},
        {"WriteFile", ERROR_DISK_FULL, "Unable to write "},
        {"FlushFileBuffers", ERROR_DISK_FULL, "Unable to write "},
        // The C library operations the calls are made of, failing below them.
        {"write", ERROR_DISK_FULL, "Unable to write "},
        // A rename refused, or the old file's settings not handed on: the
        // target is written in place, which keeps them. (Refused too, the
        // removal of the new file leaves it, with this process's id.)
        {"rename", ERROR_SHARING_VIOLATION, nullptr},
        {"SetFileInformationByHandle", ERROR_ACCESS_DENIED, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.call) + " " + std::to_string(c.error));
        Machine({{kTarget, kOld}, {kNewFile, "stale"}});
        machine().faults.fail(c.call, c.error);

        const std::string error = ErrorOf<std::runtime_error>([&] { Replace(); });

        EXPECT_EQ(error, c.message ? c.message + host_path(kTarget).string() : "");
        EXPECT_EQ(read_file(kTarget), c.message ? kOld : kNew);
        const bool removalRefused = std::string(c.call) == "SetFileInformationByHandle";
        for (const auto& name : Names())
            EXPECT_TRUE(name == "SablewickRemote.cfg" || name == "SablewickRemote.cfg.new"
                        || (removalRefused && name == "SablewickRemote.cfg.4242-1.new"))
                << name;
        expect_no_leaks();
    }
}

// A read-only leftover whose deletion Windows refuses after its attribute
// was cleared is left as it was, read-only; the replacement takes another
// name and goes through.
TEST_F(FileReplace, LeftoverThatCannotGoKeepsItsReadOnlyAttribute) {
    Machine({{kTarget, kOld}, {kNewFile, {{"text", "stale"}, {"read_only", true}}}});
    // The first call clears the attribute, the second asks for the deletion.
    machine().faults.fail("SetFileInformationByHandle", ERROR_ACCESS_DENIED, 2);
    Replace();
    EXPECT_EQ(read_file(kTarget), kNew);
    EXPECT_EQ(read_file(kNewFile), "stale");
    EXPECT_NE(Attributes(kNewFile) & FILE_ATTRIBUTE_READONLY, 0u);
    expect_no_leaks();
}

// The calls as Windows gets them: the new file created exclusively without
// sharing, every byte written and flushed, and renamed through its own
// handle to the target's whole path, replacing it; nothing by name.
TEST_F(FileReplace, CallsAsWindowsGetsThem) {
    Machine({{kTarget, kOld}});
    const std::string bytes(3 * 1024 * 1024 + 5, 'x');
    const fs::path target = host_path(kTarget);
    sablewick::ReplaceFileContents(target, bytes.data(), bytes.size());
    EXPECT_EQ(read_file(kTarget), bytes);

    std::vector<winsim::CallRecord> creates;
    for (const auto& c : calls("CreateFileW"))
        if (c.args["dwCreationDisposition"] == CREATE_NEW) creates.push_back(c);
    ASSERT_EQ(creates.size(), 1u);
    EXPECT_EQ(creates[0].args["lpFileName"], target.string() + ".new");
    EXPECT_EQ(creates[0].args["dwShareMode"], 0);
    EXPECT_NE(creates[0].args["dwDesiredAccess"].get<DWORD>() & (GENERIC_WRITE | DELETE), 0u);
    std::uint64_t written = 0;
    for (const auto& w : calls("WriteFile")) written += w.args["lpNumberOfBytesWritten"].get<std::uint64_t>();
    EXPECT_EQ(written, bytes.size());
    EXPECT_EQ(machine().log.count("FlushFileBuffers"), 1u);
    bool renamed = false;
    for (const auto& c : calls("SetFileInformationByHandle")) {
        const auto& info = c.args["lpFileInformation"];
        if (!info.is_object() || !info.contains("FileName")) continue;
        EXPECT_EQ(info["FileName"], target.string());
        EXPECT_EQ(info["ReplaceIfExists"], true);
        renamed = true;
    }
    EXPECT_TRUE(renamed);
    EXPECT_EQ(machine().log.count("MoveFileExW"), 0u);
    EXPECT_EQ(machine().log.count("DeleteFileW"), 0u);
    expect_no_leaks();
}

}  // namespace
}  // namespace files_test
