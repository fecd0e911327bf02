#include "pkcs11/digests.h"

#include <openssl/evp.h>

#include "core/wipe.h"
#include "digest/md5.h"
#include "digest/sha1.h"

namespace marlinok::pkcs11 {
namespace {

class Md5Hasher : public Hasher {
 public:
  Md5Hasher() { digest::Md5Begin(&ctx_); }
  ~Md5Hasher() override { SecureWipeObject(ctx_); }
  void Update(const uint8_t* data, std::size_t length) override {
    while (length > 0) {
      const auto part = static_cast<uint32_t>(length > 0x40000000u ? 0x40000000u : length);
      digest::Md5Feed(&ctx_, data, part);
      data += part;
      length -= part;
    }
  }
  void Final(uint8_t* out) override { digest::Md5Finish(out, &ctx_); }
  std::size_t Size() const override { return digest::kMd5DigestBytes; }

 private:
  digest::Md5Context ctx_{};
};

class Sha1Hasher : public Hasher {
 public:
  Sha1Hasher() { (void)digest::Sha1Begin(&ctx_); }
  ~Sha1Hasher() override { SecureWipeObject(ctx_); }
  void Update(const uint8_t* data, std::size_t length) override {
    while (length > 0) {
      const auto part = static_cast<uint32_t>(length > 0x40000000u ? 0x40000000u : length);
      (void)digest::Sha1Feed(&ctx_, data, part);
      data += part;
      length -= part;
    }
  }
  void Final(uint8_t* out) override { (void)digest::Sha1Finish(&ctx_, out); }
  std::size_t Size() const override { return digest::kSha1DigestBytes; }

 private:
  digest::Sha1Context ctx_{};
};

class EvpHasher : public Hasher {
 public:
  explicit EvpHasher(const EVP_MD* md) : ctx_(EVP_MD_CTX_new()), size_(EVP_MD_size(md)) {
    if (ctx_ != nullptr) EVP_DigestInit_ex(ctx_, md, nullptr);
  }
  ~EvpHasher() override { EVP_MD_CTX_free(ctx_); }
  EvpHasher(const EvpHasher&) = delete;
  EvpHasher& operator=(const EvpHasher&) = delete;
  bool Ready() const { return ctx_ != nullptr; }
  void Update(const uint8_t* data, std::size_t length) override {
    EVP_DigestUpdate(ctx_, data, length);
  }
  void Final(uint8_t* out) override { EVP_DigestFinal_ex(ctx_, out, nullptr); }
  std::size_t Size() const override { return static_cast<std::size_t>(size_); }

 private:
  EVP_MD_CTX* ctx_;
  int size_;
};

const EVP_MD* EvpOf(CK_MECHANISM_TYPE digest) {
  switch (digest) {
    case CKM_SHA224:
      return EVP_sha224();
    case CKM_SHA256:
      return EVP_sha256();
    case CKM_SHA384:
      return EVP_sha384();
    case CKM_SHA512:
      return EVP_sha512();
    default:
      return nullptr;
  }
}

}  // namespace

std::unique_ptr<Hasher> NewHasher(CK_MECHANISM_TYPE digest) {
  if (digest == CKM_MD5) return std::make_unique<Md5Hasher>();
  if (digest == CKM_SHA_1) return std::make_unique<Sha1Hasher>();
  const EVP_MD* md = EvpOf(digest);
  if (md == nullptr) return nullptr;
  auto hasher = std::make_unique<EvpHasher>(md);
  if (!hasher->Ready()) return nullptr;
  return hasher;
}

std::size_t DigestSize(CK_MECHANISM_TYPE digest) {
  switch (digest) {
    case CKM_MD5:
      return 16;
    case CKM_SHA_1:
      return 20;
    case CKM_SHA224:
      return 28;
    case CKM_SHA256:
      return 32;
    case CKM_SHA384:
      return 48;
    case CKM_SHA512:
      return 64;
    default:
      return 0;
  }
}

Bytes DigestInfoPrefix(CK_MECHANISM_TYPE digest) {
  switch (digest) {
    case CKM_MD5:
      return {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48,
              0x86, 0xf7, 0x0d, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10};
    case CKM_SHA_1:
      return {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
              0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
    case CKM_SHA224:
      return {0x30, 0x2d, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
              0x65, 0x03, 0x04, 0x02, 0x04, 0x05, 0x00, 0x04, 0x1c};
    case CKM_SHA256:
      return {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
              0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
    case CKM_SHA384:
      return {0x30, 0x41, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
              0x65, 0x03, 0x04, 0x02, 0x02, 0x05, 0x00, 0x04, 0x30};
    case CKM_SHA512:
      return {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
              0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40};
    default:
      return {};
  }
}

CK_MECHANISM_TYPE MgfDigest(CK_RSA_PKCS_MGF_TYPE mgf) {
  switch (mgf) {
    case CKG_MGF1_SHA1:
      return CKM_SHA_1;
    case CKG_MGF1_SHA224:
      return CKM_SHA224;
    case CKG_MGF1_SHA256:
      return CKM_SHA256;
    case CKG_MGF1_SHA384:
      return CKM_SHA384;
    case CKG_MGF1_SHA512:
      return CKM_SHA512;
    default:
      return CKM_VENDOR_DEFINED;
  }
}

Bytes Digest(CK_MECHANISM_TYPE digest, const uint8_t* data, std::size_t length) {
  auto hasher = NewHasher(digest);
  if (hasher == nullptr) return {};
  hasher->Update(data, length);
  Bytes out(hasher->Size());
  hasher->Final(out.data());
  return out;
}

}  // namespace marlinok::pkcs11
