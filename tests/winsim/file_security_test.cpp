// Security descriptors of files as Windows keeps them: the binary forms and
// SDDL the advapi32 functions read and write, what Windows gives its own
// folders, what a new file or folder inherits, the access checks every
// file call meets, and Get/SetSecurityInfo on handles.
#include "support/machine_fixture.h"

#include "platform/winsim/api_support.h"
#include "platform/winsim/security_descriptors.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

using winsim::TokenKind;
using winsim::test::MachineTest;

const std::string kChecks = "C:\\ProgramData\\Checks";
const std::string kProgramDataSddl =
    "O:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)(A;CI;"
    "DCLCRPCR;;;BU)";
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr SECURITY_INFORMATION kOwnerAndDacl = OWNER_SECURITY_INFORMATION
                                               | DACL_SECURITY_INFORMATION;

class FileSecurity : public MachineTest {
protected:
    std::wstring W(const std::string& windows) const {
        return winsim::from_utf8(host_path(windows).string());
    }
    std::string Alice() { return machine().security.account_sid("alice")->text(); }
    HANDLE Open(const std::string& windows, DWORD access) {
        return CreateFileW(W(windows).c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    }
    // The owner and DACL of what is at |windows|, read as the program would.
    std::string Sddl(const std::string& windows) {
        HANDLE h = Open(windows, READ_CONTROL);
        EXPECT_NE(h, INVALID_HANDLE_VALUE) << windows;
        PSECURITY_DESCRIPTOR sd = nullptr;
        EXPECT_EQ(GetSecurityInfo(h, SE_FILE_OBJECT, kOwnerAndDacl, nullptr, nullptr, nullptr,
                                  nullptr, &sd),
                  static_cast<DWORD>(ERROR_SUCCESS));
        CloseHandle(h);
        LPWSTR text = nullptr;
        EXPECT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
            sd, SDDL_REVISION_1, kOwnerAndDacl, &text, nullptr));
        std::string out = text ? winsim::to_utf8(text) : std::string();
        LocalFree(text);
        LocalFree(sd);
        return out;
    }
    // A self-relative descriptor from SDDL, in a LocalAlloc block.
    PSECURITY_DESCRIPTOR Descriptor(const std::string& sddl) {
        PSECURITY_DESCRIPTOR sd = nullptr;
        EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            winsim::from_utf8(sddl).c_str(), SDDL_REVISION_1, &sd, nullptr));
        return sd;
    }
};

