// OpenSSL's MD5 and SHA-1 as the reference the engines are compared with.
#ifndef MARLINOK_TESTS_DIGEST_OPENSSL_ORACLE_H
#define MARLINOK_TESTS_DIGEST_OPENSSL_ORACLE_H

#include <openssl/evp.h>

#include <cstdint>
#include <cstdlib>
#include <random>

#include "support/hex.h"

namespace marlinok::test {

inline Bytes OracleDigest(const EVP_MD* md, const uint8_t* data, std::size_t length) {
  Bytes out(static_cast<std::size_t>(EVP_MD_size(md)));
  unsigned outLength = 0;
  if (EVP_Digest(data, length, out.data(), &outLength, md, nullptr) != 1) std::abort();
  out.resize(outLength);
  return out;
}
inline Bytes OracleMd5(const Bytes& data) {
  return OracleDigest(EVP_md5(), data.data(), data.size());
}
inline Bytes OracleSha1(const Bytes& data) {
  return OracleDigest(EVP_sha1(), data.data(), data.size());
}

inline Bytes RandomBytes(std::mt19937& rng, std::size_t length) {
  Bytes out(length);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

// Message lengths around the padding boundaries (55: the last length that pads
// within the block; 56..63: the length spills into a further block), whole
// blocks, and random lengths up to 1000.
inline std::vector<std::size_t> DifferentialLengths() {
  std::vector<std::size_t> lengths = {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 1000};
  std::mt19937 rng(20240611);
  for (int i = 0; i < 200; ++i) lengths.push_back(rng() % 1001);
  return lengths;
}

}  // namespace marlinok::test

#endif
