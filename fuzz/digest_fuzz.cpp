// QM_Digest against OpenSSL's MD5 and SHA-1, with every buffer size.
#include <openssl/evp.h>

#include <cstring>

#include "marlinok.h"
#include "support/fuzz_support.h"

using namespace marlinok::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const uint8_t selector = in.Byte();
  const uint32_t algId = selector % 3 == 0 ? CALG_MD5 : selector % 3 == 1 ? CALG_SHA1 : in.U32();
  const uint8_t capacityByte = in.Byte();
  const GuardedBytes message(in.Rest());

  const bool md5 = algId == CALG_MD5, sha1 = algId == CALG_SHA1;
  const uint32_t needed = md5 ? 16 : 20;
  // 0xFF: no buffer at all; otherwise a buffer of exactly capacity bytes.
  const bool nullBuffer = capacityByte == 0xFF;
  const uint32_t capacity = nullBuffer ? 0 : capacityByte % 40;
  GuardedBytes digest(capacity);  // exactly the stated size
  std::memset(digest.data(), 0xA5, capacity);
  uint32_t length = capacity;
  const int32_t status =
      QM_Digest(nullBuffer ? nullptr : digest.data(), &length,
                message.size() == 0 ? nullptr : message.data(), message.length(), algId);
  if (!md5 && !sha1) {
    Check(status == ERR_FAILED, "unknown algorithm accepted");
    return 0;
  }
  Check(status == ERR_OK, "digest refused");
  if (nullBuffer || capacity < needed) {
    Check(length == needed, "size query answer");
    for (uint32_t i = 0; i < capacity; ++i) Check(digest[i] == 0xA5, "size query wrote");
    return 0;
  }
  uint8_t expected[EVP_MAX_MD_SIZE];
  unsigned int expectedLength = 0;
  if (EVP_Digest(message.data(), message.size(), expected, &expectedLength,
                 md5 ? EVP_md5() : EVP_sha1(), nullptr) != 1)
    Fail("OpenSSL digest failed");
  Check(expectedLength == needed && std::memcmp(digest.data(), expected, needed) == 0,
        "digest differs from OpenSSL's");
  for (uint32_t i = needed; i < capacity; ++i) Check(digest[i] == 0xA5, "wrote past the digest");
  return 0;
}
