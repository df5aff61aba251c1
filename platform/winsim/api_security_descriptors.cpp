// advapi32: security descriptors, ACLs and SIDs in the caller's memory,
// their SDDL text, and the descriptors of files reached through handles.
// Descriptors and strings handed out are LocalAlloc blocks of the model's
// memory, released with LocalFree and reported as leaks when they are not.
#include "platform/winsim/api_support.h"
#include "platform/winsim/security_descriptors.h"

#include <cstring>
#include <string>
#include <vector>

using winsim::ApiCall;
using winsim::arg;
using winsim::arg_ptr;
using winsim::SecurityDescriptor;

namespace {

constexpr DWORD kAclHeader = sizeof(ACL);

WORD WordAt(const BYTE* p) {
    WORD v;
    std::memcpy(&v, p, 2);
    return v;
}
void PutWord(BYTE* p, WORD v) { std::memcpy(p, &v, 2); }

// The bytes an ACL's ACEs take, walking them; false when they do not fit.
bool AclBytesInUse(const ACL* acl, DWORD& used) {
    const BYTE* b = reinterpret_cast<const BYTE*>(acl);
    used = kAclHeader;
    for (WORD i = 0; i < acl->AceCount; ++i) {
        if (used + sizeof(ACE_HEADER) > acl->AclSize) return false;
        const WORD size = WordAt(b + used + 2);
        if (size < sizeof(ACE_HEADER) || used + size > acl->AclSize) return false;
        used += size;
    }
    return true;
}

bool ValidAcl(const ACL* acl) {
    DWORD used = 0;
    return acl && acl->AclRevision >= ACL_REVISION && acl->AclRevision <= ACL_REVISION_DS
           && acl->AclSize >= kAclHeader && AclBytesInUse(acl, used);
}

// A block of the model's LocalAlloc memory holding |bytes|.
void* LocalCopy(winsim::Machine& m, const void* bytes, std::size_t size, const char* label) {
    void* block = m.memory.allocate(winsim::Memory::Allocator::local, size, false, label);
    if (block) std::memcpy(block, bytes, size);
    return block;
}

// The well-known SIDs CreateWellKnownSid makes.
std::optional<winsim::SidValue> WellKnown(WELL_KNOWN_SID_TYPE type) {
    using winsim::SidValue;
    switch (type) {
        case WinNullSid:
            return SidValue{{0, 0, 0, 0, 0, 0}, {0}};
        case WinWorldSid:
            return winsim::sids::everyone();
        case WinLocalSid:
            return SidValue{{0, 0, 0, 0, 0, 2}, {0}};
        case WinCreatorOwnerSid:
            return winsim::sids::creator_owner();
        case WinCreatorGroupSid:
            return winsim::sids::creator_group();
        case WinInteractiveSid:
            return winsim::sids::interactive();
        case WinAuthenticatedUserSid:
            return winsim::sids::authenticated_users();
        case WinLocalSystemSid:
            return winsim::sids::local_system();
        case WinLocalServiceSid:
            return SidValue::nt({19});
        case WinNetworkServiceSid:
            return SidValue::nt({20});
        case WinBuiltinDomainSid:
            return SidValue::nt({SECURITY_BUILTIN_DOMAIN_RID});
        case WinBuiltinAdministratorsSid:
            return winsim::sids::administrators();
        case WinBuiltinUsersSid:
            return winsim::sids::users();
        case WinBuiltinGuestsSid:
            return SidValue::nt({SECURITY_BUILTIN_DOMAIN_RID, 546});
    }
    return std::nullopt;
}

// A descriptor's parts in caller memory: where its owner and DACL are.
struct Parts {
    BYTE revision = 0;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    PSID owner = nullptr;
    PACL dacl = nullptr;
};
Parts PartsOf(PSECURITY_DESCRIPTOR sd) {
    Parts p;
    const BYTE* b = static_cast<const BYTE*>(sd);
    p.revision = b[0];
    p.control = WordAt(b + 2);
    if (p.control & SE_SELF_RELATIVE) {
        const auto* rel = static_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(sd);
        p.owner = rel->Owner ? const_cast<BYTE*>(b) + rel->Owner : nullptr;
        p.dacl = rel->Dacl ? reinterpret_cast<PACL>(const_cast<BYTE*>(b) + rel->Dacl) : nullptr;
    } else {
        const auto* abs = static_cast<const SECURITY_DESCRIPTOR*>(sd);
        p.owner = abs->Owner;
        p.dacl = abs->Dacl;
    }
    return p;
}

}  // namespace

