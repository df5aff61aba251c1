// The pieces of the computer identity that stand apart from the Bootstrapper:
// the digest text and the company id's parse.
#pragma once

#include <boost/uuid/uuid.hpp>

#include <string>

namespace sablewick {

// The first 128 bits of the SHA-1 digest of |text|, as 32 lowercase hex digits.
std::string Sha1Hex128(const std::string& text);

// The "company_id" option's text as a UUID; std::runtime_error "Failed to
// parse Company ID" when the text is none.
boost::uuids::uuid ParseCompanyId(const std::string& text);

}  // namespace sablewick
