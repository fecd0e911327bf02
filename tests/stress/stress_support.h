// What the stress tests share: a container with two fresh 512-bit pairs and
// their references, the checks of one operation each (a failed check returns
// false), and standard output sent away while the RSA calls print their lines.
#ifndef MARLINOK_TESTS_STRESS_STRESS_SUPPORT_H
#define MARLINOK_TESTS_STRESS_STRESS_SUPPORT_H

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "marlinok.h"

namespace marlinok::stress {

using Bytes = std::vector<uint8_t>;

// A key reference as the library hands it out.
struct Reference {
  std::vector<uint8_t> path = std::vector<uint8_t>(256, 0);
  DataBlob blob{256, nullptr};
  Reference() { blob.data = path.data(); }
  Reference(const Reference&) = delete;
  Reference& operator=(const Reference&) = delete;
};

struct Pair {
  Reference publicRef, privateRef;
};

// Generates a 512-bit pair of `pairType` into `container` (created if needed).
bool GeneratePair(const std::string& container, uint32_t pairType, Pair& pair);

// Sign with the signature pair and verify: the block comes back.
bool SignAndVerify(const Pair& pair, std::mt19937& random);
// Encrypt with the exchange pair and decrypt: the block comes back.
bool EncryptAndDecrypt(const Pair& pair, std::mt19937& random);
// QM_Digest against OpenSSL for both algorithms.
bool DigestsAgree(std::mt19937& random);
// 3DES in CBC against OpenSSL, then back.
bool TripleDesAgrees(std::mt19937& random);
// A key registered by QM_ImportSymmetricKey is withdrawn once, and only once.
bool RegisterAndWithdraw(uint32_t owner, uint32_t serial);
// The public key blob of a stored key.
Bytes PublicBlob(const Pair& pair);

// Sends standard output to /dev/null while alive.
class QuietStdout {
 public:
  QuietStdout();
  ~QuietStdout();
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  int saved_ = -1;
};

}  // namespace marlinok::stress

#endif
