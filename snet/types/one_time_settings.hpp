// The one-time record that an executable may carry as resource "ONETIME" 108.
// Only ever read; class version 0 (the library's default).
#pragma once

#include <boost/uuid/nil_generator.hpp>
#include <boost/uuid/uuid.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <boost/uuid/uuid_serialize.hpp>

#include <cstdint>

namespace sablewick::snet::types {

struct OneTimeSettings {
    bool onetime = false;
    boost::uuids::uuid id = boost::uuids::nil_uuid();
    std::int32_t number = 0;

    template <class Archive>
    void serialize(Archive& ar, const unsigned int /*version*/) {
        ar& onetime;
        ar& id;
        ar& number;
    }
};

}  // namespace sablewick::snet::types
