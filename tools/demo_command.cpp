// marlinok-tool demo: the whole token at work, one line per step with its
// time. It makes a container, two key pairs, a signature checked by the token
// and by OpenSSL, a wrapped 3DES session key, a message encrypted with it,
// and removes what it made unless --keep is given.
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli.h"
#include "hive.h"
#include "keys.h"
#include "rsa_blocks.h"

namespace marlinok::tool {
namespace {

constexpr char kContainer[] = "marlinok-demo";

class Steps {
 public:
  Steps() : start_(std::chrono::steady_clock::now()) {}
  void Done(const std::string& what) {
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_)
            .count();
    std::printf("%9.2f ms  %s\n", ms, what.c_str());
    std::fflush(stdout);
    start_ = std::chrono::steady_clock::now();
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

int32_t GenerateInto(uint32_t bits, uint32_t pairType) {
  std::string pub(64, '\0'), priv(64, '\0');
  DataBlob publicRef{0, reinterpret_cast<uint8_t*>(&pub[0])};
  DataBlob privateRef{0, reinterpret_cast<uint8_t*>(&priv[0])};
  return QM_GenAsymmetricKey(kContainer, &publicRef, &privateRef, bits, 0, pairType);
}

// OpenSSL's own PKCS #1 v1.5 SHA-1 verification, on the PEM-encoded key.
bool OpenSslVerifies(const Block& publicBlob, const Block& message, const Block& signature,
                     std::string* pem) {
  const unsigned char* p = publicBlob.data();
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      b2i_PublicKey(&p, static_cast<long>(publicBlob.size())), &EVP_PKEY_free);
  if (!key) return false;
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
  if (PEM_write_bio_PUBKEY(bio.get(), key.get()) != 1) return false;
  char* text = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &text);
  pem->assign(text, static_cast<std::size_t>(size));
  // Read back from the PEM text, as another program would.
  std::unique_ptr<BIO, decltype(&BIO_free)> in(BIO_new_mem_buf(pem->data(), static_cast<int>(size)),
                                               &BIO_free);
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> fromPem(
      PEM_read_bio_PUBKEY(in.get(), nullptr, nullptr, nullptr), &EVP_PKEY_free);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  return fromPem && ctx &&
         EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha1(), nullptr, fromPem.get()) == 1 &&
         EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), message.data(),
                          message.size()) == 1;
}

// The MD5 or SHA-1 digest of `data` through the token; empty when it fails.
Block TokenDigest(uint32_t algId, const Block& data, int32_t* status) {
  Block digest(20);
  uint32_t length = static_cast<uint32_t>(digest.size());
  *status =
      QM_Digest(digest.data(), &length, data.data(), static_cast<uint32_t>(data.size()), algId);
  if (*status != ERR_OK) return {};
  digest.resize(algId == CALG_MD5 ? 16 : 20);
  return digest;
}

