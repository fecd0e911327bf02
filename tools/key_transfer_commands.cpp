// export / import: key pairs in and out of the token as CryptoAPI key blobs,
// and as PEM through OpenSSL's encoders and decoders.
#include <openssl/bio.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "cli.h"
#include "files.h"
#include "hive.h"
#include "rsa_blocks.h"
#include "symmetric.h"

namespace marlinok::tool {
namespace {

using BioPtr = std::unique_ptr<BIO, decltype(&BIO_free)>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

// The bytes an OpenSSL memory BIO holds.
Block BioBytes(BIO* bio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  return size > 0 ? Block(data, data + size) : Block();
}

int ExportPublicPem(KeyReference& key, const std::string& output) {
  int32_t status = ERR_OK;
  const Block bytes = ExportedPublicBlob(key, &status);
  if (status != ERR_OK) return Fail("no public key at " + key.Path(), status);
  const unsigned char* p = bytes.data();
  PkeyPtr pkey(b2i_PublicKey(&p, static_cast<long>(bytes.size())), &EVP_PKEY_free);
  if (!pkey) return Fail("OpenSSL cannot read the exported public key");
  BioPtr pem(BIO_new(BIO_s_mem()), &BIO_free);
  if (!pem || PEM_write_bio_PUBKEY(pem.get(), pkey.get()) != 1)
    return Fail("OpenSSL cannot write the PEM public key");
  const Block text = BioBytes(pem.get());
  if (!output.empty()) {
    std::string error;
    if (!WriteOutput(output, text, FileMode::kPublic, &error)) return Fail(error);
    return kExitOk;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  return kExitOk;
}

int ExportPrivateBlob(const std::string& container, bool exchange, KeyReference& key,
                      const Args& args) {
  std::string reason;
  if (!PairExportable(key.Path(), exchange, &reason))
    return Fail("the private key in '" + Printable(container) + "' cannot be exported: " + reason);
  Block wrapKeyBytes;
  DataBlob wrapKey{0, nullptr};
  const bool wrapped = args.Has("wrap");
  const uint32_t algId = args.Chosen("wrap") == "--wrap-3des" ? CALG_3DES : CALG_RC4;
  if (wrapped) {
    std::string error;
    if (!ReadKeyFile(args.Value("wrap"), algId, &wrapKeyBytes, &error)) return Fail(error);
    wrapKey = DataBlob{static_cast<uint32_t>(wrapKeyBytes.size()), wrapKeyBytes.data()};
  }
  DataBlob* wrap = wrapped ? &wrapKey : nullptr;
  DataBlob blob{0, nullptr};
  int32_t status = QM_ExportPrivateKey(key.Blob(), wrap, &blob, algId);
  if (status != ERR_OK) return Fail("no private key at " + key.Path(), status);
  Block bytes(blob.length);
  blob.data = bytes.data();
  status = QM_ExportPrivateKey(key.Blob(), wrap, &blob, algId);
  if (status != ERR_OK) return Fail("private key export failed", status);
  bytes.resize(wrapped ? blob.length : bytes.size());
  return Emit(args.Value("out"), bytes, FileMode::kSecret);
}

int RunExport(const Args& args) {
  const std::string format = args.Value("format", "pem");
  if (format != "pem" && format != "blob" && format != "private-blob")
    return UsageError(kExportCommand, "--format is pem, blob or private-blob");
  if (args.Has("wrap") && format != "private-blob")
    return UsageError(kExportCommand, "only a private blob can be wrapped");
  if (args.operands.size() != 1) return UsageError(kExportCommand, "CONTAINER expected");
  const std::string& container = args.operands[0];
  if (const int failed = RequireRegistry()) return failed;
  const bool exchange = args.Chosen("pair") == "--exchange";
  KeyReference publicKey, privateKey;
  const int32_t status = FindPair(container, exchange, &publicKey, &privateKey);
  if (status != ERR_OK) return Fail(NoPair(container, exchange), status);
  if (format == "pem") return ExportPublicPem(publicKey, args.Value("out"));
  if (format == "private-blob") return ExportPrivateBlob(container, exchange, privateKey, args);
  int32_t exported = ERR_OK;
  const Block bytes = ExportedPublicBlob(publicKey, &exported);
  if (exported != ERR_OK) return Fail("no public key at " + publicKey.Path(), exported);
  return Emit(args.Value("out"), bytes, FileMode::kPublic);
}

// A PRIVATEKEYBLOB as it stands, or a PEM private key turned into one.
bool PrivateBlobFromFile(const Block& file, Block* blob, std::string* problem) {
  static const char kPemStart[] = "-----BEGIN";
  if (file.size() < sizeof kPemStart - 1 ||
      std::memcmp(file.data(), kPemStart, sizeof kPemStart - 1) != 0) {
    *blob = file;
    return true;
  }
  BioPtr in(BIO_new_mem_buf(file.data(), static_cast<int>(file.size())), &BIO_free);
  PkeyPtr key(PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr), &EVP_PKEY_free);
  if (!key) {
    *problem = "not a PEM private key OpenSSL can read";
    return false;
  }
  BioPtr out(BIO_new(BIO_s_mem()), &BIO_free);
  if (i2b_PrivateKey_bio(out.get(), key.get()) <= 0) {
    *problem = "OpenSSL cannot write this key as a private-key blob (not RSA?)";
    return false;
  }
  *blob = BioBytes(out.get());
  return true;
}

uint32_t LittleEndian32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// What the token stores without looking further: a PRIVATEKEYBLOB, version
// 2, of an RSA algorithm, magic "RSA2", 508 to 2048 bits in steps of 16, and
// exactly the bytes that bit length needs. "" when the blob is one.
std::string PrivateBlobProblem(const Block& blob) {
  constexpr std::size_t kHeader = 20;  // BLOBHEADER, magic, bit length, public exponent
  if (blob.size() < kHeader) return "too short for a private-key blob";
  if (blob[0] != 7) return "not a PRIVATEKEYBLOB (type " + std::to_string(blob[0]) + ")";
  if (blob[1] != 2) return "blob version " + std::to_string(blob[1]) + ", not 2";
  const uint32_t algId = LittleEndian32(&blob[4]);
  if (algId != CALG_RSA_KEYX && algId != CALG_RSA_SIGN) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", algId);
    return std::string("algorithm ") + text + " is not RSA";
  }
  if (std::memcmp(&blob[8], "RSA2", 4) != 0) return "the key magic is not RSA2";
  const uint32_t bits = LittleEndian32(&blob[12]);
  if (bits < 508 || bits > 2048 || bits % 16 != 0)
    return std::to_string(bits) + " bits: the token keeps 508 to 2048, a multiple of 16";
  const std::size_t expected = kHeader + std::size_t{9} * bits / 16;
  if (blob.size() != expected)
    return std::to_string(blob.size()) + " bytes where a " + std::to_string(bits) +
           "-bit private-key blob has " + std::to_string(expected);
  return "";
}

int RunImport(const Args& args) {
  if (args.operands.size() != 2) return UsageError(kImportCommand, "CONTAINER and FILE expected");
  const std::string& container = args.operands[0];
  const std::string& file = args.operands[1];
  if (const std::string problem = NameProblem(container); !problem.empty())
    return Fail("cannot import into '" + Printable(container) + "': " + problem);
  Block bytes, blob;
  std::string problem;
  if (!ReadInput(file, kWholeFileBytes, &bytes, &problem)) return Fail(problem);
  if (!PrivateBlobFromFile(bytes, &blob, &problem) || !(problem = PrivateBlobProblem(blob)).empty())
    return Fail("'" + Printable(file) + "' is not a key the token takes: " + problem);
  if (const int failed = RequireRegistry()) return failed;
  Block publicPath(container.size() + 64), privatePath(container.size() + 64);
  DataBlob publicRef{0, publicPath.data()}, privateRef{0, privatePath.data()};
  DataBlob in{static_cast<uint32_t>(blob.size()), blob.data()};
  const uint32_t pairType =
      args.Chosen("pair") == "--exchange" ? MARLINOK_PAIR_EXCHANGE : MARLINOK_PAIR_SIGNATURE;
  const int32_t status =
      QM_ImportPrivateKey(container.c_str(), &in, pairType, &publicRef, &privateRef);
  if (status != ERR_OK)
    return Fail("the key could not be imported into '" + Printable(container) + "'", status);
  std::printf("%s\n%s\n", reinterpret_cast<char*>(publicPath.data()),
              reinterpret_cast<char*>(privatePath.data()));
  return kExitOk;
}

}  // namespace

