// The asymmetric calls through the exported interface, on pairs stored in a
// fresh registry.
#define OPENSSL_SUPPRESS_DEPRECATED  // RSA_verify is the interoperability reference
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/objects.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "core/locks.h"
#include "marlinok.h"
#include "rsa/rsa_test_keys.h"
#include "store/key_record_store.h"
#include "store/registry_layout.h"
#include "store/store_fixture.h"

namespace marlinok::rsa {
namespace {

using test::Bytes;

struct Reference {
  std::string path;
  DataBlob Blob() const {
    return DataBlob{static_cast<uint32_t>(path.size() + 1),
                    reinterpret_cast<uint8_t*>(const_cast<char*>(path.c_str()))};
  }
};

class AsymmetricCallsTest : public store::StoreTest {
 protected:
  void SetUp() override {
    store::StoreTest::SetUp();
    Store("alpha", 1, test::GeneratedPair(1024));
    Store("alpha", 2, test::GeneratedPair(1024));
    Store("odd", 1, test::GeneratedPair(1001));
  }

  static void Store(const char* container, uint32_t pairType, const test::RecordPair& pair) {
    DataBlob pub{static_cast<uint32_t>(pair.publicRecord.size()),
                 const_cast<uint8_t*>(pair.publicRecord.data())};
    DataBlob priv{static_cast<uint32_t>(pair.privateRecord.size()),
                  const_cast<uint8_t*>(pair.privateRecord.data())};
    DataBlob pubRef{0, nullptr}, privRef{0, nullptr};
    ASSERT_EQ(Status::Ok,
              store::StoreKeyPair(container, pairType, 1, &pub, &priv, &pubRef, &privRef));
  }

  static Reference Ref(const std::string& container, const char* value) {
    return Reference{Container(container) + "\\" + value};
  }

