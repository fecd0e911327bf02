// Hex text <-> bytes for test vectors.
#ifndef MARLINOK_TESTS_SUPPORT_HEX_H
#define MARLINOK_TESTS_SUPPORT_HEX_H

#include <cstdint>
#include <string>
#include <vector>

namespace marlinok::test {

using Bytes = std::vector<uint8_t>;

// Spaces are ignored; anything else that is not a hex digit aborts the test program.
Bytes FromHex(const std::string& hex);
std::string ToHex(const uint8_t* data, std::size_t length);
inline std::string ToHex(const Bytes& bytes) { return ToHex(bytes.data(), bytes.size()); }
inline Bytes FromText(const std::string& text) { return Bytes(text.begin(), text.end()); }

}  // namespace marlinok::test

#endif
