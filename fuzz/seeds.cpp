// Writes the seed corpora: real key blobs (exported by the library from the
// fixed-seed pairs), genuine key references and records, symmetric messages
// in every mode, in the byte layout each harness reads.
//   marlinok-fuzz-seeds OUTPUT_FOLDER   (one subfolder per harness)
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "marlinok.h"
#include "support/fuzz_support.h"

using namespace marlinok;
using namespace marlinok::fuzz;

namespace {

std::string g_root;
int g_count = 0;

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
void Append(Bytes& out, const uint8_t* bytes, std::size_t n) {
  out.insert(out.end(), bytes, bytes + n);
}
void AppendU32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void AppendText(Bytes& out, const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }

void Write(const char* harness, const Bytes& seed) {
  const std::string folder = g_root + "/" + harness;
  mkdir(folder.c_str(), 0755);
  const std::string path = folder + "/seed-" + std::to_string(++g_count);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) Fail("cannot write a seed");
  if (!seed.empty()) std::fwrite(seed.data(), 1, seed.size(), f);
  std::fclose(f);
}

Bytes ExportBlob(const std::string& ref, bool privateBlob) {
  DataBlob r{static_cast<uint32_t>(ref.size()),
             reinterpret_cast<uint8_t*>(const_cast<char*>(ref.data()))};
  DataBlob query{0, nullptr};
  if ((privateBlob ? QM_ExportPrivateKey(&r, nullptr, &query, 0)
                   : QM_ExportPublicKey(&r, &query)) != ERR_OK)
    Fail("size of a seed blob");
  Bytes blob(query.length);
  DataBlob out{query.length, blob.data()};
  if ((privateBlob ? QM_ExportPrivateKey(&r, nullptr, &out, 0) : QM_ExportPublicKey(&r, &out)) !=
      ERR_OK)
    Fail("seed blob");
  return blob;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 64;
  }
  g_root = argv[1];
  mkdir(g_root.c_str(), 0755);
  UseTemporaryHive();
  for (uint32_t bits : {1024u, 528u}) {
    const std::string name = "k" + std::to_string(bits);
    PlantPair(name.c_str(), MARLINOK_PAIR_EXCHANGE, FixedPair(bits));
    PlantPair(name.c_str(), MARLINOK_PAIR_SIGNATURE, FixedPair(bits));
    for (const char* value : {"PukExh", "PukSig"}) {
      Bytes seed{1};
      Append(seed, ExportBlob(KeyReference(name.c_str(), value), false));
      Write("import_public_key_fuzz", seed);
    }
    for (uint8_t pairType : {1, 2}) {
      Bytes seed{pairType};
      Append(seed,
             ExportBlob(KeyReference(name.c_str(), pairType == 1 ? "PvkExh" : "PvkSig"), true));
      Write("import_private_key_fuzz", seed);
    }
  }

  // Symmetric key blobs: a 12-byte header, then the key.
  for (uint8_t alg : {0, 1}) {
    Bytes seed{alg};
    const uint32_t algId = alg == 0 ? CALG_RC4 : CALG_3DES;
    Bytes header{1, 2, 0, 0};
    AppendU32(header, algId);
    AppendU32(header, CALG_RSA_KEYX);
    Append(seed, header);
    for (uint8_t i = 0; i < (alg == 0 ? 16 : 24); ++i)
      seed.push_back(static_cast<uint8_t>(0x11 * i + 1));
    Write("import_symmetric_key_fuzz", seed);
  }

  // Symmetric messages: algorithm, mode, flags, key length, key, input.
  for (uint8_t alg : {0, 1, 2})
    for (uint8_t mode : {1, 2, 3, 4})
      for (uint8_t flags : {0, 1}) {
        if (alg == 2 && mode != 1) continue;
        const uint8_t keyLength = alg == 0 ? 8 : alg == 1 ? 24 : 16;
        Bytes seed{alg, mode, flags, keyLength};
        for (uint8_t i = 0; i < keyLength; ++i)
          seed.push_back(static_cast<uint8_t>(0x13 * i + 0x40));
        AppendText(seed, "Now is the time for all ");
        Write("symmetric_fuzz", seed);
      }

  // Digests.
  for (uint8_t alg : {0, 1}) {
    Bytes seed{alg, static_cast<uint8_t>(alg == 0 ? 16 : 20)};
    AppendText(seed, "abc");
    Write("digest_fuzz", seed);
  }

  // Asymmetric calls: planted references, a reference text, direct and planted records.
  const RecordPair& pair = FixedPair(1024);
  for (uint8_t op = 0; op < 4; ++op) {
    for (uint8_t planted : {0, 1, 2, 3, 4, 5, 6}) {
      Bytes seed{op, planted};
      for (uint8_t i = 0; i < 16; ++i) seed.push_back(static_cast<uint8_t>(i + 1));
      Write("asymmetric_fuzz", seed);
    }
    Bytes text{static_cast<uint8_t>(op | 1 << 2)};
    const std::string ref = KeyReference("k1024", op % 2 == 0 ? "PukExh" : "PvkExh");
    AppendU32(text, static_cast<uint32_t>(ref.size()));
    text.push_back(static_cast<uint8_t>(ref.size() - 1));
    AppendText(text, ref.substr(0, ref.size() - 1));
    AppendText(text, "block");
    Write("asymmetric_fuzz", text);
    Bytes direct{static_cast<uint8_t>(op | 2 << 2)};
    Append(direct, pair.privateRecord.bytes, sizeof pair.privateRecord);
    AppendU32(direct, 0);
    AppendText(direct, "block");
    Write("asymmetric_fuzz", direct);
    Bytes stored{static_cast<uint8_t>(op | 3 << 2 | 0x40)};
    AppendU32(stored, sizeof pair.privateRecord);
    Append(stored, pair.privateRecord.bytes, sizeof pair.privateRecord);
    AppendText(stored, "block");
    Write("asymmetric_fuzz", stored);
  }

  // Key properties: each parameter on each planted value; a reference text; a planted record.
  for (uint8_t param = 0; param < 4; ++param) {
    for (uint8_t value = 0; value < 6; ++value)
      Write("key_property_fuzz", Bytes{param, 4, 0, value});
    Bytes text{param, 4, 1};
    const std::string ref = KeyReference("genuine", "PvkSig");
    text.push_back(static_cast<uint8_t>(ref.size()));
    AppendText(text, ref);
    AppendU32(text, static_cast<uint32_t>(ref.size()));
    Write("key_property_fuzz", text);
    Bytes stored{param, 4, 2, 1};
    AppendU32(stored, sizeof pair.publicRecord);
    Append(stored, pair.publicRecord.bytes, sizeof pair.publicRecord);
    Write("key_property_fuzz", stored);
  }

  // Exports: genuine records plain and wrapped, and a planted record.
  for (uint8_t selector : {0x81, 0x83, 0xC1, 0xC3, 0x80, 0xC0, 0xC7})
    for (uint8_t wrap : {0, 1, 2}) {
      Bytes seed{selector, wrap, 24};
      for (uint8_t i = 0; i < 24; ++i) seed.push_back(static_cast<uint8_t>(0x25 * i + 3));
      Write("export_key_fuzz", seed);
    }
  for (uint8_t selector : {0x01, 0x00}) {
    Bytes seed{selector, 0, 0};
    AppendU32(seed, sizeof pair.privateRecord);
    Append(seed, pair.privateRecord.bytes, sizeof pair.privateRecord);
    Write("export_key_fuzz", seed);
  }

  // Password-guarded entries: the stored one with its password, a planted one.
  Write("qmca_export_private_key_fuzz", Bytes{0x06, 32});
  Write("qmca_export_private_key_fuzz", Bytes{0x06, 0xFF});
  Bytes planted{0x05, 5};
  AppendText(planted, "pass");
  planted.push_back(0);
  AppendU32(planted, 20);
  for (uint8_t i = 0; i < 20; ++i) planted.push_back(i);
  planted.push_back(64);
  Write("qmca_export_private_key_fuzz", planted);
  Bytes named{0x00, 6};
  AppendText(named, "stored");
  named.push_back(32);
  AppendText(named, "secret");
  Write("qmca_export_private_key_fuzz", named);

  // Multi-precision: each operation on 32-digit operands taken from the key.
  for (uint8_t op = 0; op < 12; ++op) {
    Bytes seed{op, 31, 31, 31, 0};
    Append(seed, pair.privateRecord.bytes + 4, 128);
    seed.push_back(0);
    Append(seed, pair.privateRecord.bytes + 260 + 252, 4);
    seed.push_back(4);
    Append(seed, pair.privateRecord.bytes + 772, 128);
    Write("mp_differential_fuzz", seed);
  }
  std::printf("%d seeds written to %s\n", g_count, g_root.c_str());
  return 0;
}