  static int32_t Encrypt(const DataBlob& key, Bytes* out, const Bytes& in,
                         uint32_t algId = CALG_RSA_KEYX) {
    uint32_t length = 0xA5A5A5A5u;
    const int32_t status = QM_AsymmetricEncrypt(&key, 0, 0, out->data(), &length, in.data(),
                                                static_cast<uint32_t>(in.size()), algId);
    if (status == ERR_OK) out->resize(length);
    return status;
  }
  static int32_t Decrypt(const DataBlob& key, Bytes* out, const Bytes& in,
                         uint32_t algId = CALG_RSA_KEYX) {
    uint32_t length = 0xA5A5A5A5u;
    const int32_t status = QM_AsymmetricDecrypt(&key, 0, 0, out->data(), &length, in.data(),
                                                static_cast<uint32_t>(in.size()), algId);
    if (status == ERR_OK) out->resize(length);
    return status;
  }
  static int32_t Sign(const DataBlob& key, Bytes* out, const Bytes& in,
                      uint32_t algId = CALG_RSA_SIGN) {
    uint32_t length = 0xA5A5A5A5u;
    const int32_t status = QM_AsymmetricSignData(&key, in.data(), static_cast<uint32_t>(in.size()),
                                                 out->data(), &length, algId);
    if (status == ERR_OK) out->resize(length);
    return status;
  }
  static int32_t Verify(const DataBlob& key, Bytes* out, const Bytes& in,
                        uint32_t algId = CALG_RSA_SIGN) {
    uint32_t length = 0xA5A5A5A5u;
    const int32_t status = QM_AsymmetricVerifySign(&key, out->data(), &length, in.data(),
                                                   static_cast<uint32_t>(in.size()), algId);
    if (status == ERR_OK) out->resize(length);
    return status;
  }
  static Bytes Buffer() { return Bytes(256, 0xA5); }
};

TEST_F(AsymmetricCallsTest, EncryptDecryptRoundTripPrintsFourLines) {
  const Bytes message = marlinok::test::FromText("sixteen bytes!!!");
  Bytes cipher = Buffer(), plain = Buffer();
  std::string printed;
  {
    test::StdoutCapture capture;
    ASSERT_EQ(Encrypt(Ref("alpha", "PukExh").Blob(), &cipher, message), ERR_OK);
    ASSERT_EQ(Decrypt(Ref("alpha", "PvkExh").Blob(), &plain, cipher), ERR_OK);
    printed = capture.Text();
  }
  EXPECT_EQ(printed,
            "start encrypt.....\nend encrypt.....status=0\n"
            "\nstart decrypt.....\n\nend decrypt......status=0\n");
  ASSERT_EQ(cipher.size(), 128u);
  Bytes expected(128, 0);  // the message, left-padded with zeros to k bytes
  std::copy(message.begin(), message.end(), expected.end() - message.size());
  EXPECT_EQ(plain, expected);
}

TEST_F(AsymmetricCallsTest, SignVerifyRoundTripWithoutPaddingCheck) {
  const Bytes block = {0xDE, 0xAD, 0xBE, 0xEF};
  Bytes signature = Buffer(), recovered = Buffer();
  {
    test::StdoutCapture capture;
    ASSERT_EQ(Sign(Ref("alpha", "PvkSig").Blob(), &signature, block), ERR_OK);
    ASSERT_EQ(Verify(Ref("alpha", "PukSig").Blob(), &recovered, signature), ERR_OK);
    EXPECT_EQ(capture.Text(), "") << "sign and verify print nothing";
  }
  ASSERT_EQ(signature.size(), 128u);
  Bytes expected(128, 0);
  std::copy(block.begin(), block.end(), expected.end() - block.size());
  EXPECT_EQ(recovered, expected);
}

TEST_F(AsymmetricCallsTest, OddLengthKeyGives126ByteOutputs) {
  Bytes cipher = Buffer(), plain = Buffer();
  test::StdoutCapture capture;
  ASSERT_EQ(Encrypt(Ref("odd", "PukExh").Blob(), &cipher, {1, 2, 3}), ERR_OK);
  ASSERT_EQ(Decrypt(Ref("odd", "PvkExh").Blob(), &plain, cipher), ERR_OK);
  EXPECT_EQ(cipher.size(), 126u);
  EXPECT_EQ(plain.size(), 126u);
  EXPECT_EQ(plain[125], 3);
}

TEST_F(AsymmetricCallsTest, SizeQueries) {
  const Reference pub = Ref("alpha", "PukExh"), priv = Ref("alpha", "PvkSig");
  const DataBlob pubKey = pub.Blob(), privKey = priv.Blob();
  const uint8_t in[4] = {1, 2, 3, 4};
  test::StdoutCapture capture;
  uint32_t length = 0;
  EXPECT_EQ(QM_AsymmetricEncrypt(&pubKey, 0, 0, nullptr, &length, in, 4, CALG_RSA_KEYX), ERR_OK);
  EXPECT_EQ(length, 128u);
  length = 0;
  EXPECT_EQ(QM_AsymmetricDecrypt(&privKey, 0, 0, nullptr, &length, in, 4, CALG_RSA_KEYX), ERR_OK);
  EXPECT_EQ(length, 128u);
  length = 0;
  EXPECT_EQ(QM_AsymmetricSignData(&privKey, in, 4, nullptr, &length, CALG_RSA_SIGN), ERR_OK);
  EXPECT_EQ(length, 128u);
  length = 0;
  EXPECT_EQ(QM_AsymmetricVerifySign(&pubKey, nullptr, &length, in, 4, CALG_RSA_SIGN), ERR_FAILED);
  EXPECT_EQ(length, 128u);
  EXPECT_EQ(capture.Text(), "");
}

TEST_F(AsymmetricCallsTest, WrongAlgorithmFailsSilently) {
  Bytes out = Buffer();
  test::StdoutCapture capture;
  uint32_t length = 7;
  const Reference pub = Ref("alpha", "PukExh"), priv = Ref("alpha", "PvkExh");
  const DataBlob pubKey = pub.Blob(), privKey = priv.Blob();
  const uint8_t in[1] = {5};
  EXPECT_EQ(QM_AsymmetricEncrypt(&pubKey, 0, 0, out.data(), &length, in, 1, CALG_RSA_SIGN),
            ERR_FAILED);
  EXPECT_EQ(QM_AsymmetricDecrypt(&privKey, 0, 0, out.data(), &length, in, 1, CALG_RSA_SIGN),
            ERR_FAILED);
  EXPECT_EQ(QM_AsymmetricSignData(&privKey, in, 1, out.data(), &length, CALG_RSA_KEYX), ERR_FAILED);
  EXPECT_EQ(QM_AsymmetricVerifySign(&pubKey, out.data(), &length, in, 1, CALG_RSA_KEYX),
            ERR_FAILED);
  EXPECT_EQ(length, 7u);
  EXPECT_EQ(out, Buffer());
  EXPECT_EQ(capture.Text(), "");
}

TEST_F(AsymmetricCallsTest, SignatureKeyAcceptedForExchangeAlgorithm) {
  Bytes out = Buffer();
  test::StdoutCapture capture;
  EXPECT_EQ(Encrypt(Ref("alpha", "PukSig").Blob(), &out, {9}), ERR_OK);
}

TEST_F(AsymmetricCallsTest, InputNotBelowModulus) {
  const Bytes& pub = test::GeneratedPair(1024).publicRecord;
  const Bytes n(pub.begin() + kModulusOffset + 128, pub.begin() + kPublicExponentOffset);
  Bytes out = Buffer();
  std::string printed;
  {
    test::StdoutCapture capture;
    EXPECT_EQ(Encrypt(Ref("alpha", "PukExh").Blob(), &out, n), ERR_DATA_RANGE);
    EXPECT_EQ(Decrypt(Ref("alpha", "PvkExh").Blob(), &out, n), ERR_DECRYPT_REJECTED);
    EXPECT_EQ(Sign(Ref("alpha", "PvkSig").Blob(), &out, n), ERR_DATA_RANGE);
    EXPECT_EQ(Verify(Ref("alpha", "PukSig").Blob(), &out, n), ERR_DATA_RANGE);
    printed = capture.Text();
  }
  EXPECT_EQ(out, Buffer());
  EXPECT_EQ(printed,
            "start encrypt.....\nend encrypt.....status=1025\n"
            "\nstart decrypt.....\n\nend decrypt......status=1025\n");
}

TEST_F(AsymmetricCallsTest, DirectRecordAndReferencesGiveTheSameBytes) {
  const test::RecordPair& pair = test::GeneratedPair(1024);
  const Bytes message = {0x00, 0x11, 0x22, 0x33};
  Bytes viaPublicRef = Buffer(), viaPrivateRef = Buffer(), viaRecord = Buffer(),
        viaPrivateRecord = Buffer();
  // The direct form's length is not consulted: callers pass {0, record}.
  const DataBlob record{0, const_cast<uint8_t*>(pair.publicRecord.data())};
  const DataBlob privateRecord{0, const_cast<uint8_t*>(pair.privateRecord.data())};
  test::StdoutCapture capture;
  ASSERT_EQ(Encrypt(Ref("alpha", "PukExh").Blob(), &viaPublicRef, message), ERR_OK);
  ASSERT_EQ(Encrypt(Ref("alpha", "PvkExh").Blob(), &viaPrivateRef, message), ERR_OK);
  ASSERT_EQ(Encrypt(record, &viaRecord, message), ERR_OK);
  ASSERT_EQ(Encrypt(privateRecord, &viaPrivateRecord, message), ERR_OK);
  EXPECT_EQ(viaPublicRef, viaRecord);
  EXPECT_EQ(viaPrivateRef, viaRecord);
  EXPECT_EQ(viaPrivateRecord, viaRecord);
  Bytes verified = Buffer();
  ASSERT_EQ(Verify(record, &verified, message), ERR_OK);
  EXPECT_EQ(verified, viaRecord);
}

TEST_F(AsymmetricCallsTest, EmptyInputIsZero) {
  Bytes out = Buffer();
  test::StdoutCapture capture;
  uint32_t length = 0;
  const Reference ref = Ref("alpha", "PukExh");
  const DataBlob key = ref.Blob();
  ASSERT_EQ(QM_AsymmetricEncrypt(&key, 0, 0, out.data(), &length, nullptr, 0, CALG_RSA_KEYX),
            ERR_OK);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + length), Bytes(128, 0));
}