TEST_F(FileSecurity, SddlAndTheBinaryFormsAgree) {
    const std::string alice = Alice();
    const struct {
        std::string in, out;
        SECURITY_DESCRIPTOR_CONTROL control;
        DWORD aces;  // MAXDWORD: no DACL; 0xFFFFFFFE: a null DACL
    } cases[] = {
        {kProgramDataSddl, kProgramDataSddl,
         SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED, 5},
        {"O:" + alice + "D:(D;;GW;;;WD)(A;ID;FR;;;S-1-5-21-1-2-3-1001)",
         "O:" + alice + "D:(D;;GW;;;WD)(A;ID;FR;;;S-1-5-21-1-2-3-1001)",
         SE_SELF_RELATIVE | SE_DACL_PRESENT, 2},
        {"D:(A;CI;0x116;;;BU)(A;;0x100116;;;AU)(A;;RCSDWDWO;;;CO)",
         "D:(A;CI;DCLCRPCR;;;BU)(A;;0x100116;;;AU)(A;;SDRCWDWO;;;CO)",
         SE_SELF_RELATIVE | SE_DACL_PRESENT, 3},
        {"D:NO_ACCESS_CONTROL", "D:NO_ACCESS_CONTROL", SE_SELF_RELATIVE | SE_DACL_PRESENT,
         0xFFFFFFFEu},
        {"O:BA", "O:BA", SE_SELF_RELATIVE, MAXDWORD},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        PSECURITY_DESCRIPTOR sd = Descriptor(c.in);
        ASSERT_NE(sd, nullptr);
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ASSERT_TRUE(GetSecurityDescriptorControl(sd, &control, &revision));
        EXPECT_EQ(revision, 1u);
        EXPECT_EQ(control, c.control);
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted));
        EXPECT_EQ(present != FALSE, c.aces != MAXDWORD);
        if (c.aces == 0xFFFFFFFEu) {
            EXPECT_EQ(dacl, nullptr);
        }
        if (present && dacl) {
            ACL_SIZE_INFORMATION size{};
            ASSERT_TRUE(GetAclInformation(dacl, &size, sizeof size, AclSizeInformation));
            EXPECT_EQ(size.AceCount, c.aces);
            EXPECT_EQ(size.AclBytesFree, 0u);
            EXPECT_EQ(size.AclBytesInUse, dacl->AclSize);
        }
        LPWSTR text = nullptr;
        ULONG length = 0;
        ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
            sd, SDDL_REVISION_1, kOwnerAndDacl, &text, &length));
        EXPECT_EQ(winsim::to_utf8(text), c.out);
        EXPECT_EQ(length, c.out.size() + 1);
        EXPECT_EQ(LocalFree(text), nullptr);
        EXPECT_EQ(LocalFree(sd), nullptr);
    }

    // The owner is a SID in the descriptor's own memory.
    PSECURITY_DESCRIPTOR sd = Descriptor("O:SYD:");
    PSID owner = nullptr;
    BOOL defaulted = TRUE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(sd, &owner, &defaulted));
    BYTE system[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof system;
    ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size));
    EXPECT_TRUE(EqualSid(owner, system));
    EXPECT_FALSE(defaulted);
    LocalFree(sd);

    const struct {
        const char* sddl;
        DWORD revision, error;
    } bad[] = {
        {"D:(X;;FA;;;SY)", SDDL_REVISION_1, ERROR_INVALID_PARAMETER},
        {"D:(A;;FA;;;SY", SDDL_REVISION_1, ERROR_INVALID_PARAMETER},
        {"D:(A;XX;FA;;;SY)", SDDL_REVISION_1, ERROR_INVALID_PARAMETER},
        {"D:(A;;FA;;;ZZ)", SDDL_REVISION_1, ERROR_NONE_MAPPED},
        {"O:SY", 2, ERROR_UNKNOWN_REVISION},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(b.sddl);
        PSECURITY_DESCRIPTOR none = nullptr;
        EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            winsim::from_utf8(b.sddl).c_str(), b.revision, &none, nullptr));
        EXPECT_EQ(GetLastError(), b.error);
    }
    expect_no_leaks();
}

