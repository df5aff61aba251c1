#include "snet/types/settings_archive.hpp"

#include <boost/archive/text_iarchive.hpp>
#include <boost/archive/text_oarchive.hpp>

#include <istream>
#include <ostream>

namespace sablewick::snet::types {

void SaveTextArchive(std::ostream& out, const ClientSettings& settings) {
    // The archive writes its final line feed when it is destroyed.
    boost::archive::text_oarchive archive(out, 0);
    archive << settings;
}

void LoadTextArchive(std::istream& in, ClientSettings& settings) {
    boost::archive::text_iarchive archive(in, 0);
    archive >> settings;
}

void LoadTextArchive(std::istream& in, OneTimeSettings& settings) {
    boost::archive::text_iarchive archive(in, 0);
    archive >> settings;
}

}  // namespace sablewick::snet::types