TEST_F(AsymmetricCallsTest, UnreadableReferenceFailsWithoutOutput) {
  const std::vector<Reference> refs = {Ref("missing", "PukExh"), Ref("alpha", "PukXyz"),
                                       Ref("alpha", "PvkXyz")};
  test::StdoutCapture capture;
  for (const Reference& ref : refs) {
    Bytes out = Buffer();
    uint32_t length = 7;
    const DataBlob key = ref.Blob();
    const uint8_t in[1] = {1};
    EXPECT_EQ(QM_AsymmetricEncrypt(&key, 0, 0, out.data(), &length, in, 1, CALG_RSA_KEYX),
              ERR_FAILED);
    EXPECT_EQ(QM_AsymmetricDecrypt(&key, 0, 0, out.data(), &length, in, 1, CALG_RSA_KEYX),
              ERR_FAILED);
    EXPECT_EQ(QM_AsymmetricSignData(&key, in, 1, out.data(), &length, CALG_RSA_SIGN), ERR_FAILED);
    EXPECT_EQ(QM_AsymmetricVerifySign(&key, out.data(), &length, in, 1, CALG_RSA_SIGN), ERR_FAILED);
    EXPECT_EQ(QM_AsymmetricEncrypt(&key, 0, 0, nullptr, &length, in, 1, CALG_RSA_KEYX), ERR_FAILED);
    EXPECT_EQ(length, 7u);
    EXPECT_EQ(out, Buffer());
  }
  EXPECT_EQ(capture.Text(), "");
}