int Walk(Steps& step, bool* created) {
  const std::string text = "Pay the bearer one hundred ducats. -- the token";
  const Block message(text.begin(), text.end());
  int32_t status = QM_CreateContainer(kContainer);
  if (status != ERR_OK)
    return Fail(std::string("container '") + kContainer +
                    "' already exists (remove it with: marlinok-tool delete " + kContainer + ")",
                status);
  *created = true;
  step.Done(std::string("created container '") + kContainer + "'");

  if ((status = GenerateInto(2048, MARLINOK_PAIR_SIGNATURE)) != ERR_OK)
    return Fail("2048-bit key generation failed", status);
  step.Done("generated a 2048-bit signature pair");
  if ((status = GenerateInto(1024, MARLINOK_PAIR_EXCHANGE)) != ERR_OK)
    return Fail("1024-bit key generation failed", status);
  step.Done("generated a 1024-bit exchange pair");

  // Sign: the tool formats the PKCS #1 v1.5 block, the token raises it to d.
  KeyReference sigPrivate, sigPublic;
  if ((status = FindPair(kContainer, false, &sigPublic, &sigPrivate)) != ERR_OK)
    return Fail(NoPair(kContainer, false), status);
  const Block block = SignatureBlock(CALG_SHA1, TokenDigest(CALG_SHA1, message, &status), 256);
  Block signature(256);
  uint32_t length = 0;
  status = QM_AsymmetricSignData(sigPrivate.Blob(), block.data(), 256, signature.data(), &length,
                                 CALG_RSA_SIGN);
  if (status != ERR_OK) return Fail("signing failed", status);
  step.Done("signed the message (SHA-1, PKCS #1 v1.5): " + Hex(signature.data(), 8) + "...");

  Block recovered(256);
  status = QM_AsymmetricVerifySign(sigPublic.Blob(), recovered.data(), &length, signature.data(),
                                   256, CALG_RSA_SIGN);
  if (status != ERR_OK || recovered != block)
    return Fail("the token rejects its signature", status);
  step.Done("verified the signature with the token");

  std::string pem;
  if (!OpenSslVerifies(ExportedPublicBlob(sigPublic, &status), message, signature, &pem))
    return Fail("OpenSSL rejects the signature");
  step.Done("verified it with OpenSSL too, from the exported PEM public key (" +
            std::to_string(pem.size()) + " bytes)");

  // A 3DES session key, wrapped under the exchange public key.
  Block session(24);
  DataBlob sessionKey{24, session.data()};
  if ((status = QM_GenSymmetricKey(CALG_3DES, &sessionKey, 0)) != ERR_OK)
    return Fail("3DES key generation failed", status);
  step.Done("generated a 3DES session key");

  KeyReference exPublic, exPrivate;
  if ((status = FindPair(kContainer, true, &exPublic, &exPrivate)) != ERR_OK)
    return Fail(NoPair(kContainer, true), status);
  Block publicBlob = ExportedPublicBlob(exPublic, &status);
  DataBlob blobIn{static_cast<uint32_t>(publicBlob.size()), publicBlob.data()};
  Block record(MARLINOK_PUBLIC_RECORD_BYTES);
  DataBlob recordOut{MARLINOK_PUBLIC_RECORD_BYTES, record.data()};
  if ((status = QM_ImportPublicKey(&blobIn, 1, &recordOut)) != ERR_OK)
    return Fail("public key import failed", status);
  Block wrapped(140);
  DataBlob wrappedOut{140, wrapped.data()};
  status = QM_ExportSymmetricKey(&sessionKey, &recordOut, &wrappedOut, CALG_3DES);
  if (status != ERR_OK || wrappedOut.length != 140) return Fail("wrapping failed", status);
  step.Done("wrapped it under the exchange key: a " + std::to_string(wrappedOut.length) +
            "-byte key blob");

  Block opened(128), unwrapped;
  status = QM_AsymmetricDecrypt(exPrivate.Blob(), 0, 0, opened.data(), &length, wrapped.data() + 12,
                                128, CALG_RSA_KEYX);
  if (status != ERR_OK || !OpenEncryptionBlock(opened, &unwrapped) || unwrapped != session)
    return Fail("unwrapping failed", status);
  step.Done("unwrapped it with the exchange private key: the same 24 bytes");

  Block padded = message;
  padded.insert(padded.end(), 8 - padded.size() % 8, static_cast<uint8_t>(8 - padded.size() % 8));
  Block cipher(padded.size()), plain(padded.size());
  uint32_t cipherLength = static_cast<uint32_t>(cipher.size());
  status =
      QM_SymmetricEncrypt(&sessionKey, 0, 0, padded.data(), static_cast<uint32_t>(padded.size()),
                          cipher.data(), &cipherLength, CALG_3DES, CRYPT_MODE_CBC);
  if (status != ERR_OK) return Fail("3DES encryption failed", status);
  DataBlob unwrappedKey{24, unwrapped.data()};
  uint32_t plainLength = static_cast<uint32_t>(plain.size());
  status = QM_SymmetryDecrypt(&unwrappedKey, 0, 0, cipher.data(), cipherLength, plain.data(),
                              &plainLength, CALG_3DES, CRYPT_MODE_CBC);
  if (status != ERR_OK || plain != padded) return Fail("3DES decryption failed", status);
  step.Done("encrypted the message with the session key (3DES-CBC, " +
            std::to_string(cipherLength) + " bytes) and decrypted it with the unwrapped copy");

  QM_DestroyKey(&sessionKey);
  QM_DestroyKey(&recordOut);
  std::printf("           the token now holds:\n");
  if (ListContainers(false) != kExitOk) return kExitFailed;
  step.Done("listed the token");
  return kExitOk;
}

int RunDemo(const Args& args) {
  if (!args.operands.empty()) return UsageError(kDemoCommand, "no operands expected");
  const bool keep = args.Has("keep");
  if (const int failed = RequireRegistry()) return failed;
  Steps step;
  bool created = false;
  const int result = Walk(step, &created);
  // Leave the token as the demo found it, on failure too, unless asked to keep.
  if (created && !keep) {
    const int32_t status = QM_DestroyContainer(kContainer);
    if (status != ERR_OK) return Fail("cannot remove the demo's container", status);
    step.Done(std::string("removed container '") + kContainer + "'");
  }
  return result;
}

}  // namespace

const Command kDemoCommand{"demo",
                           "shows the whole token at work, step by step",
                           "[--keep]   (--keep leaves the demo's container in place)\n"
                           "  example: marlinok-tool demo",
                           RunDemo,
                           {{"--keep", nullptr, "keep"}}};

}  // namespace marlinok::tool