TEST_F(FileSecurity, AnAclBuiltByHand) {
    BYTE users[SECURITY_MAX_SID_SIZE], admins[SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    EXPECT_FALSE(CreateWellKnownSid(WinBuiltinUsersSid, nullptr, nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, 16u);
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &size));
    size = sizeof admins;
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size));
    EXPECT_TRUE(IsValidSid(users));
    EXPECT_EQ(GetLengthSid(users), 16u);
    EXPECT_FALSE(EqualSid(users, admins));

    alignas(4) BYTE buffer[64];
    auto* acl = reinterpret_cast<PACL>(buffer);
    ASSERT_TRUE(InitializeAcl(acl, sizeof(ACL) + 2 * 24, ACL_REVISION));
    ASSERT_TRUE(AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                                      FILE_ALL_ACCESS, admins));
    EXPECT_FALSE(AddAccessAllowedAceEx(acl, ACL_REVISION, 0x80, FILE_GENERIC_READ, users));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
    // An ACE copied to the front with AddAce.
    LPVOID first = nullptr;
    ASSERT_TRUE(GetAce(acl, 0, &first));
    BYTE copy[24];
    std::memcpy(copy, first, sizeof copy);
    reinterpret_cast<ACCESS_ALLOWED_ACE*>(copy)->Mask = FILE_GENERIC_READ;
    ASSERT_TRUE(AddAce(acl, ACL_REVISION, 0, copy, sizeof copy));
    EXPECT_FALSE(AddAccessAllowedAceEx(acl, ACL_REVISION, 0, FILE_GENERIC_READ, users));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALLOTTED_SPACE_EXCEEDED));
    EXPECT_FALSE(GetAce(acl, 2, &first));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    ACL_SIZE_INFORMATION info{};
    ASSERT_TRUE(GetAclInformation(acl, &info, sizeof info, AclSizeInformation));
    EXPECT_EQ(info.AceCount, 2u);
    EXPECT_EQ(info.AclBytesInUse, 56u);
    EXPECT_EQ(info.AclBytesFree, 0u);
    std::vector<winsim::Ace> aces;
    ASSERT_TRUE(winsim::aces_at(acl, aces));
    EXPECT_EQ(aces[0].mask, FILE_GENERIC_READ);
    EXPECT_EQ(aces[1].mask, FILE_ALL_ACCESS);
    EXPECT_EQ(aces[1].flags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    expect_no_leaks();
}