// A reference whose length does not count its NUL is malformed once the form
// test has classified it as a reference.
TEST_F(AsymmetricCallsTest, MalformedReferenceIsRefused) {
  const Reference ref = Ref("alpha", "PukExh");
  DataBlob key = ref.Blob();
  key.length -= 1;
  Bytes out = Buffer();
  uint32_t length = 7;
  const uint8_t in[1] = {1};
  EXPECT_EQ(QM_AsymmetricVerifySign(&key, out.data(), &length, in, 1, CALG_RSA_SIGN), ERR_FAILED);
  EXPECT_EQ(length, 7u);
}

TEST_F(AsymmetricCallsTest, PrivateCallsRefuseAPublicRecordReference) {
  Bytes out = Buffer();
  test::StdoutCapture capture;
  EXPECT_EQ(Decrypt(Ref("alpha", "PukExh").Blob(), &out, {1}), ERR_FAILED);
  EXPECT_EQ(Sign(Ref("alpha", "PukSig").Blob(), &out, {1}), ERR_FAILED);
  uint32_t length = 7;
  const Reference ref = Ref("alpha", "PukSig");
  const DataBlob key = ref.Blob();
  EXPECT_EQ(QM_AsymmetricSignData(&key, out.data(), 1, nullptr, &length, CALG_RSA_SIGN),
            ERR_FAILED);
  EXPECT_EQ(length, 7u);
  EXPECT_EQ(out, Buffer());
  EXPECT_EQ(capture.Text(), "");
}

