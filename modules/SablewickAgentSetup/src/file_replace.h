// Replacing a file as a whole: the new bytes go to a new file beside the
// target, which is renamed over the target only once it was written, flushed
// and closed. A failure therefore never leaves a cut-off or missing target.
//
// The new file is created exclusively and never through a link: the agent's
// data folder lets ordinary users create files, and an elevated program that
// opened whatever stands at a predictable name could be made to write
// wherever a planted link points.
#pragma once

#include <boost/assert/source_location.hpp>

#include <cstddef>
#include <filesystem>

namespace sablewick {

// How a replacement ended.
enum class Replacement {
    done,         // the target holds the new bytes
    not_created,  // no new file could be made, or it could not take the target's place
    not_written,  // the new file could not be written, flushed or closed
};

// Replaces |target| by a file holding exactly |size| bytes at |data|. On any
// failure the target is left as it was and the new file is removed.
Replacement ReplaceFile(const std::filesystem::path& target, const void* data, std::size_t size);

// The same, throwing std::runtime_error "Unable to create %1%" for
// not_created and "Unable to write %1%" for not_written (%1% the target's
// path in UTF-8).
void ReplaceFileContents(const std::filesystem::path& target, const void* data, std::size_t size);

// Where the new file for |target| is written: <target>.new. A plain file
// left there by an interrupted run is removed first; when anything else
// stands there (a folder, a link) or it cannot be removed, a name of this
// process's own, <target>.<process id>-<n>.new, is taken instead.
std::filesystem::path NewFilePath(const std::filesystem::path& target);

// The errors of a file that could not be opened or written, with the path in
// UTF-8, thrown from |where|.
[[noreturn]] void ThrowUnableToCreate(const std::filesystem::path& file,
                                      const boost::source_location& where);
[[noreturn]] void ThrowUnableToWrite(const std::filesystem::path& file,
                                     const boost::source_location& where);

}  // namespace sablewick
