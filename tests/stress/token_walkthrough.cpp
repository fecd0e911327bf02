// One full walk through the token, through the shared library's exports
// alone: containers, 1024-bit pairs, sign and verify, encrypt and decrypt, key
// blobs out and back in, symmetric keys, digests, the PIN and the password-
// guarded store, and everything destroyed again. Run plainly by ctest and
// under Valgrind memcheck by scripts/valgrind.sh. Exit status 0: every step
// gave the expected result.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "marlinok.h"

namespace {

using Bytes = std::vector<uint8_t>;
int g_failures = 0;

void Expect(bool ok, const char* step) {
  std::fprintf(stderr, "%s %s\n", ok ? "ok  " : "FAIL", step);
  if (!ok) ++g_failures;
}

struct Ref {
  Bytes bytes = Bytes(128, 0);
  DataBlob blob{128, nullptr};
  Ref() { blob.data = bytes.data(); }
};

Bytes Block(uint8_t seed) {
  Bytes b(128);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(seed + 7 * i);
  b[0] = 0;  // below any 1024-bit modulus
  return b;
}

void Walk() {
  Expect(QM_CreateContainer("walk") == ERR_OK, "create container");
  Expect(QM_CreateContainer("walk") == ERR_FAILED, "create it twice");
  Expect(QMCA_SetPin(1, "1234") == 1, "set the PIN");
  Expect(QMCA_Login(1, "1234") == ERR_OK, "log in");
  Expect(QMCA_Login(1, "4321") == ERR_FAILED, "log in with a wrong PIN");

  Ref sigPub, sigPriv, exPub, exPriv;
  Expect(QM_GenAsymmetricKey("walk", &sigPub.blob, &sigPriv.blob, 1024, 1,
                             MARLINOK_PAIR_SIGNATURE) == ERR_OK,
         "generate a 1024-bit signature pair");
  Expect(QM_GenAsymmetricKey("walk", &exPub.blob, &exPriv.blob, 1024, 1, MARLINOK_PAIR_EXCHANGE) ==
             ERR_OK,
         "generate a 1024-bit exchange pair");
  Ref found[4];
  Expect(QM_FindContainerAndKeypair("walk", &found[0].blob, &found[1].blob, &found[2].blob,
                                    &found[3].blob) == ERR_OK,
         "find the container's pairs");

  // Sign and verify; encrypt and decrypt.
  const Bytes block = Block(3);
  Bytes signature(128), back(128);
  uint32_t length = 0;
  Expect(QM_AsymmetricSignData(&sigPriv.blob, block.data(), 128, signature.data(), &length,
                               CALG_RSA_SIGN) == ERR_OK &&
             length == 128,
         "sign");
  Expect(QM_AsymmetricVerifySign(&sigPub.blob, back.data(), &length, signature.data(), 128,
                                 CALG_RSA_SIGN) == ERR_OK &&
             back == block,
         "verify");
  Bytes cipher(128);
  Expect(QM_AsymmetricEncrypt(&exPub.blob, 0, 0, cipher.data(), &length, block.data(), 128,
                              CALG_RSA_KEYX) == ERR_OK,
         "encrypt");
  Expect(QM_AsymmetricDecrypt(&exPriv.blob, 0, 0, back.data(), &length, cipher.data(), 128,
                              CALG_RSA_KEYX) == ERR_OK &&
             back == Block(3),
         "decrypt");

  // Key properties.
  uint8_t value[4] = {};
  length = sizeof value;
  Expect(QM_GetKeyProperty(&exPub.blob, KP_ALGID, value, &length) == ERR_OK && value[0] == 0x00 &&
             value[1] == 0xA4,
         "key property: algorithm");
  length = sizeof value;
  Expect(QM_GetKeyProperty(&exPub.blob, KP_BLOCKLEN, value, &length) == ERR_OK &&
             value[0] == 0x00 && value[1] == 0x04,
         "key property: block length");

  // Blobs out and back in.
  DataBlob query{0, nullptr};
  Expect(QM_ExportPublicKey(&exPub.blob, &query) == ERR_OK, "public blob size");
  Bytes publicBlob(query.length);
  DataBlob publicOut{query.length, publicBlob.data()};
  Expect(QM_ExportPublicKey(&exPub.blob, &publicOut) == ERR_OK, "export the public blob");
  Bytes record(MARLINOK_PUBLIC_RECORD_BYTES);
  DataBlob recordBlob{MARLINOK_PUBLIC_RECORD_BYTES, record.data()};
  Expect(QM_ImportPublicKey(&publicOut, 1, &recordBlob) == ERR_OK, "import the public blob");
  Bytes direct(128);
  Expect(QM_AsymmetricEncrypt(&recordBlob, 0, 0, direct.data(), &length, block.data(), 128,
                              CALG_RSA_KEYX) == ERR_OK &&
             direct == cipher,
         "encrypt with the imported record");

  query = DataBlob{0, nullptr};
  Expect(QM_ExportPrivateKey(&exPriv.blob, nullptr, &query, 0) == ERR_OK, "private blob size");
  Bytes privateBlob(query.length);
  DataBlob privateOut{query.length, privateBlob.data()};
  Expect(QM_ExportPrivateKey(&exPriv.blob, nullptr, &privateOut, 0) == ERR_OK,
         "export the private blob");
  Ref importedPub, importedPriv;
  Expect(QM_ImportPrivateKey("walk-copy", &privateOut, MARLINOK_PAIR_EXCHANGE, &importedPub.blob,
                             &importedPriv.blob) == ERR_OK,
         "import the private blob into another container");
  Expect(QM_AsymmetricDecrypt(&importedPriv.blob, 0, 0, back.data(), &length, cipher.data(), 128,
                              CALG_RSA_KEYX) == ERR_OK &&
             back == block,
         "decrypt with the imported pair");

  // Symmetric keys: generate, wrap, export, import, encrypt, decrypt, destroy.
  Bytes tdes(24);
  DataBlob tdesKey{24, tdes.data()};
  Expect(QM_GenSymmetricKey(CALG_3DES, &tdesKey, 0) == ERR_OK, "generate a 3DES key");
  Bytes rc4(16);
  DataBlob rc4Key{16, rc4.data()};
  Expect(QM_GenSymmetricKey(CALG_RC4, &rc4Key, 0) == ERR_OK, "generate an RC4 key");
  query = DataBlob{0, nullptr};
  Expect(QM_ExportPrivateKey(&exPriv.blob, &tdesKey, &query, CALG_3DES) == ERR_OK,
         "wrapped private blob size");
  Bytes wrappedBlob(query.length);
  DataBlob wrappedOut{query.length, wrappedBlob.data()};
  Expect(QM_ExportPrivateKey(&exPriv.blob, &tdesKey, &wrappedOut, CALG_3DES) == ERR_OK,
         "export the private blob under 3DES");
  DataBlob simpleQuery{0, nullptr};
  Expect(QM_ExportSymmetricKey(&tdesKey, &recordBlob, &simpleQuery, CALG_3DES) == ERR_OK,
         "wrapped symmetric blob size");
  Bytes simple(simpleQuery.length);
  DataBlob simpleOut{simpleQuery.length, simple.data()};
  Expect(QM_ExportSymmetricKey(&tdesKey, &recordBlob, &simpleOut, CALG_3DES) == ERR_OK,
         "wrap the 3DES key under the exchange key");
  DataBlob plainQuery{0, nullptr};
  Expect(QM_ExportSymmetricKey(&tdesKey, nullptr, &plainQuery, CALG_3DES) == ERR_OK,
         "plain symmetric blob size");
  Bytes plain(plainQuery.length);
  DataBlob plainOut{plainQuery.length, plain.data()};
  Expect(QM_ExportSymmetricKey(&tdesKey, nullptr, &plainOut, CALG_3DES) == ERR_OK,
         "export the 3DES key plain");
  Bytes imported(24);
  DataBlob importedKey{24, imported.data()};
  Expect(QM_ImportSymmetricKey(&plainOut, CALG_3DES, &importedKey) == ERR_OK && imported == tdes,
         "import the 3DES key");

  const char text[] = "Now is the time for all good men";  // 32 bytes
  const uint32_t n = 32;
  for (uint32_t mode : {CRYPT_MODE_CBC, CRYPT_MODE_ECB, CRYPT_MODE_OFB, CRYPT_MODE_CFB}) {
    Bytes enc(n), dec(n);
    uint32_t encLength = n, decLength = n;
    Expect(QM_SymmetricEncrypt(&importedKey, 0, 0, reinterpret_cast<const uint8_t*>(text), n,
                               enc.data(), &encLength, CALG_3DES, mode) == ERR_OK &&
               QM_SymmetryDecrypt(&tdesKey, 0, 0, enc.data(), n, dec.data(), &decLength, CALG_3DES,
                                  mode) == ERR_OK &&
               std::memcmp(dec.data(), text, n) == 0,
           "3DES round trip");
  }
  Bytes enc(n), dec(n);
  uint32_t encLength = n, decLength = n;
  Expect(QM_SymmetricEncrypt(&rc4Key, 0, 0, reinterpret_cast<const uint8_t*>(text), n, enc.data(),
                             &encLength, CALG_RC4, 0) == ERR_OK &&
             QM_SymmetryDecrypt(&rc4Key, 0, 0, enc.data(), n, dec.data(), &decLength, CALG_RC4,
                                0) == ERR_OK &&
             std::memcmp(dec.data(), text, n) == 0,
         "RC4 round trip");
  Expect(QM_DestroyKey(&tdesKey) == ERR_OK, "destroy the 3DES key");
  Expect(QM_DestroyKey(&importedKey) == ERR_OK, "destroy the imported key");
  Expect(QM_DestroyKey(&rc4Key) == ERR_OK, "destroy the RC4 key");
  Expect(QM_DestroyKey(&recordBlob) == ERR_OK, "destroy the imported public record");

  // Digests and random bytes.
  uint8_t digest[20];
  uint32_t digestLength = sizeof digest;
  const uint8_t abc[] = {'a', 'b', 'c'};
  Expect(QM_Digest(digest, &digestLength, abc, 3, CALG_SHA1) == ERR_OK && digest[0] == 0xA9 &&
             digest[19] == 0x9D,
         "SHA-1 of abc");
  digestLength = sizeof digest;
  Expect(QM_Digest(digest, &digestLength, abc, 3, CALG_MD5) == ERR_OK && digest[0] == 0x90 &&
             digest[15] == 0x72,
         "MD5 of abc");
  uint8_t random[16];
  DataBlob randomBlob{16, random};
  Expect(QM_GenRandom(&randomBlob) == ERR_OK, "random bytes");
  uint32_t algIds[8];
  uint32_t count = 8;
  Expect(QM_GetSupportedAlgId(algIds, &count) == ERR_OK && count == 6, "supported algorithms");

  // The password-guarded store and the enumerations.
  uint8_t secret[] = {9, 8, 7, 6, 5};
  char entryName[] = "walk-entry";
  const DataBlob secretBlob{sizeof secret, secret};
  const DataBlob entry{sizeof entryName, reinterpret_cast<uint8_t*>(entryName)};
  const uint8_t password[] = {'p', 'w', 0};
  Expect(QMCA_ImportPrivateKey(&secretBlob, password, 3, &entry) == ERR_OK, "store a guarded key");
  uint8_t out[16];
  DataBlob outBlob{sizeof out, out};
  Expect(QMCA_ExportPrivateKey(&entry, password, 2, &outBlob) == ERR_OK && outBlob.length == 5 &&
             std::memcmp(out, secret, 5) == 0,
         "hand the guarded key back");
  uint32_t namesLength = 0;
  Expect(QMCA_EnumKeyContainerName(nullptr, &namesLength) == ERR_OK, "container names size");
  std::string names(namesLength, '\0');
  Expect(QMCA_EnumKeyContainerName(&names[0], &namesLength) == ERR_OK &&
             std::string(names.c_str()) == "walk|walk-copy",
         "container names");

  Expect(QM_DestroyContainer("walk-copy") == ERR_OK, "destroy the copy");
  Expect(QM_DestroyContainer("walk") == ERR_OK, "destroy the container");
  Expect(QM_AsymmetricSignData(&sigPriv.blob, block.data(), 128, signature.data(), &length,
                               CALG_RSA_SIGN) == ERR_FAILED,
         "a destroyed key signs no more");
}

}  // namespace

int main() {
  // A hive of its own, removed afterwards.
  char folder[] = "/tmp/marlinok-walk-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 2;
  const std::string hive = std::string(folder) + "/registry.db";
  setenv("MARLINOK_REGISTRY", hive.c_str(), 1);
  Walk();
  for (const char* suffix : {"", "-wal", "-shm"}) unlink((hive + suffix).c_str());
  rmdir(folder);
  std::fprintf(stderr, "%s\n", g_failures == 0 ? "walkthrough passed" : "walkthrough FAILED");
  return g_failures == 0 ? 0 : 1;
}