TEST_F(AsymmetricCallsTest, NullArgumentsAreRefused) {
  const Reference ref = Ref("alpha", "PvkExh");
  const DataBlob key = ref.Blob();
  const DataBlob noData{54, nullptr};
  Bytes out = Buffer();
  uint32_t length = 7;
  const uint8_t in[1] = {1};
  EXPECT_EQ(QM_AsymmetricEncrypt(nullptr, 0, 0, out.data(), &length, in, 1, CALG_RSA_KEYX),
            ERR_FAILED);
  EXPECT_EQ(QM_AsymmetricEncrypt(&noData, 0, 0, out.data(), &length, in, 1, CALG_RSA_KEYX),
            ERR_FAILED);
  EXPECT_EQ(QM_AsymmetricDecrypt(&key, 0, 0, out.data(), &length, nullptr, 1, CALG_RSA_KEYX),
            ERR_FAILED);
  EXPECT_EQ(QM_AsymmetricSignData(&key, nullptr, 4, out.data(), &length, CALG_RSA_SIGN),
            ERR_FAILED);
  EXPECT_EQ(QM_AsymmetricVerifySign(&noData, out.data(), &length, in, 1, CALG_RSA_SIGN),
            ERR_FAILED);
  EXPECT_EQ(QM_AsymmetricSignData(&key, in, 1, out.data(), nullptr, CALG_RSA_SIGN), ERR_FAILED);
  EXPECT_EQ(length, 7u);
  EXPECT_EQ(out, Buffer());
}

// A SHA-1 DigestInfo block formatted here, signed by the token, checked by
// OpenSSL's PKCS #1 v1.5 verification with the pair's public key.
TEST_F(AsymmetricCallsTest, SignatureVerifiesWithOpenssl) {
  const Bytes message = marlinok::test::FromText("The quick brown fox jumps over the lazy dog");
  uint8_t digest[SHA_DIGEST_LENGTH];
  SHA1(message.data(), message.size(), digest);
  const Bytes prefix = marlinok::test::FromHex("3021300906052b0e03021a05000414");
  Bytes block = {0x00, 0x01};
  block.insert(block.end(), 128 - 3 - prefix.size() - sizeof digest, 0xFF);
  block.push_back(0x00);
  block.insert(block.end(), prefix.begin(), prefix.end());
  block.insert(block.end(), digest, digest + sizeof digest);
  ASSERT_EQ(block.size(), 128u);

  Bytes signature = Buffer();
  ASSERT_EQ(Sign(Ref("alpha", "PvkSig").Blob(), &signature, block), ERR_OK);

  const Bytes& pub = test::GeneratedPair(1024).publicRecord;
  RSA* rsa = RSA_new();
  RSA_set0_key(rsa, BN_bin2bn(pub.data() + kModulusOffset, RSA_MODULUS_BYTES, nullptr),
               BN_bin2bn(pub.data() + kPublicExponentOffset, RSA_MODULUS_BYTES, nullptr), nullptr);
  EXPECT_EQ(RSA_verify(NID_sha1, digest, sizeof digest, signature.data(),
                       static_cast<unsigned>(signature.size()), rsa),
            1);
  signature[5] ^= 1;
  EXPECT_NE(RSA_verify(NID_sha1, digest, sizeof digest, signature.data(),
                       static_cast<unsigned>(signature.size()), rsa),
            1);
  RSA_free(rsa);
}

// The private key lock held elsewhere (as by a long decrypt) does not hold up
// a public operation; the public key lock held elsewhere does.
TEST_F(AsymmetricCallsTest, PublicAndPrivateOperationsUseDifferentLocks) {
  const Reference ref = Ref("alpha", "PukSig");
  const DataBlob key = ref.Blob();
  const Bytes in = {0x12, 0x34};
  auto verify = [&] {
    Bytes out(256);
    uint32_t length = 0;
    return QM_AsymmetricVerifySign(&key, out.data(), &length, in.data(), 2, CALG_RSA_SIGN);
  };

  std::promise<void> held, release;
  std::thread holder([&] {
    ScopedLibraryLock lock(LibraryLock::PrivateKey);
    held.set_value();
    release.get_future().wait();
  });
  held.get_future().wait();
  std::future<int32_t> publicOp = std::async(std::launch::async, verify);
  const bool finished = publicOp.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  release.set_value();
  holder.join();
  ASSERT_TRUE(finished) << "a public operation waited for the private key lock";
  EXPECT_EQ(publicOp.get(), ERR_OK);

  std::promise<void> heldPublic, releasePublic;
  std::thread publicHolder([&] {
    ScopedLibraryLock lock(LibraryLock::PublicKey);
    heldPublic.set_value();
    releasePublic.get_future().wait();
  });
  heldPublic.get_future().wait();
  std::future<int32_t> waiting = std::async(std::launch::async, verify);
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout)
      << "two public operations must serialise";
  releasePublic.set_value();
  publicHolder.join();
  EXPECT_EQ(waiting.get(), ERR_OK);
}

