// Writes the seed corpora: real key blobs (exported by the library from the
// fixed-seed pairs), genuine key references and records, symmetric messages
// in every mode, in the byte layout each harness reads.
//   marlinok-fuzz-seeds OUTPUT_FOLDER   (one subfolder per harness)
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"
#include "marlinok.h"
#include "platform/registry.h"
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
// A length in the harnesses' encoding (Reader::Length).
void AppendLength(Bytes& out, uint32_t v) {
  if (v < 0xFE) {
    out.push_back(static_cast<uint8_t>(v));
  } else if (v <= 0xFFFF) {
    out.push_back(0xFE);
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
  } else {
    out.push_back(0xFF);
    AppendU32(out, v);
  }
}

void Write(const char* harness, const Bytes& seed) {
  const std::string folder = g_root + "/" + harness;
  mkdir(folder.c_str(), 0755);
  const std::string path = folder + "/seed-" + std::to_string(++g_count);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) Fail("cannot write a seed");
  if (!seed.empty()) std::fwrite(seed.data(), 1, seed.size(), f);
  std::fclose(f);
}

Bytes ReadFile(const std::string& path) {
  Bytes bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) != 0;)
      bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
  }
  return bytes;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) Fail("cannot write a scratch file");
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// `original` (empty: a new database) after SQLite ran `sql` on it.
Bytes Altered(const std::string& scratch, const Bytes& original, const char* sql) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) unlink((scratch + suffix).c_str());
  WriteFile(scratch, original);
  sqlite3* db = nullptr;
  if (sqlite3_open(scratch.c_str(), &db) != SQLITE_OK ||
      sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
    Fail(sqlite3_errmsg(db));
  sqlite3_close(db);
  return ReadFile(scratch);
}

