// The one-time record that an executable may carry as resource "ONETIME" 108.
// Only ever read; class version 0.
#pragma once

#include <boost/uuid/uuid.hpp>
#include <boost/uuid/uuid_serialize.hpp>

#include <cstdint>

namespace sablewick::snet::types {

struct OneTimeSettings {
    bool onetime;
    boost::uuids::uuid id;
    std::int32_t number;

    template <class Archive>
    void serialize(Archive& ar, const unsigned int /*version*/) {
        ar& onetime;
        ar& id;
        ar& number;
    }
};

}  // namespace sablewick::snet::types