// Decrypts in a loop on one thread while encrypts run on another: both sides
// finish with correct results.
TEST_F(AsymmetricCallsTest, DecryptLoopAlongsideEncrypts) {
  const Bytes message = {0x42};
  Bytes cipher = Buffer();
  test::StdoutCapture capture;
  ASSERT_EQ(Encrypt(Ref("alpha", "PukExh").Blob(), &cipher, message), ERR_OK);
  std::atomic<bool> stop{false};
  std::atomic<int> decryptFailures{0}, decrypts{0};
  std::thread decryptor([&] {
    const Reference ref = Ref("alpha", "PvkExh");
    while (!stop.load() || decrypts.load() == 0) {
      Bytes plain = Buffer();
      if (Decrypt(ref.Blob(), &plain, cipher) != ERR_OK || plain.back() != 0x42) ++decryptFailures;
      ++decrypts;
    }
  });
  for (int i = 0; i < 20; ++i) {
    Bytes out = Buffer();
    ASSERT_EQ(Encrypt(Ref("alpha", "PukExh").Blob(), &out, message), ERR_OK);
    ASSERT_EQ(out, cipher);
  }
  stop = true;
  decryptor.join();
  EXPECT_EQ(decryptFailures.load(), 0);
}

// References reach only the token's own key records: the PIN, a guarded
// key's value, a deeper key or another value name are unreadable, whatever
// the call, and nothing is printed or written.
TEST_F(AsymmetricCallsTest, ReferencesOutsideTheKeyRecordsAreUnreadable) {
  WriteValue(std::string("Software\\Quillmar\\ExportableKey\\guarded"), "Pvk", platform::kRegBinary,
             Bytes(1412, 0x5A));
  WriteValue(std::string(store::kContainerRoot), "Passwd", platform::kRegSz, Bytes(516, '7'));
  WriteValue(Container("alpha") + "\\deeper", "PvkSig", platform::kRegBinary, Bytes(1412, 1));
  const std::string refused[] = {
      std::string(store::kContainerRoot) + "\\Passwd",
      "Software\\Quillmar\\ExportableKey\\guarded\\Pvk",
      Container("alpha") + "\\deeper\\PvkSig",
      Container("alpha") + "\\SigProperty",
      std::string(store::kContainerRoot) + "\\\\PvkSig",
  };
  for (const std::string& path : refused) {
    SCOPED_TRACE(path);
    const Reference reference{path};
    const DataBlob ref = reference.Blob();
    Bytes out = Buffer();
    test::StdoutCapture capture;
    EXPECT_EQ(Sign(ref, &out, {1}), ERR_FAILED);
    EXPECT_EQ(Decrypt(ref, &out, {1}), ERR_FAILED);
    // Without the container root in it, the public calls take the bytes for
    // a direct 516-byte record, which these strings are not.
    if (path.find(store::kContainerRoot) != std::string::npos) {
      EXPECT_EQ(Encrypt(ref, &out, {1}), ERR_FAILED);
      EXPECT_EQ(Verify(ref, &out, {1}), ERR_FAILED);
    }
    EXPECT_EQ(out, Buffer());
    uint8_t value[4] = {0xA5, 0xA5, 0xA5, 0xA5};
    uint32_t length = 4;
    EXPECT_EQ(QM_GetKeyProperty(&ref, KP_BLOCKLEN, value, &length), ERR_FAILED);
    EXPECT_EQ(value[0], 0xA5);
    DataBlob blob{0, nullptr};
    EXPECT_EQ(QM_ExportPrivateKey(&ref, nullptr, &blob, 0), ERR_REFUSED);
    EXPECT_EQ(QM_ExportPublicKey(&ref, &blob), ERR_FAILED);
    EXPECT_EQ(capture.Text(), "");
  }
  // The registry's own comparison: any case of the root and the value name.
  Bytes out = Buffer();
  EXPECT_EQ(Sign(Reference{"SOFTWARE\\quillmar\\softcontainersimulator\\alpha\\pvksig"}.Blob(),
                 &out, {1}),
            ERR_OK);
}