// Windows' folders carry the descriptors it gives them; what is made in
// them inherits by the ACE inheritance rules, CREATOR OWNER standing for the
// creator's default owner.
TEST_F(FileSecurity, WhatFoldersHaveAndWhatNewObjectsInherit) {
    const std::string alice = Alice();
    const std::string ti = winsim::sids::trusted_installer().text();
    EXPECT_EQ(Sddl("C:\\ProgramData"), kProgramDataSddl);
    EXPECT_EQ(Sddl("C:\\Users\\alice"),
              "O:" + alice + "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + alice + ")");
    EXPECT_EQ(Sddl("C:\\Program Files").substr(0, ti.size() + 2), "O:" + ti);
    EXPECT_EQ(Sddl("C:\\").substr(0, 12), "O:SYD:PAI(A;");

    const std::string inheritedByFile =
        "D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;FA;;;%)(A;ID;0x1200a9;;;BU)";
    const std::string inheritedByFolder =
        "D:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;ID;FA;;;%)(A;OICIIOID;GA;;;CO)(A;OICIID;"
        "0x1200a9;;;BU)"
        "(A;CIID;DCLCRPCR;;;BU)";
    const struct {
        TokenKind token;
        bool folder;
        const char* sddl;  // given by the creator, or null
        std::string owner, expected;
    } cases[] = {
        {TokenKind::elevated_administrator, false, nullptr, "BA", inheritedByFile},
        {TokenKind::local_system, false, nullptr, "SY", inheritedByFile},
        {TokenKind::standard_user, false, nullptr, alice, inheritedByFile},
        {TokenKind::standard_user, true, nullptr, alice, inheritedByFolder},
        {TokenKind::elevated_administrator, true, nullptr, "BA", inheritedByFolder},
        // Protected: the creator's DACL alone.
        {TokenKind::elevated_administrator, true,
         "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", "BA",
         "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"},
        // Not protected: the creator's ACEs first, then the inherited ones.
        {TokenKind::elevated_administrator, false, "D:(A;;FR;;;WD)", "BA",
         "D:AI(A;;FR;;;WD)(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(winsim::token_kind_name(c.token))
                     + (c.folder ? " folder" : " file")
                     + (c.sddl ? std::string(" ") + c.sddl : std::string()));
        machine().security.process_token = c.token;
        const std::string name = "C:\\ProgramData\\new" + std::to_string(++n);
        PSECURITY_DESCRIPTOR given = c.sddl ? Descriptor(c.sddl) : nullptr;
        SECURITY_ATTRIBUTES sa{sizeof sa, given, FALSE};
        if (c.folder) {
            ASSERT_TRUE(CreateDirectoryW(W(name).c_str(), &sa));
        } else {
            HANDLE h = CreateFileW(W(name).c_str(), GENERIC_WRITE, 0, &sa, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(h, INVALID_HANDLE_VALUE);
            CloseHandle(h);
        }
        if (given) {
            LocalFree(given);
        }
        machine().security.process_token = TokenKind::local_system;  // to read anything
        std::string expected = c.expected;
        const auto mark = expected.find('%');
        if (mark != std::string::npos) expected.replace(mark, 1, c.owner);
        EXPECT_EQ(Sddl(name), "O:" + c.owner + expected);
    }
    expect_no_leaks();
}

// The access check as MS-DTYP describes it, with the rights a folder gives
// over what it holds; no privileges help.
TEST_F(FileSecurity, AccessChecksAsWindowsMakesThem) {
    const std::string alice = Alice();
    const struct {
        const char* what;
        TokenKind token;
        std::string folder, file;  // SDDL; empty: inherited
        DWORD access, error;
    } cases[] = {
        {"a user reads what ProgramData passes on", TokenKind::standard_user, "", "", GENERIC_READ,
         0},
        {"a user may not write it", TokenKind::standard_user, "", "", GENERIC_WRITE,
         ERROR_ACCESS_DENIED},
        {"a deny first wins", TokenKind::standard_user, "", "D:(D;;FW;;;BU)(A;;FA;;;WD)",
         GENERIC_WRITE, ERROR_ACCESS_DENIED},
        {"what it does not deny is granted", TokenKind::standard_user, "",
         "D:(D;;FW;;;BU)(A;;FA;;;WD)", FILE_READ_DATA, 0},
        {"an allow first wins", TokenKind::standard_user, "", "D:(A;;FA;;;WD)(D;;FA;;;BU)",
         GENERIC_WRITE, 0},
        {"the owner may read and change the DACL", TokenKind::standard_user, "",
         "O:" + alice + "D:P", READ_CONTROL | WRITE_DAC, 0},
        {"but nothing more", TokenKind::standard_user, "", "O:" + alice + "D:P", GENERIC_READ,
         ERROR_ACCESS_DENIED},
        {"generic rights are mapped", TokenKind::standard_user, "", "D:P(A;;GR;;;BU)",
         FILE_READ_DATA, 0},
        {"to the file's read rights only", TokenKind::standard_user, "", "D:P(A;;GR;;;BU)",
         FILE_WRITE_DATA, ERROR_ACCESS_DENIED},
        {"an inherit-only ACE grants nothing here", TokenKind::standard_user, "",
         "D:P(A;OICIIO;FA;;;BU)", GENERIC_READ, ERROR_ACCESS_DENIED},
        {"a null DACL grants everything", TokenKind::standard_user, "", "D:NO_ACCESS_CONTROL",
         GENERIC_WRITE, 0},
        {"a filtered administrator meets deny ACEs", TokenKind::filtered_administrator, "",
         "D:P(D;;FA;;;BA)(A;;FA;;;WD)", GENERIC_READ, ERROR_ACCESS_DENIED},
        {"but no allow ACE of Administrators", TokenKind::filtered_administrator, "",
         "D:P(A;;FA;;;BA)", GENERIC_READ, ERROR_ACCESS_DENIED},
        {"an elevated administrator holds no backup privilege", TokenKind::elevated_administrator,
         "", "O:SYD:P(A;;FA;;;SY)", GENERIC_READ, ERROR_ACCESS_DENIED},
        {"local system is SYSTEM", TokenKind::local_system, "", "O:SYD:P(A;;FA;;;SY)", GENERIC_ALL,
         0},
        {"the folder's FILE_DELETE_CHILD gives DELETE", TokenKind::standard_user,
         "D:P(A;OICI;FA;;;BU)", "D:P(A;;FR;;;BU)", DELETE, 0},
        {"and nothing else", TokenKind::standard_user, "D:P(A;OICI;FA;;;BU)", "D:P(A;;FR;;;BU)",
         WRITE_DAC, ERROR_ACCESS_DENIED},
        {"the folder's listing gives FILE_READ_ATTRIBUTES", TokenKind::standard_user,
         "D:P(A;;0x1;;;BU)", "D:P(A;;FA;;;SY)", FILE_READ_ATTRIBUTES, 0},
        {"MAXIMUM_ALLOWED with nothing granted", TokenKind::standard_user, "D:P(A;;FA;;;SY)",
         "D:P(A;;FA;;;SY)", MAXIMUM_ALLOWED, ERROR_ACCESS_DENIED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto p = profile();
        p["security"]["token"] = winsim::token_kind_name(c.token);
        p["files"][kChecks] = {{"folder", true}};
        if (!c.folder.empty()) p["files"][kChecks]["sddl"] = c.folder;
        p["files"][kChecks + "\\f.txt"] = {{"text", "f"}};
        if (!c.file.empty()) p["files"][kChecks + "\\f.txt"]["sddl"] = c.file;
        reset(p);
        HANDLE h = CreateFileW(W(kChecks + "\\f.txt").c_str(), c.access, kShareAll, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.error == 0);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        } else {
            EXPECT_EQ(GetLastError(), c.error);
            EXPECT_FALSE(calls("open").back().args.value("refused", std::string()).empty());
        }
        expect_no_leaks();
    }
}

// Making and removing need the folder's rights or the object's.
TEST_F(FileSecurity, CreatingAndDeletingNeedTheirRights) {
    auto p = profile();
    p["security"]["token"] = "standard_user";
    p["files"]["C:\\ProgramData\\system.txt"] = "s";
    p["files"]["C:\\ProgramData\\Theirs"] = {
        {"folder", true},
        {"sddl", "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"}};
    reset(p);
    // Users may make folders and files in ProgramData itself.
    EXPECT_TRUE(CreateDirectoryW(W("C:\\ProgramData\\Mine").c_str(), nullptr));
    HANDLE top = CreateFileW(W("C:\\ProgramData\\mine.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                             CREATE_NEW, 0, nullptr);
    ASSERT_NE(top, INVALID_HANDLE_VALUE);
    CloseHandle(top);
    // Not in a folder an administrator secured there.
    EXPECT_EQ(CreateFileW(W("C:\\ProgramData\\Theirs\\x.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                          CREATE_NEW, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    // In a folder of its own, anything.
    HANDLE mine = CreateFileW(W("C:\\ProgramData\\Mine\\mine.txt").c_str(), GENERIC_WRITE, 0,
                              nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(mine, INVALID_HANDLE_VALUE);
    CloseHandle(mine);
    EXPECT_TRUE(DeleteFileW(W("C:\\ProgramData\\Mine\\mine.txt").c_str()));
    // What SYSTEM made, a user can neither delete nor replace.
    EXPECT_FALSE(DeleteFileW(W("C:\\ProgramData\\system.txt").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(MoveFileExW(W("C:\\ProgramData\\Mine").c_str(),
                             W("C:\\ProgramData\\system.txt").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    // Nor make a folder in Program Files.
    EXPECT_FALSE(CreateDirectoryW(W("C:\\Program Files\\Planted").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    expect_no_leaks();
}

TEST_F(FileSecurity, GetAndSetSecurityInfoOnHandles) {
    const std::string alice = Alice();
    auto p = profile();
    // A folder a standard user made before the run, and a file in it.
    p["files"][kChecks] = {{"folder", true}, {"owner", "alice"}};
    p["files"][kChecks + "\\planted.txt"] = {{"text", "x"}, {"owner", "alice"}};
    p["files"][kChecks + "\\explicit.txt"] = {
        {"text", "x"}, {"owner", "alice"}, {"sddl", "D:(A;;FA;;;WD)"}};
    reset(p);
    EXPECT_EQ(Sddl(kChecks).substr(0, alice.size() + 2), "O:" + alice);

    PSECURITY_DESCRIPTOR sd = nullptr;
    PACL out = nullptr;
    HANDLE reading = Open(kChecks, READ_CONTROL);
    HANDLE attributes = Open(kChecks + "\\planted.txt", FILE_READ_ATTRIBUTES);
    const struct {
        const char* what;
        DWORD result, error;
    } refused[] = {
        {"GetSecurityInfo without READ_CONTROL",
         GetSecurityInfo(attributes, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                         nullptr, nullptr, &sd),
         ERROR_ACCESS_DENIED},
        {"a DACL without WRITE_DAC",
         SetSecurityInfo(reading, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                         nullptr, nullptr),
         ERROR_ACCESS_DENIED},
        {"an owner without WRITE_OWNER",
         SetSecurityInfo(reading, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, nullptr, nullptr,
                         nullptr, nullptr),
         ERROR_ACCESS_DENIED},
        {"a pointer into no descriptor",
         GetSecurityInfo(reading, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &out,
                         nullptr, nullptr),
         ERROR_INVALID_PARAMETER},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(r.result, r.error);
    }
    EXPECT_EQ(sd, nullptr);
    CloseHandle(attributes);

    // The administrator takes the folder over: owner Administrators and a
    // protected DACL, which the files below inherit from now on.
    HANDLE h = Open(kChecks, READ_CONTROL | WRITE_DAC | WRITE_OWNER);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    const struct {
        WELL_KNOWN_SID_TYPE owner;
        DWORD error;
    } owners[] = {{WinBuiltinUsersSid, ERROR_INVALID_OWNER},
                  {WinLocalSystemSid, ERROR_INVALID_OWNER},
                  {WinBuiltinAdministratorsSid, ERROR_SUCCESS}};
    for (const auto& o : owners) {
        size = sizeof sid;
        ASSERT_TRUE(CreateWellKnownSid(o.owner, nullptr, sid, &size));
        EXPECT_EQ(SetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, sid, nullptr,
                                  nullptr, nullptr),
                  o.error);
    }
    PSECURITY_DESCRIPTOR wanted = Descriptor(
        "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(wanted, &present, &dacl, &defaulted));
    EXPECT_EQ(SetSecurityInfo(h, SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION
                                  | UNPROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, dacl, nullptr),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(SetSecurityInfo(h, SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, dacl, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(h);
    EXPECT_EQ(Sddl(kChecks), "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");
    // Propagated: inherited ACEs replaced, explicit ones kept, owners as they were.
    EXPECT_EQ(Sddl(kChecks + "\\planted.txt"),
              "O:" + alice + "D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)");
    EXPECT_EQ(Sddl(kChecks + "\\explicit.txt"),
              "O:" + alice + "D:AI(A;;FA;;;WD)(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)");

    // Unprotected again, a file takes what its folder passes on after its own.
    h = Open(kChecks + "\\planted.txt", WRITE_DAC);
    PSECURITY_DESCRIPTOR own = Descriptor("D:(A;;FR;;;WD)(A;ID;FA;;;WD)");
    ASSERT_TRUE(GetSecurityDescriptorDacl(own, &present, &dacl, &defaulted));
    EXPECT_EQ(SetSecurityInfo(h, SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, dacl, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(h);
    EXPECT_EQ(Sddl(kChecks + "\\planted.txt"),
              "O:" + alice + "D:AI(A;;FR;;;WD)(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)");
    LocalFree(own);
    LocalFree(wanted);
    CloseHandle(reading);

    // A descriptor not given back is a leak.
    h = Open(kChecks, READ_CONTROL);
    ASSERT_EQ(GetSecurityInfo(h, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &sd),
              static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(h);
    EXPECT_FALSE(winsim::test::NoLeaks(machine()));
    LocalFree(sd);
}

}  // namespace
