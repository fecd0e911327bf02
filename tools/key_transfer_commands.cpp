// export / import: key pairs in and out of the token as CryptoAPI key blobs,
// and as PEM through OpenSSL's encoders and decoders.
#include <openssl/bio.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "cli.h"
#include "rsa_blocks.h"

namespace marlinok::tool {
namespace {

using BioPtr = std::unique_ptr<BIO, decltype(&BIO_free)>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

struct TransferOptions {
  RsaOptions rsa;
  std::string format = "pem";  // pem | blob | private-blob
  std::string wrapKeyFile;
  uint32_t wrapAlgId = 0;
};

bool ParseTransferOptions(const std::vector<std::string>& args, TransferOptions* o,
                          std::string* problem) {
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--format" && hasValue) {
      o->format = args[++i];
    } else if ((a == "--wrap-3des" || a == "--wrap-rc4") && hasValue) {
      o->wrapKeyFile = args[++i];
      o->wrapAlgId = a == "--wrap-3des" ? CALG_3DES : CALG_RC4;
    } else {
      rest.push_back(a);
    }
  }
  o->rsa = ParseRsaOptions(rest);
  if (!o->rsa.unknown.empty()) {
    *problem = "unknown option '" + o->rsa.unknown + "'";
    return false;
  }
  if (o->format != "pem" && o->format != "blob" && o->format != "private-blob") {
    *problem = "--format is pem, blob or private-blob";
    return false;
  }
  if (!o->wrapKeyFile.empty() && o->format != "private-blob") {
    *problem = "only a private blob can be wrapped";
    return false;
  }
  return true;
}

int ExportPublicPem(KeyReference& key, const RsaOptions& o) {
  int32_t status = ERR_OK;
  const Block bytes = ExportedPublicBlob(key, &status);
  if (status != ERR_OK) return Fail("no public key at " + key.Path(), status);
  const unsigned char* p = bytes.data();
  PkeyPtr pkey(b2i_PublicKey(&p, static_cast<long>(bytes.size())), &EVP_PKEY_free);
  if (!pkey) return Fail("OpenSSL cannot read the exported public key");
  BioPtr out(
      o.output.empty() ? BIO_new_fp(stdout, BIO_NOCLOSE) : BIO_new_file(o.output.c_str(), "w"),
      &BIO_free);
  if (!out || PEM_write_bio_PUBKEY(out.get(), pkey.get()) != 1)
    return Fail("cannot write the PEM public key");
  return kExitOk;
}

int ExportBlob(KeyReference& key, const TransferOptions& o) {
  if (o.format == "blob") {
    int32_t status = ERR_OK;
    const Block bytes = ExportedPublicBlob(key, &status);
    if (status != ERR_OK) return Fail("no public key at " + key.Path(), status);
    return Emit(o.rsa.output, bytes);
  }
  Block wrapKeyBytes;
  DataBlob wrapKey{0, nullptr};
  if (!o.wrapKeyFile.empty()) {
    std::string error;
    if (!ReadFile(o.wrapKeyFile, &wrapKeyBytes, &error)) return Fail(error);
    wrapKey = DataBlob{static_cast<uint32_t>(wrapKeyBytes.size()), wrapKeyBytes.data()};
  }
  DataBlob* wrap = o.wrapKeyFile.empty() ? nullptr : &wrapKey;
  const uint32_t algId = o.wrapAlgId != 0 ? o.wrapAlgId : CALG_RC4;
  DataBlob blob{0, nullptr};
  int32_t status = QM_ExportPrivateKey(key.Blob(), wrap, &blob, algId);
  if (status != ERR_OK) return Fail("no private key at " + key.Path(), status);
  Block bytes(blob.length);
  blob.data = bytes.data();
  status = QM_ExportPrivateKey(key.Blob(), wrap, &blob, algId);
  if (status != ERR_OK) return Fail("private key export failed", status);
  bytes.resize(wrap != nullptr ? blob.length : bytes.size());
  return Emit(o.rsa.output, bytes);
}

int RunExport(const std::vector<std::string>& args) {
  TransferOptions o;
  std::string problem;
  if (!ParseTransferOptions(args, &o, &problem)) return UsageError(kExportCommand, problem);
  if (o.rsa.positional.size() != 1) return UsageError(kExportCommand, "CONTAINER expected");
  KeyReference key(o.rsa.positional[0], o.rsa.exchange, o.format == "private-blob");
  if (o.format == "pem") return ExportPublicPem(key, o.rsa);
  return ExportBlob(key, o);
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
  char* data = nullptr;
  const long size = BIO_get_mem_data(out.get(), &data);
  blob->assign(data, data + size);
  return true;
}

int RunImport(const std::vector<std::string>& args) {
  const RsaOptions o = ParseRsaOptions(args);
  if (!o.unknown.empty()) return UsageError(kImportCommand, "unknown option '" + o.unknown + "'");
  if (o.positional.size() != 2) return UsageError(kImportCommand, "CONTAINER and FILE expected");
  Block file, blob;
  std::string problem;
  if (!ReadFile(o.positional[1], &file, &problem)) return Fail(problem);
  if (!PrivateBlobFromFile(file, &blob, &problem)) return Fail(problem);
  const std::string& container = o.positional[0];
  Block publicPath(container.size() + 64), privatePath(container.size() + 64);
  DataBlob publicRef{0, publicPath.data()}, privateRef{0, privatePath.data()};
  DataBlob in{static_cast<uint32_t>(blob.size()), blob.data()};
  const uint32_t pairType = o.exchange ? MARLINOK_PAIR_EXCHANGE : MARLINOK_PAIR_SIGNATURE;
  const int32_t status =
      QM_ImportPrivateKey(container.c_str(), &in, pairType, &publicRef, &privateRef);
  if (status != ERR_OK)
    return Fail("the key could not be imported into '" + container +
                    "' (a private-key blob of a multiple of 16 bits, up to 2048, is needed)",
                status);
  std::printf("%s\n%s\n", reinterpret_cast<char*>(publicPath.data()),
              reinterpret_cast<char*>(privatePath.data()));
  return kExitOk;
}

}  // namespace

const Command kExportCommand{
    "export", "a stored key as PEM, PUBLICKEYBLOB or PRIVATEKEYBLOB",
    "CONTAINER [--exchange] [--format pem|blob|private-blob]\n"
    "       [--wrap-3des KEYFILE|--wrap-rc4 KEYFILE] [-o FILE]\n"
    "  pem (default): the public key; blob: the PUBLICKEYBLOB; private-blob: the\n"
    "  PRIVATEKEYBLOB, encrypted after its header when a wrapping key is given.\n"
    "  Blobs go to FILE, or as hex to standard output.\n"
    "  example: marlinok-tool export alpha -o alpha.pem",
    RunExport};
const Command kImportCommand{
    "import", "a PRIVATEKEYBLOB or a PEM private key into a container",
    "CONTAINER FILE [--exchange]\n"
    "  prints the two key references (public, private)\n"
    "  example: openssl genrsa -out k.pem 2048 && marlinok-tool import alpha k.pem",
    RunImport};

}  // namespace marlinok::tool
