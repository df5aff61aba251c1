#include "file_replace.h"

#include <boost/format.hpp>
#include <boost/throw_exception.hpp>

#include <stdexcept>
#include <system_error>
#include <utility>

namespace sablewick {

void ThrowUnableToCreate(const std::filesystem::path& file, const boost::source_location& where) {
    boost::throw_exception(
        std::runtime_error((boost::format("Unable to create %1%") % file.u8string()).str()), where);
}

void ThrowUnableToWrite(const std::filesystem::path& file, const boost::source_location& where) {
    boost::throw_exception(
        std::runtime_error((boost::format("Unable to write %1%") % file.u8string()).str()), where);
}

std::filesystem::path FileReplacement::NewFilePath(const std::filesystem::path& target) {
    std::filesystem::path result = target;
    result += L".new";
    return result;
}

FileReplacement::FileReplacement(std::filesystem::path target)
    : target_(std::move(target)), new_file_(NewFilePath(target_)) {
    out_.open(new_file_, std::ios::out | std::ios::binary | std::ios::trunc);
    opened_ = out_.is_open() && out_.good();
}

FileReplacement::~FileReplacement() {
    if (!done_) Discard();
}

// Closes the stream; false when the final flush or the close failed. A file
// buffer whose flush failed may throw from close() (its conversion facet is
// gone); the file is closed all the same.
bool FileReplacement::Close() noexcept {
    try {
        out_.close();
    } catch (...) {
        return false;
    }
    return !out_.fail();
}

void FileReplacement::Discard() noexcept {
    done_ = true;
    if (out_.is_open()) Close();
    // Only a file this object opened is removed; whatever stood in the new
    // file's place when the open failed is not ours.
    if (opened_) {
        std::error_code ignored;
        std::filesystem::remove(new_file_, ignored);
    }
}

void FileReplacement::Commit() {
    if (!opened_) {
        Discard();
        ThrowUnableToWrite(target_, BOOST_CURRENT_LOCATION);
    }
    if (!Close()) {
        Discard();
        ThrowUnableToWrite(target_, BOOST_CURRENT_LOCATION);
    }
    std::error_code ec;
    std::filesystem::rename(new_file_, target_, ec);
    if (ec) {
        Discard();
        boost::throw_exception(std::filesystem::filesystem_error("rename", new_file_, target_, ec),
                               BOOST_CURRENT_LOCATION);
    }
    done_ = true;
}

void ReplaceFileContents(const std::filesystem::path& target, const void* data, std::size_t size) {
    FileReplacement file(target);
    if (!file.is_open()) ThrowUnableToCreate(target, BOOST_CURRENT_LOCATION);
    file.stream().write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    file.Commit();
}

}  // namespace sablewick
