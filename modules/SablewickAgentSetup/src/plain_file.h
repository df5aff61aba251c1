// Files in folders other users may have been in before this program: what
// stands at a name is opened without following a link at its last element,
// looked at through the handle, and used only through that handle. A name
// checked and then used again by name could meanwhile lead elsewhere.
#pragma once

#include "platform/win32.h"

#include "kyv/win/unique_handle.hpp"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace sablewick {

// What a rename keeps and a new file never has: the file's number on its
// volume.
struct FileId {
    DWORD volume = 0;
    DWORD high = 0;
    DWORD low = 0;

    bool operator==(const FileId& other) const {
        return volume == other.volume && high == other.high && low == other.low;
    }
    bool operator!=(const FileId& other) const { return !(*this == other); }
};

enum class EntryKind {
    missing,     // nothing at the name
    plain_file,  // a disk file with one link, reached by the name it was opened by
    folder,      // a folder, reached by its name
    link,        // a reparse point (a link or junction): the handle is the link itself
    elsewhere,   // reached through something that resolved to another place (an
                 // object-manager link behind a junction, which is no reparse
                 // point): the handle is that other file or folder
    other,       // a file with a second hard link, a pipe or a device
    unopened,    // something Windows would not open (see Entry::error)
};

// The sharing of a look that no other program's open refuses.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// CreateFileW's result as an owner: empty for INVALID_HANDLE_VALUE, with
// GetLastError left as CreateFileW set it.
kyv::win::unique_handle FromCreateFile(HANDLE handle);

// Whatever stands at a name, opened for the access asked.
struct Entry {
    EntryKind kind = EntryKind::missing;
    kyv::win::unique_handle handle;  // open unless missing or unopened
    DWORD attributes = 0;
    FileId id;
    DWORD error = ERROR_SUCCESS;  // why it is missing or unopened
};

// Opens what stands at |path| with |access| and |share| (a folder too),
// never through a link at its last element, and tells what it is. Only a
// plain file, a folder or a link may be acted on through the handle: what
// is "elsewhere" is not what the name names.
Entry OpenEntry(const std::filesystem::path& path, DWORD access, DWORD share);

// A handle with |access| and |share| to the file at |path| when it is still
// the file |id| (opened without following a link at its last element); none
// otherwise. For a file this program made itself, its identity says all
// that its name cannot.
kyv::win::unique_handle OpenSameFile(const std::filesystem::path& path, DWORD access, DWORD share,
                                     const FileId& id);

// Writes all of |bytes| at the file pointer of |handle|; false
// on the first failed or empty write (GetLastError tells why).
bool WriteAll(HANDLE handle, std::string_view bytes);

// Whether the file behind |handle| (opened for reading, at its start) holds
// exactly |bytes|.
bool HoldsExactly(HANDLE handle, std::string_view bytes);

// The bytes of |path| when it is a plain file of at most |limit| bytes;
// nothing for anything else. Never follows a link and never waits on a pipe.
std::optional<std::string> ReadPlainFile(const std::filesystem::path& path, std::size_t limit);

// Deletes the file, empty folder or link |handle| was opened for (with
// DELETE, and FILE_WRITE_ATTRIBUTES when |attributes| hold the read-only
// attribute, which goes first). The error Windows gives, or ERROR_SUCCESS.
DWORD DeleteByHandle(HANDLE handle, DWORD attributes);

// The identity of the file behind |handle|; false when it cannot be read.
bool IdOf(HANDLE handle, FileId& id);

// The standard library's filesystem error for |operation| ("cannot remove")
// on |file|, carrying the system's reason |error| in the windows category.
[[noreturn]] void ThrowFileError(const char* operation, const std::filesystem::path& file,
                                 DWORD error);

}  // namespace sablewick
