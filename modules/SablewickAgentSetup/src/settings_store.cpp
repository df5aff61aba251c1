// The settings file and the one-time record.
#include "settings_store.h"

#include "bootstrapper.h"
#include "file_replace.h"
#include "plain_file.h"

#include "resources/resource.h"
#include "snet/types/settings_archive.hpp"

#include <boost/throw_exception.hpp>

#include <cstddef>
#include <exception>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>

namespace sablewick {

namespace {

// A settings record is 146 bytes; a file a hundred thousand times larger is
// none, and is not read.
constexpr std::size_t kLargestSettings = 16u << 20;

}  // namespace

snet::types::ClientSettings SettingsOfRecord(const ResourceData& record) {
    snet::types::ClientSettings settings;
    std::istringstream in(std::string(reinterpret_cast<const char*>(record.data), record.size));
    snet::types::LoadTextArchive(in, settings);
    return settings;
}

snet::types::ClientSettings Bootstrapper::LoadSettings() {
    snet::types::ClientSettings settings;
    const std::filesystem::path path = GetDatFilePath();
    // Only a plain file of one link: never a link's target or a pipe.
    const std::optional<std::string> bytes = ReadPlainFile(path, kLargestSettings);
    if (!bytes) {
        boost::throw_exception(std::runtime_error("Unable to open settings file to read"),
                               BOOST_CURRENT_LOCATION);
    }
    std::istringstream in(*bytes);
    snet::types::LoadTextArchive(in, settings);
    return settings;
}

void Bootstrapper::SaveSettings(const snet::types::ClientSettings& settings) {
    // The agent cannot read a cut-off settings file, so the record, made in
    // memory, goes to a new file that replaces the old one only once it is
    // whole. This is the settings file's only write: a file that cannot be
    // made says so as the embedded record's unpacking used to.
    std::ostringstream archive;
    snet::types::SaveTextArchive(archive, settings);
    const std::string bytes = archive.str();
    ReplaceFileContents(GetDatFilePath(), bytes.data(), bytes.size());
}

void Bootstrapper::LoadOneTimeSettings(snet::types::OneTimeSettings& settings) {
    // The record is optional: without a readable one the caller's values
    // stand, and fields read before a failure keep what was read.
    try {
        const ResourceData resource = LoadResourceData(IDR_SABLEWICK_ONETIME, L"ONETIME");
        std::istringstream in(
            std::string(reinterpret_cast<const char*>(resource.data), resource.size));
        snet::types::LoadTextArchive(in, settings);
    } catch (const std::exception&) {
    }
}

}  // namespace sablewick
