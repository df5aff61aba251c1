// The text of a SHA-1 digest as Boost.Uuid hands it out. Its element type
// changed between Boost versions (five 32-bit words whose most significant
// byte comes first, later twenty bytes); the computer identity must not
// change with it, so the bytes are taken in the digest's own order whatever
// the elements are, and any other shape stops the build.
#pragma once

#include <climits>
#include <cstddef>
#include <string>
#include <type_traits>

namespace sablewick {

// The first |bytes| bytes of |digest| (at most 20) as lowercase hex digits.
template <class Element, std::size_t N>
std::string DigestPrefixHex(const Element (&digest)[N], std::size_t bytes) {
    static_assert(std::is_integral_v<Element> && std::is_unsigned_v<Element>,
                  "a SHA-1 digest is held in unsigned integers");
    static_assert(N * sizeof(Element) * CHAR_BIT == 160,
                  "a SHA-1 digest of another shape would change every computer identity");
    constexpr std::size_t kBytesPerElement = sizeof(Element);
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * bytes);
    for (std::size_t i = 0; i < bytes && i < N * kBytesPerElement; ++i) {
        const std::size_t shift = CHAR_BIT * (kBytesPerElement - 1 - i % kBytesPerElement);
        const unsigned byte = static_cast<unsigned>((digest[i / kBytesPerElement] >> shift) & 0xFFu);
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0Fu];
    }
    return text;
}

}  // namespace sablewick
