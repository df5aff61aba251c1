#include "file_replace.h"

#include "platform/win32.h"

#include "kyv/win/unique_handle.hpp"

#include <boost/format.hpp>
#include <boost/throw_exception.hpp>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace sablewick {

namespace {

// <target>.new, then names of this process's own: a folder or a link that
// someone left at <target>.new must not stop every later run.
constexpr unsigned kNewFileNames = 8;

// WriteFile takes a 32-bit count.
constexpr std::size_t kLargestWrite = 0x40000000;

std::filesystem::path NewFileName(const std::filesystem::path& target, unsigned attempt) {
    std::filesystem::path result = target;
    if (attempt > 0) {
        result += L".";
        result += std::to_wstring(::GetCurrentProcessId());
        result += L"-";
        result += std::to_wstring(attempt);
    }
    result += L".new";
    return result;
}

// Removes a plain file at |name|, the remains of an interrupted run; false
// when something else stands there or the file cannot be removed. A link or
// a folder is not ours to remove, and a link is never followed.
bool ClearStaleNewFile(const std::wstring& name) {
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;  // nothing there, or the create tells
    constexpr DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    if ((attributes & kNotPlain) != 0) return false;
    return ::DeleteFileW(name.c_str()) != FALSE;
}

// Writes all |size| bytes; false on the first failed or empty write.
bool WriteAll(HANDLE file, const char* next, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min(size, kLargestWrite));
        DWORD written = 0;
        if (!::WriteFile(file, next, chunk, &written, nullptr) || written == 0) return false;
        next += written;
        size -= written;
    }
    return true;
}

}  // namespace

void ThrowUnableToCreate(const std::filesystem::path& file, const boost::source_location& where) {
    boost::throw_exception(
        std::runtime_error((boost::format("Unable to create %1%") % file.u8string()).str()), where);
}

void ThrowUnableToWrite(const std::filesystem::path& file, const boost::source_location& where) {
    boost::throw_exception(
        std::runtime_error((boost::format("Unable to write %1%") % file.u8string()).str()), where);
}

std::filesystem::path NewFilePath(const std::filesystem::path& target) { return NewFileName(target, 0); }

Replacement ReplaceWholeFile(const std::filesystem::path& target, const void* data,
                             std::size_t size) {
    for (unsigned attempt = 0; attempt < kNewFileNames; ++attempt) {
        const std::wstring newFile = NewFileName(target, attempt).wstring();
        if (!ClearStaleNewFile(newFile)) continue;

        // Exclusive: fails on anything at the name, a link included, which
        // is never followed. Nobody else may open the file while it is ours.
        HANDLE created = ::CreateFileW(newFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
        // The failure value is Windows' own integer-made handle.
        // NOLINTNEXTLINE(performance-no-int-to-ptr)
        if (created == INVALID_HANDLE_VALUE) {
            // Something appeared there since: try the next name.
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            return Replacement::not_created;
        }
        kyv::win::unique_handle file(created);

        // Flushed before the rename: after a crash the target is the old
        // file or the whole new one, never a renamed file without its bytes.
        const bool written = WriteAll(file.get(), static_cast<const char*>(data), size)
                             && ::FlushFileBuffers(file.get());
        // The handle goes in any case; a failed close may have lost bytes.
        const bool closed = ::CloseHandle(file.release()) != FALSE;
        if (!written || !closed) {
            ::DeleteFileW(newFile.c_str());
            return Replacement::not_written;
        }
        if (!::MoveFileExW(newFile.c_str(), target.wstring().c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            ::DeleteFileW(newFile.c_str());
            return Replacement::not_created;
        }
        return Replacement::done;
    }
    return Replacement::not_created;
}

void ReplaceFileContents(const std::filesystem::path& target, const void* data, std::size_t size) {
    switch (ReplaceWholeFile(target, data, size)) {
    case Replacement::done: return;
    case Replacement::not_created: ThrowUnableToCreate(target, BOOST_CURRENT_LOCATION);
    case Replacement::not_written: ThrowUnableToWrite(target, BOOST_CURRENT_LOCATION);
    }
}

}  // namespace sablewick
