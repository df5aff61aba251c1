#include "file_replace.h"

#include "kyv/win/unique_handle.hpp"

#include <boost/format.hpp>
#include <boost/throw_exception.hpp>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

namespace sablewick {

namespace fs = std::filesystem;

namespace {

// <target>.new, then names of this process's own: a folder or a link that
// someone left at <target>.new must not stop every later run.
constexpr unsigned kNewFileNames = 8;

// The attributes a replaced file hands on. Read-only is not among them: a
// read-only file is never replaced (Windows refuses), so it never arises.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM
                                  | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

fs::path NewFileName(const fs::path& target, unsigned attempt) {
    fs::path result = target;
    if (attempt > 0) {
        result += L".";
        result += std::to_wstring(::GetCurrentProcessId());
        result += L"-";
        result += std::to_wstring(attempt);
    }
    result += L".new";
    return result;
}

// What stood at the target's name before the replacement, and what it hands
// on to the file that takes its place.
struct OldFile {
    EntryKind kind = EntryKind::missing;
    DWORD attributes = 0;
    FileId id;
    // Only for a plain file whose descriptor could be read: its DACL's own
    // entries (an ACL; empty when there are none) and whether it inherits.
    bool keep = false;
    bool protectedDacl = false;
    std::vector<BYTE> ownEntries;
};

// The DACL entries of |handle|'s file that it does not inherit, and whether
// its DACL is protected; false when the descriptor cannot be read, or the
// DACL is null (which grants everyone everything and is not handed on).
bool ReadOwnEntries(HANDLE handle, OldFile& old) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                          &dacl, nullptr, &descriptor)
        != ERROR_SUCCESS)
        return false;
    const kyv::win::unique_hlocal release(descriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (dacl == nullptr || !::GetSecurityDescriptorControl(descriptor, &control, &revision))
        return false;
    old.protectedDacl = (control & SE_DACL_PROTECTED) != 0;

    ACL_SIZE_INFORMATION size{};
    if (!::GetAclInformation(dacl, &size, sizeof(size), AclSizeInformation)) return false;
    std::vector<const ACE_HEADER*> own;
    DWORD bytes = sizeof(ACL);
    for (DWORD i = 0; i < size.AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(dacl, i, &ace)) return false;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if ((header->AceFlags & INHERITED_ACE) != 0) continue;
        own.push_back(header);
        bytes += header->AceSize;
    }
    if (own.empty() && !old.protectedDacl) return true;  // all inherited: nothing to hand on

    old.ownEntries.assign(bytes, 0);
    auto* acl = reinterpret_cast<PACL>(old.ownEntries.data());
    if (!::InitializeAcl(acl, bytes, dacl->AclRevision)) return false;
    for (const ACE_HEADER* header : own)
        if (!::AddAce(acl, dacl->AclRevision, MAXDWORD, const_cast<ACE_HEADER*>(header),
                      header->AceSize))
            return false;
    return true;
}

OldFile LookAt(const fs::path& target) {
    OldFile old;
    // Reading the descriptor and attributes conflicts with nobody's sharing.
    const Entry entry = OpenEntry(target, READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll);
    old.kind = entry.kind;
    old.attributes = entry.attributes;
    old.id = entry.id;
    if (entry.kind == EntryKind::plain_file) old.keep = ReadOwnEntries(entry.handle.get(), old);
    return old;
}

// Hands |old|'s own DACL entries and attributes on to |file|; false when
// Windows refuses.
bool HandOn(HANDLE file, const OldFile& old) {
    if (old.kind != EntryKind::plain_file) return true;
    bool handedOn = true;
    if (old.keep && !old.ownEntries.empty()) {
        // Unprotected, the new file goes on inheriting from its folder.
        const SECURITY_INFORMATION what =
            DACL_SECURITY_INFORMATION
            | (old.protectedDacl ? PROTECTED_DACL_SECURITY_INFORMATION
                                 : UNPROTECTED_DACL_SECURITY_INFORMATION);
        auto* acl = reinterpret_cast<PACL>(const_cast<BYTE*>(old.ownEntries.data()));
        handedOn = ::SetSecurityInfo(file, SE_FILE_OBJECT, what, nullptr, nullptr, acl, nullptr)
                   == ERROR_SUCCESS;
    }
    FILE_BASIC_INFO basic{};  // times of zero stay as they are
    basic.FileAttributes = old.attributes & kKeptAttributes;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic)) && handedOn;
}

