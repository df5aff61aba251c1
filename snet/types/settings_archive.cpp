#include "snet/types/settings_archive.hpp"

#include <boost/archive/archive_exception.hpp>
#include <boost/archive/text_iarchive.hpp>
#include <boost/archive/text_oarchive.hpp>
#include <boost/version.hpp>

#include <cstddef>
#include <istream>
#include <ostream>

namespace sablewick::snet::types {

// The agent reads the settings file with the archive of Boost 1.83, which
// refuses the library version that later archives write.
static_assert(BOOST_VERSION < 108400,
              "from Boost 1.84 the text archive writes library version 20, which the agent's "
              "reader refuses: every settings file written would be unreadable to the agent");

namespace {

// The archive makes room for as many characters as the header's first
// number says before it compares the signature, so a damaged file of a few
// bytes could make it ask for gigabytes. Only the signature's own length can
// begin a valid archive; any other is the error the comparison would give.
void RefuseForeignSignatureLength(std::istream& in) {
    constexpr std::size_t kSignatureLength = 22;  // "serialization::archive"
    const std::istream::pos_type start = in.tellg();
    if (start == std::istream::pos_type(-1)) return;
    std::size_t length = 0;
    const bool read = static_cast<bool>(in >> length);
    in.clear();
    in.seekg(start);
    // A number that cannot be read is left to the archive, which fails on it.
    if (read && length != kSignatureLength)
        throw boost::archive::archive_exception(boost::archive::archive_exception::invalid_signature);
}

}  // namespace

void SaveTextArchive(std::ostream& out, const ClientSettings& settings) {
    // The archive writes its final line feed when it is destroyed.
    boost::archive::text_oarchive archive(out, 0);
    archive << settings;
}

void LoadTextArchive(std::istream& in, ClientSettings& settings) {
    RefuseForeignSignatureLength(in);
    boost::archive::text_iarchive archive(in, 0);
    archive >> settings;
}

void LoadTextArchive(std::istream& in, OneTimeSettings& settings) {
    RefuseForeignSignatureLength(in);
    boost::archive::text_iarchive archive(in, 0);
    archive >> settings;
}

}  // namespace sablewick::snet::types
