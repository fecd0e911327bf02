// What the harnesses share: a temporary hive of their own, key pairs made
// once from a fixed seed (so every run sees the same keys), planting of
// records and values straight into the registry, a reader over the fuzzer's
// bytes, and caller buffers placed against an inaccessible page, so that any
// byte read or written past what the caller handed over faults at once, even
// inside a string routine the sanitizers do not look into.
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
  uint32_t U32();  // little-endian
  // A length as a caller may state it, any 32-bit value: one byte below
  // 0xFE is itself, 0xFE is followed by 2 bytes, 0xFF by 4 (little-endian).
  uint32_t Length();
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

// `size` bytes of the caller's, ending exactly where an inaccessible page
// begins. Filled from `bytes` (as many as there are), then zeros. Sizes up to
// 4 GiB are fine: the pages are reserved, not populated, until touched.
class GuardedBytes {
 public:
  explicit GuardedBytes(std::size_t size, const uint8_t* bytes = nullptr, std::size_t count = 0);
  explicit GuardedBytes(const Bytes& bytes)
      : GuardedBytes(bytes.size(), bytes.data(), bytes.size()) {}
  ~GuardedBytes();
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;

  // Never null, even for zero bytes: then it points at the inaccessible page.
  uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  uint32_t length() const { return static_cast<uint32_t>(size_); }
  uint8_t& operator[](std::size_t i) const { return data_[i]; }
  // Whether a NUL is among the bytes.
  bool HasNul() const;

 private:
  uint8_t* mapping_ = nullptr;
  std::size_t mappingSize_ = 0;
  uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

// `length` bytes (stated length from Reader::Length) filled from the input.
inline GuardedBytes TakeGuarded(Reader& in, uint32_t length) {
  const Bytes bytes = in.Take(length);
  return GuardedBytes(length, bytes.data(), bytes.size());
}

// How many bytes of key memory a symmetric call with `algId` and a stated key
// length of `length` may touch, by contract: DES reads (and fixes the parity
// of) 8 bytes whatever the length, 3DES 24 when the length is 24 and 16
// otherwise; RC4 and anything else `length`. Never less than `length`.
std::size_t SymmetricKeyReach(uint32_t algId, uint32_t length);

// A symmetric algorithm identifier: DES, 3DES, RC4, or any 32-bit value.
uint32_t PickSymmetricAlgorithm(Reader& in);

}  // namespace marlinok::fuzz

#endif
