// The settings file and the one-time record.
#include "bootstrapper.h"
#include "file_replace.h"

#include "resources/resource.h"
#include "snet/types/settings_archive.hpp"

#include <boost/throw_exception.hpp>

#include <exception>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace sablewick {

snet::types::ClientSettings Bootstrapper::LoadSettings() {
    snet::types::ClientSettings settings;
    const std::filesystem::path path = GetDatFilePath();
    std::ifstream in(path, std::ios::in | std::ios::binary);
    if (!in) {
        boost::throw_exception(std::runtime_error("Unable to open settings file to read"),
                               BOOST_CURRENT_LOCATION);
    }
    snet::types::LoadTextArchive(in, settings);
    return settings;
}

void Bootstrapper::SaveSettings(const snet::types::ClientSettings& settings) {
    // The agent cannot read a cut-off settings file, so the record goes to a
    // new file that replaces the old one only once it is whole.
    // The archive is made in memory and written in one piece.
    std::ostringstream archive;
    snet::types::SaveTextArchive(archive, settings);
    const std::string bytes = archive.str();

    const std::filesystem::path path = GetDatFilePath();
    switch (ReplaceWholeFile(path, bytes.data(), bytes.size())) {
    case Replacement::done: return;
    case Replacement::not_created:
        boost::throw_exception(std::runtime_error("Unable to open settings file to write"),
                               BOOST_CURRENT_LOCATION);
    case Replacement::not_written: ThrowUnableToWrite(path, BOOST_CURRENT_LOCATION);
    }
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
