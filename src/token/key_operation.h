// One raw RSA operation with a stored key or a caller's public record: the
// key is read first (the record reader takes the container store lock), then
// the operation runs under the public or the private key lock, never both.
#ifndef MARLINOK_TOKEN_KEY_OPERATION_H
#define MARLINOK_TOKEN_KEY_OPERATION_H

#include <cstdint>

#include "core/locks.h"
#include "core/status.h"
#include "core/wipe.h"
#include "marlinok.h"
#include "rsa/key_record.h"

namespace marlinok::token {

// Encrypt and verify use the public key, decrypt and sign the private key.
enum class KeyUse { Encrypt, Decrypt, Sign, Verify };

constexpr bool UsesPrivateKey(KeyUse use) { return use == KeyUse::Decrypt || use == KeyUse::Sign; }

// The key of one operation, a copy of the record wiped when it goes.
class OperationKey {
 public:
  OperationKey() = default;
  ~OperationKey() {
    SecureWipeObject(public_);
    SecureWipeObject(private_);
  }
  OperationKey(const OperationKey&) = delete;
  OperationKey& operator=(const OperationKey&) = delete;

  KeyUse use() const { return use_; }
  // The public record (for the private uses, the head of the private one)
  // and, for the private uses, the private record.
  const rsa::PublicKeyRecord& Public() const { return public_; }
  const rsa::PrivateKeyRecord& Private() const { return private_; }
  // k, the byte length of the modulus and of every output.
  uint32_t OutputBytes() const { return rsa::ModulusBytes(rsa::ReadModulusBits(Public().bytes)); }

 private:
  friend Status LoadOperationKey(KeyUse, const DataBlob&, OperationKey*);
  KeyUse use_ = KeyUse::Encrypt;
  rsa::PublicKeyRecord public_{};
  rsa::PrivateKeyRecord private_{};
};

// Reads the key of an operation. The private uses take a key reference and
// need a private record. The public uses take a key reference when the
// caller's bytes (at most key.length, up to the first NUL) contain the
// container root followed by a backslash, and a direct record of 516 bytes
// (its length is not consulted) otherwise. Failed when the reference cannot
// be read or names a record too short for the use, and for a record of 0 bits
// or more than 2048. key.data is non-null.
Status LoadOperationKey(KeyUse use, const DataBlob& key, OperationKey* out);

// The raw operation, exactly k bytes into `output` and k into *outputLength
// on success; nothing written on failure. `whileLocked` runs first, once the
// operation's lock is held.
Status RunKeyOperationUnlocked(const OperationKey& key, uint8_t* output, uint32_t* outputLength,
                               const uint8_t* input, uint32_t inputLength);

template <class WhileLocked>
Status RunKeyOperation(const OperationKey& key, uint8_t* output, uint32_t* outputLength,
                       const uint8_t* input, uint32_t inputLength, WhileLocked&& whileLocked) {
  ScopedLibraryLock lock(UsesPrivateKey(key.use()) ? LibraryLock::PrivateKey
                                                   : LibraryLock::PublicKey);
  whileLocked();
  return RunKeyOperationUnlocked(key, output, outputLength, input, inputLength);
}

}  // namespace marlinok::token

#endif
