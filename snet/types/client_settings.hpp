// The agent's settings record, stored in the settings file as a text archive.
// Class version 2; the installed agent reads the same bytes, so the order of
// the fields in the archive and the version rules of the load are fixed.
#pragma once

#include <boost/serialization/split_member.hpp>
#include <boost/serialization/tracking.hpp>
#include <boost/serialization/version.hpp>
#include <boost/uuid/nil_generator.hpp>
#include <boost/uuid/uuid.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <boost/uuid/uuid_serialize.hpp>

namespace sablewick::snet::types {

class ClientSettings {
public:
    boost::uuids::uuid computerId = boost::uuids::nil_uuid();
    boost::uuids::uuid companyId = boost::uuids::nil_uuid();
    boost::uuids::uuid idV2 = boost::uuids::nil_uuid();
    bool flagV1 = true;

    // Always all four fields, whatever version the library passes.
    template <class Archive>
    void save(Archive& ar, const unsigned int /*version*/) const {
        ar& companyId;
        ar& computerId;
        ar& flagV1;
        ar& idV2;
    }

    // Records of older class versions lack the later fields, which keep their
    // defaults; newer versions read like version 2.
    template <class Archive>
    void load(Archive& ar, const unsigned int version) {
        ar& companyId;
        ar& computerId;
        if (version >= 1) ar& flagV1;
        if (version >= 2) ar& idV2;
    }

    BOOST_SERIALIZATION_SPLIT_MEMBER()
};

}  // namespace sablewick::snet::types

BOOST_CLASS_VERSION(sablewick::snet::types::ClientSettings, 2)
// The record is never stored through a pointer; pinning this keeps its
// tracking flag 0 in every archive even if a pointer were ever serialised.
BOOST_CLASS_TRACKING(sablewick::snet::types::ClientSettings, boost::serialization::track_never)
