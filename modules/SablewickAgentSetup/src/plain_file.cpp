#include "plain_file.h"

#include "kyv/except/windows_category.hpp"

#include <boost/throw_exception.hpp>

#include <algorithm>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

namespace sablewick {

namespace fs = std::filesystem;

namespace {

// Reads never ask for more at once than a 32-bit count can say.
constexpr DWORD kReadChunk = 1u << 20;

// WriteFile takes a 32-bit count.
constexpr std::size_t kLargestWrite = 0x40000000;

// The path Windows resolved |handle| to, links and junctions followed.
bool FinalPath(HANDLE handle, std::wstring& path) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(handle, buffer.data(),
                                                         static_cast<DWORD>(buffer.size()),
                                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return false;
        // Too small a buffer: the answer is the size needed, its NUL included.
        if (length >= buffer.size()) {
            buffer.resize(length);
            continue;
        }
        path.assign(buffer.data(), length);
        return true;
    }
}

// Whether |handle| reached its file by |path| itself: the file's final path
// is its folder's final path and its own name. A file reached through a link
// somewhere else (an object-manager link behind a junction resolves like one,
// and is no reparse point) has another folder or name. The folder is resolved
// too, so that a data folder moved elsewhere by its administrator still fits.
bool AtItsName(HANDLE handle, const fs::path& path) {
    std::wstring file;
    if (!FinalPath(handle, file)) return false;
    const kyv::win::unique_handle folder = FromCreateFile(
        ::CreateFileW(path.parent_path().wstring().c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    std::wstring folderPath;
    if (!folder || !FinalPath(folder.get(), folderPath)) return false;
    const std::wstring expected = (fs::path(folderPath) / path.filename()).wstring();
    return ::CompareStringOrdinal(file.c_str(), -1, expected.c_str(), -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

kyv::win::unique_handle FromCreateFile(HANDLE handle) {
    // The failure value is Windows' own integer-made handle.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    return kyv::win::unique_handle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

bool IdOf(HANDLE handle, FileId& id) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) return false;
    id.volume = info.dwVolumeSerialNumber;
    id.high = info.nFileIndexHigh;
    id.low = info.nFileIndexLow;
    return true;
}

Entry OpenEntry(const fs::path& path, DWORD access, DWORD share) {
    Entry entry;
    // Backup semantics only so that a folder opens at all; no privilege is
    // enabled, so it grants nothing more.
    // Reading its attributes is what telling its kind takes; that right
    // conflicts with nobody's sharing.
    entry.handle = FromCreateFile(::CreateFileW(
        path.wstring().c_str(), access | FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!entry.handle) {
        entry.error = ::GetLastError();
        entry.kind = entry.error == ERROR_FILE_NOT_FOUND || entry.error == ERROR_PATH_NOT_FOUND
                         ? EntryKind::missing
                         : EntryKind::unopened;
        return entry;
    }

    entry.kind = EntryKind::other;
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(entry.handle.get()) != FILE_TYPE_DISK
        || !::GetFileInformationByHandle(entry.handle.get(), &info))
        return entry;
    entry.attributes = info.dwFileAttributes;
    entry.id = FileId{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        entry.kind = EntryKind::link;
        return entry;
    }
    if (!AtItsName(entry.handle.get(), path)) {
        entry.kind = EntryKind::elsewhere;
        return entry;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        entry.kind = EntryKind::folder;
    // A second name is a way in that this program does not control.
    else if (info.nNumberOfLinks == 1)
        entry.kind = EntryKind::plain_file;
    return entry;
}

kyv::win::unique_handle OpenSameFile(const fs::path& path, DWORD access, DWORD share,
                                     const FileId& id) {
    kyv::win::unique_handle handle = FromCreateFile(::CreateFileW(
        path.wstring().c_str(), access | FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FileId found;
    if (handle && (!IdOf(handle.get(), found) || found != id)) handle.reset();
    return handle;
}

bool WriteAll(HANDLE handle, std::string_view bytes) {
    const char* next = bytes.data();
    std::size_t size = bytes.size();
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min(size, kLargestWrite));
        DWORD written = 0;
        if (!::WriteFile(handle, next, chunk, &written, nullptr)) return false;
        if (written == 0) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        next += written;
        size -= written;
    }
    return true;
}

bool HoldsExactly(HANDLE handle, std::string_view bytes) {
    const char* expected = bytes.data();
    const std::size_t size = bytes.size();
    std::vector<char> chunk(kReadChunk);
    std::size_t compared = 0;
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(handle, chunk.data(), kReadChunk, &read, nullptr)) return false;
        if (read == 0) return compared == size;
        if (read > size - compared || std::memcmp(chunk.data(), expected + compared, read) != 0)
            return false;
        compared += read;
    }
}

std::optional<std::string> ReadPlainFile(const fs::path& path, std::size_t limit) {
    // Shared as the standard library's streams share, so that a program that
    // holds the file for writing does not make it unreadable.
    const Entry entry = OpenEntry(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (entry.kind != EntryKind::plain_file) return std::nullopt;

    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(entry.handle.get(), &size) || size.QuadPart < 0
        || static_cast<unsigned long long>(size.QuadPart) > limit)
        return std::nullopt;

    // Read up to one byte past the limit: a file that grew meanwhile past it
    // counts as too large rather than cut off.
    std::string bytes;
    std::vector<char> chunk(kReadChunk);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(entry.handle.get(), chunk.data(), kReadChunk, &read, nullptr))
            return std::nullopt;
        if (read == 0) return bytes;
        if (bytes.size() + read > limit) return std::nullopt;
        bytes.append(chunk.data(), read);
    }
}

DWORD DeleteByHandle(HANDLE handle, DWORD attributes) {
    // Windows refuses to delete a read-only file; the attribute goes first,
    // through the same handle, and comes back if the file stays.
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    FILE_BASIC_INFO basic{};  // times of zero stay as they are
    if (readOnly) {
        basic.FileAttributes = attributes & ~FILE_ATTRIBUTE_READONLY;
        if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        if (!::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic)))
            return ::GetLastError();
    }
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                     sizeof(disposition)))
        return ERROR_SUCCESS;
    const DWORD error = ::GetLastError();
    if (readOnly) {
        basic.FileAttributes = attributes;
        ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic));
    }
    return error;
}

void ThrowFileError(const char* operation, const fs::path& file, DWORD error) {
    const std::error_code code(static_cast<int>(error), kyv::except::windows_category());
    boost::throw_exception(fs::filesystem_error(operation, file, code));
}

}  // namespace sablewick