// Hive files: a real one (as the library leaves it, in WAL mode, and in
// rollback mode), and files the library must leave alone or may adopt.
void WriteHiveSeeds() {
  const std::string folder = std::getenv("MARLINOK_REGISTRY");
  const std::string hive = folder.substr(0, folder.rfind('/')) + "/seed-hive.db";
  const std::string scratch = folder.substr(0, folder.rfind('/')) + "/scratch.db";
  setenv("MARLINOK_REGISTRY", hive.c_str(), 1);
  platform::ResetRegistryForTesting();
  PlantPair("alpha", MARLINOK_PAIR_EXCHANGE, FixedPair(512));
  PlantPair("alpha", MARLINOK_PAIR_SIGNATURE, FixedPair(512));
  PlantPair("beta", MARLINOK_PAIR_EXCHANGE, FixedPair(528));
  if (QMCA_SetPin(1, "1234") != 1) Fail("seed hive PIN");
  uint8_t key[17] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
  char name[] = "entry";
  const DataBlob keyArg{sizeof key, key}, entry{sizeof name, reinterpret_cast<uint8_t*>(name)};
  if (QMCA_ImportPrivateKey(&keyArg, reinterpret_cast<const uint8_t*>("pass"), 5, &entry) != ERR_OK)
    Fail("seed hive entry");
  for (const char* store : {"My", "Root"}) {
    platform::RegistryKey k;
    if (platform::CreateKey(
            (std::string("Software\\Quillmar\\SoftStoreSimulator\\") + store).c_str(), k,
            nullptr) != platform::kErrorSuccess)
      Fail("seed hive store");
  }
  platform::ResetRegistryForTesting();  // closed: the WAL is folded into the file
  const Bytes wal = ReadFile(hive);
  // In rollback mode and with 512-byte pages, the damaged variants are small
  // files: a third of the library's own.
  const Bytes rollback =
      Altered(scratch, wal, "PRAGMA journal_mode = DELETE; PRAGMA page_size = 512; VACUUM");
  const Bytes files[] = {
      wal,
      rollback,
      Altered(scratch, rollback, "PRAGMA application_id = 1"),
      Altered(scratch, rollback, "PRAGMA user_version = 2"),
      Altered(scratch, rollback, "DROP TABLE hive_values"),
      Altered(scratch, Bytes(), "CREATE TABLE t(x); INSERT INTO t VALUES('other');"),
      Altered(scratch, Bytes(), "CREATE TABLE t(x); DROP TABLE t;"),
      Bytes(rollback.begin(), rollback.begin() + rollback.size() / 2),
      Bytes(rollback.begin(), rollback.begin() + 100),
      Bytes{'n', 'o', 't', ' ', 'a', ' ', 'h', 'i', 'v', 'e', '\n'},
      Bytes(),
  };
  for (const Bytes& file : files) {
    Bytes seed{0};
    Append(seed, file);
    Write("hive_file_fuzz", seed);
  }
  for (uint8_t options : {1, 2, 3}) {
    Bytes seed{options};
    Append(seed, rollback);
    Write("hive_file_fuzz", seed);
  }
  unlink(scratch.c_str());
  setenv("MARLINOK_REGISTRY", folder.c_str(), 1);
  platform::ResetRegistryForTesting();
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

// marlinok-tool command lines in tool_fuzz's encoding: a first byte that is
// not a multiple of 8 (no --registry), the command's index, the token count,
// then per token a kind (0 option, 1 file, 2 word) and its index; then the
// files in0, in1 and key (a length byte counting pairs of bytes) and standard
// input. File indexes are those of tool_fuzz's list: in0, in1, key, ... out.
void WriteToolSeeds(const Bytes& publicBlob, const Bytes& privateBlob) {
  enum : uint8_t { kOption = 0, kFile = 1, kWord = 2 };
  enum : uint8_t { kIn0 = 0, kIn1 = 1, kKey = 2, kOut = 6 };
  const uint8_t kAlpha = 0;  // the container every run finds
  const auto files = [&](Bytes& seed) {
    for (const Bytes* file : {&publicBlob, &privateBlob}) {
      Bytes even = *file;
      if (even.size() % 2) even.push_back(0);
      seed.push_back(static_cast<uint8_t>(even.size() / 2));
      Append(seed, even);
    }
    seed.push_back(12);
    for (uint8_t i = 0; i < 24; ++i) seed.push_back(static_cast<uint8_t>(0x25 * i + 3));
    AppendText(seed, "abc");
  };
  const auto& commands = tool::Commands();
  for (std::size_t c = 0; c < commands.size(); ++c) {
    const tool::Command& command = *commands[c];
    const bool genkey = std::string(command.name) == "genkey";
    // The command on the container and the first input, then with each option.
    Bytes plain{1, static_cast<uint8_t>(c), 3, kWord, kAlpha, kFile, kIn0, kFile, kOut};
    files(plain);
    Write("tool_fuzz", plain);
    for (std::size_t o = 0; o < command.options.size() && o < 255; ++o) {
      const tool::Option& option = command.options[o];
      Bytes seed{1, static_cast<uint8_t>(c), 4, kWord, kAlpha, kOption, static_cast<uint8_t>(o)};
      if (genkey && std::string(option.name) == "--bits") seed.push_back(1);  // 512
      seed.push_back(kFile);
      seed.push_back(option.value != nullptr ? kIn1 : kIn0);
      seed.insert(seed.end(), {kFile, kKey});
      files(seed);
      Write("tool_fuzz", seed);
    }
  }
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

  // Asymmetric calls (selector: operation, key form << 2, output mode << 6):
  // the planted genuine references, their text, direct records (whole,
  // genuine, and built from their numbers) and planted records, each with the
  // output sized by the size query, and at 256 bytes.
  const RecordPair& pair = FixedPair(1024);
  const RecordPair& small = FixedPair(512);
  const auto block = [](Bytes& seed) {
    AppendLength(seed, 5);
    AppendText(seed, "block");
  };
  for (uint8_t op = 0; op < 4; ++op) {
    for (uint8_t outputMode : {0, 1}) {
      const auto selector = [&](uint8_t form) {
        return static_cast<uint8_t>(op | form << 2 | outputMode << 6);
      };
      for (uint8_t which = 0; which < 8; ++which) {
        Bytes seed{selector(0), which, 0};
        block(seed);
        Write("asymmetric_fuzz", seed);
      }
      Bytes text{selector(1)};
      const std::string ref = KeyReference("k512", op % 2 == 0 ? "PukExh" : "PvkExh");
      AppendLength(text, static_cast<uint32_t>(ref.size()));
      AppendText(text, ref);
      block(text);
      Write("asymmetric_fuzz", text);
      for (uint8_t privateSized : {0, 1}) {
        Bytes whole{selector(2), privateSized, 0};  // the record's bytes as they are
        Append(whole, small.privateRecord.bytes,
               privateSized ? sizeof small.privateRecord : sizeof small.publicRecord);
        AppendLength(whole, 0);
        block(whole);
        Write("asymmetric_fuzz", whole);
      }
      Bytes genuine{selector(2), 0, 1};  // the genuine record, with its bit length
      AppendU32(genuine, 512);
      AppendLength(genuine, 0);
      block(genuine);
      Write("asymmetric_fuzz", genuine);
      Bytes built{selector(2), 0, 2};  // n and e from their numbers
      AppendU32(built, 512);
      built.push_back(64);
      Append(built, small.publicRecord.bytes + 4 + 192, 64);
      built.push_back(3);
      Append(built, small.publicRecord.bytes + 260 + 253, 3);
      AppendLength(built, MARLINOK_PUBLIC_RECORD_BYTES);
      block(built);
      Write("asymmetric_fuzz", built);
      for (uint8_t value : {0, 1}) {
        Bytes stored{selector(3), value};
        AppendLength(stored, sizeof small.privateRecord);
        stored.push_back(0);
        Append(stored, small.privateRecord.bytes, sizeof small.privateRecord);
        block(stored);
        Write("asymmetric_fuzz", stored);
      }
    }
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

  // Password-guarded entries (selector: plant 1, import 2, right password 4):
  // the stored one with its password, a planted one, an imported one.
  const auto passwordTo = [](Bytes& seed, const std::string& password) {
    AppendLength(seed, static_cast<uint32_t>(password.size()));
    AppendText(seed, password);
  };
  for (uint8_t capacity : {0, 17, 32, 0xFF}) {
    Bytes stored{0x00, 1, capacity};
    passwordTo(stored, "secret");
    Write("qmca_private_key_fuzz", stored);
  }
  Bytes planted{0x01, 5};
  AppendText(planted, "pass");
  planted.push_back(0);
  AppendLength(planted, 20);
  for (uint8_t i = 0; i < 20; ++i) planted.push_back(i);
  planted.push_back(2);
  planted.push_back(64);
  passwordTo(planted, "pass");
  Write("qmca_private_key_fuzz", planted);
  for (uint8_t capacity : {0, 64}) {
    Bytes imported{0x06, 0};
    AppendLength(imported, 6);
    AppendText(imported, "entry");
    imported.push_back(0);
    AppendLength(imported, 17);
    for (uint8_t i = 0; i < 17; ++i) imported.push_back(static_cast<uint8_t>(0x31 + i));
    AppendLength(imported, 5);
    AppendText(imported, "pass");
    imported.push_back(0);
    imported.push_back(capacity);
    Write("qmca_private_key_fuzz", imported);
  }

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
  WriteToolSeeds(ExportBlob(KeyReference("k528", "PukSig"), false),
                 ExportBlob(KeyReference("k528", "PvkSig"), true));
  WriteHiveSeeds();
  std::printf("%d seeds written to %s\n", g_count, g_root.c_str());
  return 0;
}