// Clears a finished leftover of an interrupted run at |name|; true when the
// name is free now. Only a plain file of one link goes, through the handle it
// was checked by, read-only or not. What else stands there (a folder, a link,
// a file with a second name) is not ours, and a file another run is still
// writing cannot be opened without sharing: both are left alone.
bool ClearLeftover(const fs::path& name) {
    const Entry entry =
        OpenEntry(name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0);
    if (entry.kind == EntryKind::missing) return true;
    if (entry.kind != EntryKind::plain_file) return false;
    return DeleteByHandle(entry.handle.get(), entry.attributes) == ERROR_SUCCESS;
}

// Removes what stands in the way of the rename: an empty folder (as a
// removal of the name would), or a folder link or junction, itself. A file
// link is replaced by the rename itself. What was reached through a link
// that resolved elsewhere is never acted on: deleting it would delete the
// other place; the rename then fails over a folder and says so.
DWORD ClearTheWay(const fs::path& target, const OldFile& old) {
    const bool folderLike = (old.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!folderLike || (old.kind != EntryKind::folder && old.kind != EntryKind::link))
        return ERROR_SUCCESS;
    const Entry entry = OpenEntry(target, DELETE | FILE_READ_ATTRIBUTES, kShareAll);
    if (entry.kind == EntryKind::missing) return ERROR_SUCCESS;
    if (!entry.handle) return entry.error;
    // Only what was looked at before; anything that took its place since is
    // left to the rename.
    if (entry.kind != old.kind || entry.id != old.id) return ERROR_SUCCESS;
    return DeleteByHandle(entry.handle.get(), 0);
}

// The target written in place, as a program that holds it open lets others
// do: only the plain file that was looked at. ERROR_SUCCESS or the reason.
DWORD WriteInPlace(const fs::path& target, const OldFile& old, const void* data,
                   std::size_t size, bool& touched) {
    const Entry entry = OpenEntry(target, GENERIC_WRITE | FILE_READ_ATTRIBUTES, kShareAll);
    if (entry.kind != EntryKind::plain_file || entry.id != old.id)
        return entry.handle ? ERROR_ACCESS_DENIED : entry.error;
    touched = true;
    if (!WriteAll(entry.handle.get(), {static_cast<const char*>(data), size})
        || !::SetEndOfFile(entry.handle.get()) || !::FlushFileBuffers(entry.handle.get()))
        return ::GetLastError();
    return ERROR_SUCCESS;
}

// Gives the new file behind |file| the target's name. The whole path: a bare
// name would be taken relative to the process's current folder.
DWORD RenameOver(HANDLE file, const fs::path& target) {
    const std::wstring name = target.wstring();
    const DWORD nameBytes = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    // The structure's one character leaves room for the terminating NUL.
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + nameBytes, 0);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = nameBytes;
    std::copy(name.begin(), name.end(), rename->FileName);
    if (!::SetFileInformationByHandle(file, FileRenameInfo, rename,
                                      static_cast<DWORD>(buffer.size())))
        return ::GetLastError();
    return ERROR_SUCCESS;
}

}  // namespace

void ThrowUnableToCreate(const fs::path& file, const boost::source_location& where) {
    boost::throw_exception(
        std::runtime_error((boost::format("Unable to create %1%") % file.u8string()).str()), where);
}

void ThrowUnableToWrite(const fs::path& file, const boost::source_location& where) {
    boost::throw_exception(
        std::runtime_error((boost::format("Unable to write %1%") % file.u8string()).str()), where);
}

fs::path NewFilePath(const fs::path& target) { return NewFileName(target, 0); }

