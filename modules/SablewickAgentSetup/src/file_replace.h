// Replacing a file as a whole: the new bytes go to a new file beside the
// target, which is renamed over the target only when the write and the
// close succeeded. A failed write therefore never leaves a cut-off target.
#pragma once

#include <boost/assert/source_location.hpp>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <ostream>

namespace sablewick {

class FileReplacement {
public:
    // Opens the new file beside |target| (created, or truncated when it is
    // left over from an earlier run). Check is_open() before writing.
    explicit FileReplacement(std::filesystem::path target);
    // Removes the new file unless Commit() renamed it.
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    bool is_open() const { return opened_; }
    std::ostream& stream() { return out_; }

    // Flushes and closes the new file and renames it over the target. When
    // the stream failed at any point, the new file is removed, the target is
    // left as it was, and std::runtime_error "Unable to write %1%" (the
    // target's path in UTF-8) is thrown; a failed rename throws its
    // std::filesystem::filesystem_error after the new file is removed.
    void Commit();

    // Where the new file for |target| is written.
    static std::filesystem::path NewFilePath(const std::filesystem::path& target);

private:
    bool Close() noexcept;
    void Discard() noexcept;

    std::filesystem::path target_;
    std::filesystem::path new_file_;
    std::ofstream out_;
    bool opened_ = false;
    bool done_ = false;
};

// Replaces |target| by a file holding exactly |size| bytes at |data|.
// Throws std::runtime_error "Unable to create %1%" when the new file cannot
// be opened and "Unable to write %1%" when the write or the close fails
// (%1% the target's path in UTF-8); in both cases |target| is unchanged.
void ReplaceFileContents(const std::filesystem::path& target, const void* data, std::size_t size);

// The errors of a file that could not be opened or written, with the path in
// UTF-8, thrown from |where|; shared with the unpacking of resources.
[[noreturn]] void ThrowUnableToCreate(const std::filesystem::path& file,
                                      const boost::source_location& where);
[[noreturn]] void ThrowUnableToWrite(const std::filesystem::path& file,
                                     const boost::source_location& where);

}  // namespace sablewick
