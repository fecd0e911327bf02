// What the harnesses share: a temporary hive of their own, key pairs made
// once from a fixed seed (so every run sees the same keys), planting of
// records and values straight into the registry, a reader over the fuzzer's
// bytes, and exact-size heap copies so that the address sanitizer sees every
// byte read or written past what the caller handed over.
#ifndef MARLINOK_FUZZ_SUPPORT_H
#define MARLINOK_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "rsa/key_record.h"

namespace marlinok::fuzz {

using Bytes = std::vector<uint8_t>;

// Points MARLINOK_REGISTRY at a fresh hive in a new temporary folder (on
// /dev/shm when it exists: every registry write is synced), removed at exit.
void UseTemporaryHive();

// A pair of `bits` bits from the library's own generator on a fixed-seed pool.
struct RecordPair {
  rsa::PublicKeyRecord publicRecord;
  rsa::PrivateKeyRecord privateRecord;
};
const RecordPair& FixedPair(uint32_t bits);

// Stores a pair into a container through the key-record writer; aborts on failure.
void PlantPair(const char* container, uint32_t pairType, const RecordPair& pair);
// Writes one binary value below "Software\Quillmar\SoftContainerSimulator\<container>".
void PlantContainerValue(const char* container, const char* valueName, const uint8_t* bytes,
                         std::size_t length);
// Writes one value below any key path.
void PlantValue(const std::string& keyPath, const char* valueName, uint32_t type,
                const uint8_t* bytes, std::size_t length);

// "Software\Quillmar\SoftContainerSimulator\<container>\<value>", NUL included.
std::string KeyReference(const char* container, const char* valueName);

// Reads the fuzzer's bytes front to back; past the end every read yields zeros.
class Reader {
 public:
  Reader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  uint8_t Byte();
  uint32_t U32();             // little-endian
  Bytes Take(std::size_t n);  // at most n bytes: what is left
  Bytes Rest() { return Take(size_ - position_); }
  std::size_t Left() const { return size_ - position_; }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

// A fault the sanitizers would not see: report it and abort, so the fuzzer
// keeps the input.
[[noreturn]] void Fail(const char* what);
inline void Check(bool condition, const char* what) {
  if (!condition) Fail(what);
}

// A symmetric algorithm identifier: DES, 3DES, RC4, or any 32-bit value.
uint32_t PickSymmetricAlgorithm(Reader& in);

}  // namespace marlinok::fuzz

#endif