ReplaceResult ReplaceWholeFile(const fs::path& target, const void* data, std::size_t size,
                               PSECURITY_DESCRIPTOR descriptor, bool keepOpen) {
    ReplaceResult result;
    const OldFile old = LookAt(target);

    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof(security);
    security.lpSecurityDescriptor = descriptor;

    kyv::win::unique_handle file;
    for (unsigned attempt = 0; attempt < kNewFileNames && !file; ++attempt) {
        const fs::path name = NewFileName(target, attempt);
        if (!ClearLeftover(name)) continue;
        // Exclusive, and kept open sharing at most reading until it has the
        // target's name: nobody else can write it, delete it, or take it for
        // a leftover meanwhile. A link at the name makes the creation fail
        // and is never followed.
        kyv::win::unique_handle created = FromCreateFile(::CreateFileW(
            name.wstring().c_str(),
            GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES,
            keepOpen ? FILE_SHARE_READ : 0, descriptor != nullptr ? &security : nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!created) {
            // Something appeared there since: try the next name.
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            result.outcome = Replacement::not_created;
            result.error = error;
            return result;
        }
        file = std::move(created);
    }
    if (!file) {
        result.outcome = Replacement::not_created;
        result.error = ERROR_FILE_EXISTS;
        return result;
    }

    // Flushed before the rename: after a crash the target is the old file or
    // the whole new one, never a renamed file without its bytes.
    if (!WriteAll(file.get(), {static_cast<const char*>(data), size})
        || !::FlushFileBuffers(file.get()) || !IdOf(file.get(), result.file)) {
        result.outcome = Replacement::not_written;
        result.error = ::GetLastError();
        DeleteByHandle(file.get(), 0);
        return result;
    }

    // Where the old file's own settings cannot be handed on, writing it in
    // place keeps them, as a plain write would; a rename that Windows refuses
    // because another program holds the file gets the same second chance.
    // Its reason is then the one worth telling: it says who holds the file,
    // or that it is read-only.
    bool triedInPlace = false;
    bool touched = false;
    const auto inPlace = [&]() {
        triedInPlace = true;
        const DWORD error = WriteInPlace(target, old, data, size, touched);
        if (error != ERROR_SUCCESS && !touched) return error;
        DeleteByHandle(file.get(), 0);
        result.outcome = error == ERROR_SUCCESS ? Replacement::done : Replacement::not_written;
        result.file = old.id;
        return error;
    };
    const bool plain = old.kind == EntryKind::plain_file;
    const bool handedOn = descriptor != nullptr || HandOn(file.get(), old);
    DWORD error = ERROR_SUCCESS;
    if (!handedOn && plain) {
        error = inPlace();
        if (touched) {
            result.error = error;
            return result;
        }
    }

    error = ClearTheWay(target, old);
    if (error == ERROR_SUCCESS) error = RenameOver(file.get(), target);
    if (error == ERROR_SUCCESS) {
        result.outcome = Replacement::done;
        if (keepOpen) result.written = std::move(file);
        return result;
    }
    if (!triedInPlace && plain && (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)) {
        error = inPlace();
        if (touched) {
            result.error = error;
            return result;
        }
    }
    DeleteByHandle(file.get(), 0);
    result.outcome = Replacement::not_replaced;
    result.error = error;
    return result;
}

void ReplaceFileContents(const fs::path& target, const void* data, std::size_t size) {
    ThrowIfNotReplaced(target, ReplaceWholeFile(target, data, size));
}

void ThrowIfNotReplaced(const fs::path& target, const ReplaceResult& result) {
    switch (result.outcome) {
    case Replacement::done: return;
    case Replacement::not_created: ThrowUnableToCreate(target, BOOST_CURRENT_LOCATION);
    case Replacement::not_written: ThrowUnableToWrite(target, BOOST_CURRENT_LOCATION);
    case Replacement::not_replaced: ThrowFileError("cannot remove", target, result.error);
    }
}

}  // namespace sablewick