extern "C" {

BOOL WINAPI EqualSid(PSID pSid1, PSID pSid2) {
    ApiCall call("EqualSid", {{"pSid1", arg_ptr(pSid1)}, {"pSid2", arg_ptr(pSid2)}});
    if (call.fault) return call.fail(FALSE);
    const auto a = winsim::sid_at(pSid1), b = winsim::sid_at(pSid2);
    if (!a || !b) return call.fail(FALSE, ERROR_INVALID_SID);
    call.args["pSid1"] = a->text();
    call.args["pSid2"] = b->text();
    // Unequal SIDs are no failure: the last error says so.
    call.m.set_last_error(ERROR_SUCCESS);
    return call.done(*a == *b ? TRUE : FALSE);
}

BOOL WINAPI IsValidSid(PSID pSid) {
    ApiCall call("IsValidSid", {{"pSid", arg_ptr(pSid)}});
    if (call.fault) return call.fail(FALSE);
    return call.done(winsim::sid_at(pSid) ? TRUE : FALSE);
}

DWORD WINAPI GetLengthSid(PSID pSid) {
    ApiCall call("GetLengthSid", {{"pSid", arg_ptr(pSid)}});
    const auto sid = winsim::sid_at(pSid);
    // The length of something that is no SID is undefined; the model says 0.
    if (!sid) return call.fail(DWORD{0}, ERROR_INVALID_SID);
    return call.done(static_cast<DWORD>(8 + 4 * sid->sub_authorities.size()));
}

BOOL WINAPI CreateWellKnownSid(WELL_KNOWN_SID_TYPE WellKnownSidType, PSID DomainSid, PSID pSid,
                               DWORD* cbSid) {
    ApiCall call("CreateWellKnownSid",
                 {{"WellKnownSidType", static_cast<int>(WellKnownSidType)},
                  {"DomainSid", arg_ptr(DomainSid)},
                  {"pSid", arg_ptr(pSid)},
                  {"cbSid", cbSid ? nlohmann::json(*cbSid) : nlohmann::json()}});
    if (call.fault) return call.fail(FALSE);
    if (!cbSid) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    const auto sid = WellKnown(WellKnownSidType);
    if (!sid) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    const auto bytes = winsim::sid_bytes(*sid);
    const DWORD needed = static_cast<DWORD>(bytes.size());
    if (!pSid || *cbSid < needed) {
        *cbSid = needed;
        return call.fail(FALSE, ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(pSid, bytes.data(), bytes.size());
    *cbSid = needed;
    call.args["sid"] = sid->text();
    return call.done(TRUE);
}

BOOL WINAPI InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision) {
    ApiCall call(
        "InitializeAcl",
        {{"pAcl", arg_ptr(pAcl)}, {"nAclLength", nAclLength}, {"dwAclRevision", dwAclRevision}});
    if (call.fault) return call.fail(FALSE);
    if (!pAcl || (dwAclRevision != ACL_REVISION && dwAclRevision != ACL_REVISION_DS)
        || nAclLength > 0xFFFF)
        return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    if (nAclLength < kAclHeader) return call.fail(FALSE, ERROR_INSUFFICIENT_BUFFER);
    pAcl->AclRevision = static_cast<BYTE>(dwAclRevision);
    pAcl->Sbz1 = 0;
    pAcl->AclSize = static_cast<WORD>(nAclLength & ~3u);  // whole DWORDs
    pAcl->AceCount = 0;
    pAcl->Sbz2 = 0;
    return call.done(TRUE);
}

BOOL WINAPI AddAce(PACL pAcl, DWORD dwAceRevision, DWORD dwStartingAceIndex, LPVOID pAceList,
                   DWORD nAceListLength) {
    ApiCall call("AddAce", {{"pAcl", arg_ptr(pAcl)},
                            {"dwAceRevision", dwAceRevision},
                            {"dwStartingAceIndex", dwStartingAceIndex},
                            {"pAceList", arg_ptr(pAceList)},
                            {"nAceListLength", nAceListLength}});
    if (call.fault) return call.fail(FALSE);
    if (!ValidAcl(pAcl) || !pAceList) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    // The ACEs in the list: whole ones only.
    const BYTE* list = static_cast<const BYTE*>(pAceList);
    DWORD at = 0;
    WORD count = 0;
    while (at < nAceListLength) {
        if (at + sizeof(ACE_HEADER) > nAceListLength)
            return call.fail(FALSE, ERROR_INVALID_PARAMETER);
        const WORD size = WordAt(list + at + 2);
        if (size < sizeof(ACE_HEADER) || at + size > nAceListLength)
            return call.fail(FALSE, ERROR_INVALID_PARAMETER);
        at += size;
        ++count;
    }
    DWORD used = 0;
    AclBytesInUse(pAcl, used);
    if (used + nAceListLength > pAcl->AclSize) return call.fail(FALSE, ERROR_INSUFFICIENT_BUFFER);
    // Where the ACE of index dwStartingAceIndex begins; past the end: at the end.
    BYTE* b = reinterpret_cast<BYTE*>(pAcl);
    DWORD insert = kAclHeader;
    for (DWORD i = 0; i < dwStartingAceIndex && i < pAcl->AceCount; ++i)
        insert += WordAt(b + insert + 2);
    std::memmove(b + insert + nAceListLength, b + insert, used - insert);
    std::memcpy(b + insert, list, nAceListLength);
    pAcl->AceCount = static_cast<WORD>(pAcl->AceCount + count);
    if (dwAceRevision > pAcl->AclRevision) pAcl->AclRevision = static_cast<BYTE>(dwAceRevision);
    return call.done(TRUE);
}

BOOL WINAPI AddAccessAllowedAceEx(PACL pAcl, DWORD dwAceRevision, DWORD AceFlags, DWORD AccessMask,
                                  PSID pSid) {
    ApiCall call("AddAccessAllowedAceEx", {{"pAcl", arg_ptr(pAcl)},
                                           {"dwAceRevision", dwAceRevision},
                                           {"AceFlags", AceFlags},
                                           {"AccessMask", AccessMask},
                                           {"pSid", arg_ptr(pSid)}});
    if (call.fault) return call.fail(FALSE);
    if (!ValidAcl(pAcl)) return call.fail(FALSE, ERROR_INVALID_ACL);
    if (AceFlags & ~static_cast<DWORD>(VALID_INHERIT_FLAGS))
        return call.fail(FALSE, ERROR_INVALID_FLAGS);
    const auto sid = winsim::sid_at(pSid);
    if (!sid) return call.fail(FALSE, ERROR_INVALID_SID);
    call.args["pSid"] = sid->text();
    const auto bytes = winsim::sid_bytes(*sid);
    const DWORD size = static_cast<DWORD>(8 + bytes.size());
    DWORD used = 0;
    AclBytesInUse(pAcl, used);
    if (used + size > pAcl->AclSize) return call.fail(FALSE, ERROR_ALLOTTED_SPACE_EXCEEDED);
    BYTE* ace = reinterpret_cast<BYTE*>(pAcl) + used;
    ace[0] = ACCESS_ALLOWED_ACE_TYPE;
    ace[1] = static_cast<BYTE>(AceFlags);
    PutWord(ace + 2, static_cast<WORD>(size));
    std::memcpy(ace + 4, &AccessMask, 4);
    std::memcpy(ace + 8, bytes.data(), bytes.size());
    ++pAcl->AceCount;
    if (dwAceRevision > pAcl->AclRevision) pAcl->AclRevision = static_cast<BYTE>(dwAceRevision);
    return call.done(TRUE);
}

BOOL WINAPI GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce) {
    ApiCall call("GetAce", {{"pAcl", arg_ptr(pAcl)}, {"dwAceIndex", dwAceIndex}});
    if (call.fault) return call.fail(FALSE);
    if (!ValidAcl(pAcl) || !pAce || dwAceIndex >= pAcl->AceCount)
        return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    BYTE* b = reinterpret_cast<BYTE*>(pAcl);
    DWORD at = kAclHeader;
    for (DWORD i = 0; i < dwAceIndex; ++i) at += WordAt(b + at + 2);
    *pAce = b + at;
    call.args["pAce"] = arg_ptr(*pAce);
    return call.done(TRUE);
}

BOOL WINAPI GetAclInformation(PACL pAcl, LPVOID pAclInformation, DWORD nAclInformationLength,
                              ACL_INFORMATION_CLASS dwAclInformationClass) {
    ApiCall call("GetAclInformation",
                 {{"pAcl", arg_ptr(pAcl)},
                  {"nAclInformationLength", nAclInformationLength},
                  {"dwAclInformationClass", static_cast<int>(dwAclInformationClass)}});
    if (call.fault) return call.fail(FALSE);
    if (!ValidAcl(pAcl) || !pAclInformation) return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    if (dwAclInformationClass == AclRevisionInformation) {
        if (nAclInformationLength < sizeof(DWORD))
            return call.fail(FALSE, ERROR_INSUFFICIENT_BUFFER);
        const DWORD revision = pAcl->AclRevision;
        std::memcpy(pAclInformation, &revision, sizeof revision);
        return call.done(TRUE);
    }
    if (dwAclInformationClass != AclSizeInformation)
        return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    if (nAclInformationLength < sizeof(ACL_SIZE_INFORMATION))
        return call.fail(FALSE, ERROR_INSUFFICIENT_BUFFER);
    DWORD used = 0;
    AclBytesInUse(pAcl, used);
    ACL_SIZE_INFORMATION info{pAcl->AceCount, used, pAcl->AclSize - used};
    std::memcpy(pAclInformation, &info, sizeof info);
    call.args["pAclInformation"] = {{"AceCount", info.AceCount},
                                    {"AclBytesInUse", info.AclBytesInUse},
                                    {"AclBytesFree", info.AclBytesFree}};
    return call.done(TRUE);
}

BOOL WINAPI GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                         PSECURITY_DESCRIPTOR_CONTROL pControl,
                                         LPDWORD lpdwRevision) {
    ApiCall call("GetSecurityDescriptorControl",
                 {{"pSecurityDescriptor", arg_ptr(pSecurityDescriptor)}});
    if (call.fault) return call.fail(FALSE);
    if (!pSecurityDescriptor || !pControl || !lpdwRevision)
        return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    const Parts parts = PartsOf(pSecurityDescriptor);
    *lpdwRevision = parts.revision;
    if (parts.revision != SECURITY_DESCRIPTOR_REVISION)
        return call.fail(FALSE, ERROR_UNKNOWN_REVISION);
    *pControl = parts.control;
    call.args["pControl"] = parts.control;
    return call.done(TRUE);
}

BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID* pOwner,
                                       LPBOOL lpbOwnerDefaulted) {
    ApiCall call("GetSecurityDescriptorOwner",
                 {{"pSecurityDescriptor", arg_ptr(pSecurityDescriptor)}});
    if (call.fault) return call.fail(FALSE);
    if (!pSecurityDescriptor || !pOwner || !lpbOwnerDefaulted)
        return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    const Parts parts = PartsOf(pSecurityDescriptor);
    if (parts.revision != SECURITY_DESCRIPTOR_REVISION)
        return call.fail(FALSE, ERROR_UNKNOWN_REVISION);
    *pOwner = parts.owner;
    *lpbOwnerDefaulted = (parts.control & SE_OWNER_DEFAULTED) ? TRUE : FALSE;
    if (const auto sid = winsim::sid_at(parts.owner)) call.args["pOwner"] = sid->text();
    return call.done(TRUE);
}

BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                      LPBOOL lpbDaclPresent, PACL* pDacl, LPBOOL lpbDaclDefaulted) {
    ApiCall call("GetSecurityDescriptorDacl",
                 {{"pSecurityDescriptor", arg_ptr(pSecurityDescriptor)}});
    if (call.fault) return call.fail(FALSE);
    if (!pSecurityDescriptor || !lpbDaclPresent || !pDacl || !lpbDaclDefaulted)
        return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    const Parts parts = PartsOf(pSecurityDescriptor);
    if (parts.revision != SECURITY_DESCRIPTOR_REVISION)
        return call.fail(FALSE, ERROR_UNKNOWN_REVISION);
    *lpbDaclPresent = (parts.control & SE_DACL_PRESENT) ? TRUE : FALSE;
    // Absent, the other two are left as they were.
    if (*lpbDaclPresent) {
        *pDacl = parts.dacl;
        *lpbDaclDefaulted = (parts.control & SE_DACL_DEFAULTED) ? TRUE : FALSE;
    }
    call.args["lpbDaclPresent"] = *lpbDaclPresent;
    return call.done(TRUE);
}

BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(
    LPCWSTR StringSecurityDescriptor, DWORD StringSDRevision,
    PSECURITY_DESCRIPTOR* SecurityDescriptor, PULONG SecurityDescriptorSize) {
    ApiCall call("ConvertStringSecurityDescriptorToSecurityDescriptorW",
                 {{"StringSecurityDescriptor", arg(StringSecurityDescriptor)},
                  {"StringSDRevision", StringSDRevision}});
    if (call.fault) return call.fail(FALSE);
    if (!StringSecurityDescriptor || !SecurityDescriptor)
        return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    if (StringSDRevision != SDDL_REVISION_1) return call.fail(FALSE, ERROR_UNKNOWN_REVISION);
    DWORD error = 0;
    const auto sd = winsim::descriptor_from_sddl(winsim::to_utf8(StringSecurityDescriptor), error);
    if (!sd) return call.fail(FALSE, error);
    const auto bytes = winsim::self_relative_bytes(*sd);
    void* block = LocalCopy(call.m, bytes.data(), bytes.size(), "security descriptor");
    if (!block) return call.fail(FALSE, ERROR_NOT_ENOUGH_MEMORY);
    *SecurityDescriptor = block;
    if (SecurityDescriptorSize) *SecurityDescriptorSize = static_cast<ULONG>(bytes.size());
    call.args["SecurityDescriptor"] = arg_ptr(block);
    return call.done(TRUE);
}

