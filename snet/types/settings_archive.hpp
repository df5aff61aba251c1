// The text-archive form of the settings records: the bytes the settings file
// and the "ONETIME" resource hold, shared with the installed agent.
#pragma once

#include "snet/types/client_settings.hpp"
#include "snet/types/one_time_settings.hpp"

#include <iosfwd>

namespace sablewick::snet::types {

// Writes |settings| to |out|: the archive header, the record and one final
// line feed. Throws boost::archive::archive_exception ("output stream error")
// when the stream fails while an item is written; a failure of the final line
// feed shows only in the stream's state. The archive sets its own locale on
// |out| while it writes; a file stream whose writes fail cannot take the
// locale back, so write to memory and copy the bytes.
void SaveTextArchive(std::ostream& out, const ClientSettings& settings);

// Reads a record from |in| into |settings|. Throws
// boost::archive::archive_exception ("invalid signature", "unsupported
// version", "input stream error"); fields read before the failure keep the
// values read. Nothing after the record is read.
void LoadTextArchive(std::istream& in, ClientSettings& settings);
void LoadTextArchive(std::istream& in, OneTimeSettings& settings);

}  // namespace sablewick::snet::types