// A key whose bytes hold no NUL is read no further than its length, and a
// direct record of an impossible bit length is refused with nothing written,
// size queries too.
TEST_F(AsymmetricCallsTest, PublicCallsReadNoFurtherThanTheKeyAndRefuseImpossibleLengths) {
  const std::string path = Container("alpha") + "\\PukSig";
  Bytes unterminated(path.begin(), path.end());
  const DataBlob noNul{static_cast<uint32_t>(unterminated.size()), unterminated.data()};
  Bytes out = Buffer();
  EXPECT_EQ(Verify(noNul, &out, {1}), ERR_FAILED);
  EXPECT_EQ(Encrypt(noNul, &out, {1}), ERR_FAILED);

  for (uint32_t bits : {0u, 2056u, 4096u, 0x7FFFFFF8u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(bits);
    Bytes record(516, 0);
    record[0] = static_cast<uint8_t>(bits);
    record[1] = static_cast<uint8_t>(bits >> 8);
    record[2] = static_cast<uint8_t>(bits >> 16);
    record[3] = static_cast<uint8_t>(bits >> 24);
    record[259] = 0xFF;  // n
    record[515] = 3;     // e
    const DataBlob direct{516, record.data()};
    Bytes result = Buffer();
    EXPECT_EQ(Verify(direct, &result, {1}), ERR_FAILED);
    EXPECT_EQ(Encrypt(direct, &result, {1}), ERR_FAILED);
    EXPECT_EQ(result, Buffer());
    uint32_t length = 0xA5A5A5A5u;
    EXPECT_EQ(QM_AsymmetricEncrypt(&direct, 0, 0, nullptr, &length, nullptr, 0, CALG_RSA_KEYX),
              ERR_FAILED);
    EXPECT_EQ(length, 0xA5A5A5A5u);
  }
}

// A size query reads no input, so a null input does not refuse it.
TEST_F(AsymmetricCallsTest, SizeQueriesAnswerWhateverTheInput) {
  for (const char* value : {"PukExh", "PvkExh", "PvkSig"}) {
    SCOPED_TRACE(value);
    const Reference reference = Ref("alpha", value);
    const DataBlob ref = reference.Blob();
    uint32_t length = 0;
    const int32_t status =
        value[1] == 'u'
            ? QM_AsymmetricEncrypt(&ref, 0, 0, nullptr, &length, nullptr, 128, CALG_RSA_KEYX)
        : value[4] == 'E'
            ? QM_AsymmetricDecrypt(&ref, 0, 0, nullptr, &length, nullptr, 128, CALG_RSA_KEYX)
            : QM_AsymmetricSignData(&ref, nullptr, 128, nullptr, &length, CALG_RSA_SIGN);
    EXPECT_EQ(status, ERR_OK);
    EXPECT_EQ(length, 128u);
  }
  const Reference reference = Ref("alpha", "PukSig");
  const DataBlob ref = reference.Blob();
  uint32_t length = 0;
  EXPECT_EQ(QM_AsymmetricVerifySign(&ref, nullptr, &length, nullptr, 128, CALG_RSA_SIGN),
            ERR_FAILED);
  EXPECT_EQ(length, 128u) << "verify answers its size query with -1 and the length";
  Bytes out = Buffer();
  EXPECT_EQ(QM_AsymmetricEncrypt(&ref, 0, 0, out.data(), &length, nullptr, 128, CALG_RSA_KEYX),
            ERR_FAILED)
      << "a call that would read the input still refuses a null one";
}

}  // namespace
}  // namespace marlinok::rsa