BOOL WINAPI ConvertSecurityDescriptorToStringSecurityDescriptorW(
    PSECURITY_DESCRIPTOR SecurityDescriptor, DWORD RequestedStringSDRevision,
    SECURITY_INFORMATION SecurityInformation, LPWSTR* StringSecurityDescriptor,
    PULONG StringSecurityDescriptorLen) {
    ApiCall call("ConvertSecurityDescriptorToStringSecurityDescriptorW",
                 {{"SecurityDescriptor", arg_ptr(SecurityDescriptor)},
                  {"RequestedStringSDRevision", RequestedStringSDRevision},
                  {"SecurityInformation", SecurityInformation}});
    if (call.fault) return call.fail(FALSE);
    if (!SecurityDescriptor || !StringSecurityDescriptor)
        return call.fail(FALSE, ERROR_INVALID_PARAMETER);
    if (RequestedStringSDRevision != SDDL_REVISION_1)
        return call.fail(FALSE, ERROR_UNKNOWN_REVISION);
    const auto sd = winsim::descriptor_at(SecurityDescriptor);
    if (!sd) return call.fail(FALSE, ERROR_INVALID_SECURITY_DESCR);
    const std::wstring text = winsim::from_utf8(winsim::sddl_of(*sd, SecurityInformation));
    // The length counts the terminating null.
    auto* block = static_cast<WCHAR*>(
        LocalCopy(call.m, text.c_str(), (text.size() + 1) * sizeof(WCHAR), "SDDL text"));
    if (!block) return call.fail(FALSE, ERROR_NOT_ENOUGH_MEMORY);
    *StringSecurityDescriptor = block;
    if (StringSecurityDescriptorLen)
        *StringSecurityDescriptorLen = static_cast<ULONG>(text.size() + 1);
    call.args["StringSecurityDescriptor"] = winsim::to_utf8(text);
    return call.done(TRUE);
}

DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE ObjectType,
                             SECURITY_INFORMATION SecurityInfo, PSID* ppsidOwner, PSID* ppsidGroup,
                             PACL* ppDacl, PACL* ppSacl,
                             PSECURITY_DESCRIPTOR* ppSecurityDescriptor) {
    ApiCall call("GetSecurityInfo", {{"handle", arg_ptr(handle)},
                                     {"ObjectType", static_cast<int>(ObjectType)},
                                     {"SecurityInfo", SecurityInfo}});
    if (call.fault) return call.fail_status(call.fault->error);
    auto& m = call.m;
    if (ObjectType != SE_FILE_OBJECT) {
        m.kernel.problems.push_back("GetSecurityInfo: only SE_FILE_OBJECT is modelled");
        return call.fail_status(DWORD{ERROR_NOT_SUPPORTED});
    }
    auto file = m.handles.object<winsim::OpenFile>(handle, "file");
    if (!file) return call.fail_status(DWORD{ERROR_INVALID_HANDLE});
    if ((ppsidOwner || ppsidGroup || ppDacl || ppSacl) && !ppSecurityDescriptor)
        return call.fail_status(DWORD{ERROR_INVALID_PARAMETER});
    // The SACL needs ACCESS_SYSTEM_SECURITY, which needs a privilege no
    // handle of the program's has; the rest needs READ_CONTROL.
    if (SecurityInfo & SACL_SECURITY_INFORMATION)
        return call.fail_status(DWORD{ERROR_ACCESS_DENIED});
    if ((SecurityInfo
         & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION))
        && !(file->access() & READ_CONTROL))
        return call.fail_status(DWORD{ERROR_ACCESS_DENIED});
    const winsim::FileNode* node = m.files.node_of_descriptor(m, file->fd());
    SecurityDescriptor asked;
    if (node) {
        if (SecurityInfo & OWNER_SECURITY_INFORMATION) asked.owner = node->security.owner;
        if (SecurityInfo & GROUP_SECURITY_INFORMATION) asked.group = node->security.group;
        if (SecurityInfo & DACL_SECURITY_INFORMATION) {
            // An object without a DACL answers with a null one.
            asked.dacl_present = true;
            asked.dacl_null = node->security.dacl_null || !node->security.dacl_present;
            asked.dacl = node->security.dacl;
            asked.control = node->security.control;
        }
    }
    const auto bytes = winsim::self_relative_bytes(asked);
    void* block = ppSecurityDescriptor ? LocalCopy(m, bytes.data(), bytes.size(), "GetSecurityInfo")
                                       : nullptr;
    if (ppSecurityDescriptor && !block) return call.fail_status(DWORD{ERROR_NOT_ENOUGH_MEMORY});
    if (ppSecurityDescriptor) *ppSecurityDescriptor = block;
    const Parts parts = block ? PartsOf(block) : Parts{};
    const auto* rel = static_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(block);
    if (ppsidOwner) *ppsidOwner = parts.owner;
    if (ppsidGroup)
        *ppsidGroup = rel && rel->Group ? static_cast<BYTE*>(block) + rel->Group : nullptr;
    if (ppDacl) *ppDacl = parts.dacl;
    if (ppSacl) *ppSacl = nullptr;
    call.args["sddl"] = winsim::sddl_of(asked, SecurityInfo);
    call.args["ppSecurityDescriptor"] = arg_ptr(block);
    return call.done(DWORD{ERROR_SUCCESS});
}

