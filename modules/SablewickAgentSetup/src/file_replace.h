// Replacing a file as a whole: the new bytes go to a new file beside the
// target, which takes the target's place only once it was written and
// flushed. A failure therefore never leaves a cut-off or missing target.
//
// The folders the files live in may hold what other users left there before
// this program ran. Nothing is written, deleted or inspected through a link:
// the new file is created exclusively and renamed through its own handle,
// which no other program can open meanwhile, and what stood at either name
// is looked at and removed only through a handle opened without following it.
// The new file takes over what Windows' ReplaceFileW keeps of the old one: its
// own DACL entries and its attributes.
#pragma once

#include "platform/win32.h"
#include "plain_file.h"

#include "kyv/win/unique_handle.hpp"

#include <boost/assert/source_location.hpp>

#include <cstddef>
#include <filesystem>

namespace sablewick {

// How a replacement ended.
enum class Replacement {
    done,          // the target holds the new bytes
    not_created,   // no new file could be made (see error)
    not_written,   // the bytes could not be written or flushed (see error)
    not_replaced,  // the target could not be replaced: nothing changed (see error)
};

struct ReplaceResult {
    Replacement outcome = Replacement::not_created;
    DWORD error = ERROR_SUCCESS;  // the system's reason when not done
    FileId file;                  // the file now at the target's name, when done
    // With |keepOpen|, when the new file took the target's name: the handle
    // it was written through, which lets others read it but neither write,
    // rename nor delete it.
    kyv::win::unique_handle written;
};

// Replaces |target| by a file holding exactly |size| bytes at |data|. On any
// failure the target is left as it was and the new file is removed.
// |descriptor|, when given, is the new file's security descriptor, and
// nothing of the old file is kept. Where the target cannot be replaced
// because another program holds it open but lets others write, it is written
// in place instead, as a plain write would. An empty folder at the target's
// name is removed, a link there is itself replaced, never followed. With
// |keepOpen| the handle of the new file comes back still open (see
// ReplaceResult). (Not "ReplaceFile": <windows.h> makes that name a macro
// for ReplaceFileW.)
ReplaceResult ReplaceWholeFile(const std::filesystem::path& target, const void* data,
                               std::size_t size, PSECURITY_DESCRIPTOR descriptor = nullptr,
                               bool keepOpen = false);

// The same, throwing for a failure: std::runtime_error "Unable to create %1%"
// when no new file could be made, "Unable to write %1%" when it could not be
// written (%1% the target's path in UTF-8), and the filesystem error of the
// target's removal when it could not be replaced.
void ReplaceFileContents(const std::filesystem::path& target, const void* data, std::size_t size);

// Throws for |result| of a replacement of |target| that did not succeed, as
// ReplaceFileContents does.
void ThrowIfNotReplaced(const std::filesystem::path& target, const ReplaceResult& result);

// Where the new file for |target| is written: <target>.new, or, when
// something that is not a finished leftover of an earlier run stands there
// (a folder, a link, another run's file in the making), a name of this
// process's own, <target>.<process id>-<n>.new.
std::filesystem::path NewFilePath(const std::filesystem::path& target);

// The errors of a file that could not be opened or written, with the path in
// UTF-8, thrown from |where|.
[[noreturn]] void ThrowUnableToCreate(const std::filesystem::path& file,
                                      const boost::source_location& where);
[[noreturn]] void ThrowUnableToWrite(const std::filesystem::path& file,
                                     const boost::source_location& where);

}  // namespace sablewick
