#include "folder_security.h"

#include "plain_file.h"

#include "kyv/win/unique_handle.hpp"
#include "sablewick/util/Win/KyvExcept.hpp"

#include <boost/format.hpp>
#include <boost/throw_exception.hpp>

#include <stdexcept>

namespace sablewick {

namespace fs = std::filesystem;

namespace {

// What lets a holder change a folder or what is in it: add files or folders,
// delete or rename entries, change attributes, the descriptor or the owner.
constexpr ACCESS_MASK kChangeRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_WRITE_EA
                                      | FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | DELETE
                                      | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL
                                      | MAXIMUM_ALLOWED;

// SYSTEM, Administrators and TrustedInstaller (the service that owns
// Windows' own files): the owners and holders of rights trusted here.
class TrustedSids {
public:
    TrustedSids() {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        CheckOSError(::AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0,
                                                0, 0, system_.put()));
        CheckOSError(::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                                administrators_.put()));
        // NT SERVICE\TrustedInstaller: S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464.
        CheckOSError(::AllocateAndInitializeSid(&nt, 6, SECURITY_SERVICE_ID_BASE_RID, 956008885u,
                                                3418522649u, 1831038044u, 1853292631u,
                                                2271478464u, 0, 0, installer_.put()));
    }

    bool Contains(PSID sid) const {
        return ::EqualSid(sid, system_.get()) || ::EqualSid(sid, administrators_.get())
               || ::EqualSid(sid, installer_.get());
    }

private:
    kyv::win::unique_sid system_;
    kyv::win::unique_sid administrators_;
    kyv::win::unique_sid installer_;
};

// Whether an owner other than the trusted ones, or any entry of |dacl|, lets
// someone else change the folder or its entries. Inherit-only entries count:
// they give rights on what will be created inside.
bool LetsOthersIn(PSID owner, PACL dacl, const TrustedSids& trusted) {
    if (owner == nullptr || !trusted.Contains(owner)) return true;
    if (dacl == nullptr) return true;  // a null DACL grants everyone everything
    ACL_SIZE_INFORMATION size{};
    if (!::GetAclInformation(dacl, &size, sizeof(size), AclSizeInformation)) return true;
    for (DWORD i = 0; i < size.AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(dacl, i, &ace)) return true;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        // Entries of the other kinds are not read here, so not trusted either.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return true;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if ((allowed->Mask & kChangeRights) != 0 && !trusted.Contains(&allowed->SidStart))
            return true;
    }
    return false;
}

bool NeedsSecuring(HANDLE folder, const TrustedSids& trusted) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(folder, SE_FILE_OBJECT,
                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                          &dacl, nullptr, &descriptor)
        != ERROR_SUCCESS)
        return true;
    const kyv::win::unique_hlocal release(descriptor);
    return LetsOthersIn(owner, dacl, trusted);
}

// Gives |folder| the owner and DACL of |descriptor|, its DACL protected from
// what the folders above would pass on.
void Secure(HANDLE folder, const fs::path& path, PSECURITY_DESCRIPTOR descriptor) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    CheckOSError(::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted));
    CheckOSError(::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    const DWORD error = ::SetSecurityInfo(
        folder, SE_FILE_OBJECT,
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
        owner, nullptr, dacl, nullptr);
    if (error != ERROR_SUCCESS) ThrowFileError("cannot secure", path, error);
}

[[noreturn]] void ThrowLinkedFolder(const fs::path& folder) {
    boost::throw_exception(
        std::runtime_error(
            (boost::format("Unable to use %1%: it is a link or a junction") % folder.u8string())
                .str()),
        BOOST_CURRENT_LOCATION);
}

}  // namespace

kyv::win::unique_hlocal DescriptorFromSddl(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR made = nullptr;
    CheckOSError(::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                        &made, nullptr));
    return kyv::win::unique_hlocal(made);
}

FolderState SecureFolder(const fs::path& folder, Creation creation) {
    const kyv::win::unique_hlocal descriptor = DescriptorFromSddl(kAgentFolderSddl);

    // A few looks at most: a folder someone made between a look and the
    // creation, or put in the place of the one looked at before it could be
    // secured, is looked at like any other.
    DWORD error = ERROR_ALREADY_EXISTS;
    for (int look = 0; look < 3; ++look) {
        // Reading the descriptor first: a folder of administrators may well
        // not grant them the right to change its owner, and needs no change.
        const Entry entry = OpenEntry(folder, READ_CONTROL, kShareAll);
        switch (entry.kind) {
        case EntryKind::missing: {
            if (creation == Creation::never) return FolderState::missing;
            SECURITY_ATTRIBUTES security{};
            security.nLength = sizeof(security);
            security.lpSecurityDescriptor = descriptor.get();
            if (::CreateDirectoryW(folder.wstring().c_str(), &security)) return FolderState::ready;
            error = ::GetLastError();
            if (error == ERROR_ALREADY_EXISTS) continue;
            if (creation == Creation::wanted) return FolderState::missing;
            ThrowFileError("cannot create directories", folder, error);
        }
        case EntryKind::folder: {
            if (!NeedsSecuring(entry.handle.get(), TrustedSids())) return FolderState::ready;
            // Secured through a handle of its own, which must still be the
            // folder looked at: one swapped in meanwhile is looked at anew.
            const Entry secured =
                OpenEntry(folder, READ_CONTROL | WRITE_DAC | WRITE_OWNER, kShareAll);
            if (secured.kind == EntryKind::unopened)
                ThrowFileError("cannot secure", folder, secured.error);
            if (secured.kind != EntryKind::folder || secured.id != entry.id) continue;
            Secure(secured.handle.get(), folder, descriptor.get());
            return FolderState::ready;
        }
        case EntryKind::unopened: ThrowFileError("cannot secure", folder, entry.error);
        case EntryKind::link:
        case EntryKind::elsewhere: ThrowLinkedFolder(folder);
        case EntryKind::plain_file:
        case EntryKind::other:
            // A file at a folder's name: the paths under it fail on their own.
            return FolderState::not_a_folder;
        }
    }
    ThrowFileError("cannot create directories", folder, error);
}

}  // namespace sablewick