const Command kExportCommand{
    "export",
    "a stored key as PEM, PUBLICKEYBLOB or PRIVATEKEYBLOB",
    "CONTAINER [--exchange] [--format pem|blob|private-blob]\n"
    "       [--wrap-3des KEYFILE|--wrap-rc4 KEYFILE] [-o FILE]\n"
    "  pem (default): the public key; blob: the PUBLICKEYBLOB; private-blob: the\n"
    "  PRIVATEKEYBLOB of an exportable pair, encrypted after its header when a wrapping\n"
    "  key is given, written 0600. Blobs go to FILE, or as hex to standard output.\n"
    "  example: marlinok-tool export alpha -o alpha.pem",
    RunExport,
    {{"--exchange", nullptr, "pair"},
     {"--signature", nullptr, "pair"},
     {"--format", "FORMAT", "format"},
     {"--wrap-3des", "KEYFILE", "wrap"},
     {"--wrap-rc4", "KEYFILE", "wrap"},
     {"-o", "FILE", "out"},
     {"--out", "FILE", "out"}}};
const Command kImportCommand{
    "import",
    "a PRIVATEKEYBLOB or a PEM private key into a container",
    "CONTAINER FILE [--exchange]\n"
    "  (RSA, 508 to 2048 bits in steps of 16; prints the two key references, public\n"
    "  and private)\n"
    "  example: openssl genrsa -out k.pem 2048 && marlinok-tool import alpha k.pem",
    RunImport,
    {{"--exchange", nullptr, "pair"}, {"--signature", nullptr, "pair"}}};

}  // namespace marlinok::tool