DWORD WINAPI SetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE ObjectType,
                             SECURITY_INFORMATION SecurityInfo, PSID psidOwner, PSID psidGroup,
                             PACL pDacl, PACL pSacl) {
    ApiCall call("SetSecurityInfo", {{"handle", arg_ptr(handle)},
                                     {"ObjectType", static_cast<int>(ObjectType)},
                                     {"SecurityInfo", SecurityInfo},
                                     {"psidOwner", arg_ptr(psidOwner)},
                                     {"psidGroup", arg_ptr(psidGroup)},
                                     {"pDacl", arg_ptr(pDacl)},
                                     {"pSacl", arg_ptr(pSacl)}});
    if (call.fault) return call.fail_status(call.fault->error);
    auto& m = call.m;
    if (ObjectType != SE_FILE_OBJECT) {
        m.kernel.problems.push_back("SetSecurityInfo: only SE_FILE_OBJECT is modelled");
        return call.fail_status(DWORD{ERROR_NOT_SUPPORTED});
    }
    auto file = m.handles.object<winsim::OpenFile>(handle, "file");
    if (!file) return call.fail_status(DWORD{ERROR_INVALID_HANDLE});
    if ((SecurityInfo & PROTECTED_DACL_SECURITY_INFORMATION)
        && (SecurityInfo & UNPROTECTED_DACL_SECURITY_INFORMATION))
        return call.fail_status(DWORD{ERROR_INVALID_PARAMETER});
    // Setting the SACL needs SE_SECURITY_NAME, which the program never enables.
    if (SecurityInfo & (SACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION))
        return call.fail_status(DWORD{ERROR_PRIVILEGE_NOT_HELD});
    winsim::FileNode* node = m.files.node_of_descriptor(m, file->fd());
    if (!node) return call.fail_status(DWORD{ERROR_INVALID_HANDLE});
    SecurityDescriptor sd = node->security;
    const winsim::Identity who = m.security.program_identity();

    if (SecurityInfo & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION)) {
        if (!(file->access() & WRITE_OWNER)) return call.fail_status(DWORD{ERROR_ACCESS_DENIED});
        if (SecurityInfo & OWNER_SECURITY_INFORMATION) {
            const auto owner = winsim::sid_at(psidOwner);
            if (!owner) return call.fail_status(DWORD{ERROR_INVALID_PARAMETER});
            call.args["psidOwner"] = owner->text();
            // Without SeRestorePrivilege: the token's user or an owner group of it.
            if (!who.may_own(*owner)) return call.fail_status(DWORD{ERROR_INVALID_OWNER});
            sd.owner = *owner;
        }
        if (SecurityInfo & GROUP_SECURITY_INFORMATION) {
            const auto group = winsim::sid_at(psidGroup);
            if (!group) return call.fail_status(DWORD{ERROR_INVALID_PARAMETER});
            sd.group = *group;
        }
    }
    bool propagate = false;
    if (SecurityInfo & DACL_SECURITY_INFORMATION) {
        if (!(file->access() & WRITE_DAC)) return call.fail_status(DWORD{ERROR_ACCESS_DENIED});
        std::vector<winsim::Ace> aces;
        if (pDacl && !winsim::aces_at(pDacl, aces))
            return call.fail_status(DWORD{ERROR_INVALID_ACL});
        const bool protect = (SecurityInfo & PROTECTED_DACL_SECURITY_INFORMATION) != 0
                             || (!(SecurityInfo & UNPROTECTED_DACL_SECURITY_INFORMATION)
                                 && sd.is_protected());
        sd.dacl_present = true;
        sd.dacl_null = pDacl == nullptr;
        sd.dacl = aces;
        if (protect) {
            sd.control = SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED;
        } else {
            // Its own ACEs, then what the folder passes on.
            sd.control = SE_DACL_AUTO_INHERITED;
            winsim::reinherit(sd, m.files.parent_security(m, file->current_path()),
                              file->kind() == winsim::OpenFile::Kind::folder);
        }
        // A handle opened for MAXIMUM_ALLOWED does not propagate.
        propagate = file->kind() == winsim::OpenFile::Kind::folder && !file->maximum_allowed;
    }
    call.args["sddl"] = winsim::sddl_of(sd);
    m.files.set_security(m, file->current_path(), false, sd, propagate);
    return call.done(DWORD{ERROR_SUCCESS});
}

}  // extern "C"
