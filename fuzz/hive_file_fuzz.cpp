// The hive file itself as hostile input: the fuzzer's bytes become the file
// MARLINOK_REGISTRY names, the library opens it afresh, and a fixed sequence
// of calls runs on it: enumerate the containers and the certificate stores,
// find the first container's pairs, read its records (public and private
// export), check the PIN and a guarded entry, create a container and import a
// pair into it.
//
// Whatever the file holds, nothing crashes or hangs, and:
// - a file that is not a hive (not SQLite, another application's database, a
//   hive of another format version, a hive without its two tables and the
//   columns the library uses) is never written: its bytes and its
//   modification time stay, and nothing is created in it;
// - an empty file or an empty database may be made a hive;
// - a hive stays a hive: after the calls it still has its identity and its
//   tables, and SQLite's quick check finds nothing wrong where it found
//   nothing before.
//
// The lists and the key references are written without consulting the
// length the caller states, so their buffers hold what the size query (null
// buffer) answered; the first input byte chooses the length stated with them:
// bit 0 for the containers' list, bit 1 for the references, exact or 8. The
// rest is the file.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "marlinok.h"
#include "platform/registry.h"
#include "support/fuzz_support.h"

using namespace marlinok;
using namespace marlinok::fuzz;

namespace {

std::string g_path;
Bytes g_blob;  // a PRIVATEKEYBLOB of a 512-bit pair, to import

// What a file is, judged apart from the library: SQLite reads a copy in memory.
enum class Kind { Adoptable, Hive, Foreign };
struct Verdict {
  Kind kind;
  bool sound;     // a hive that passes SQLite's quick check
  bool identity;  // a hive's application id and format version, whatever the tables
};

Verdict Judge(const Bytes& file) {
  if (file.empty()) return {Kind::Adoptable, false, false};
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    Fail("no in-memory database");
  }
  // The copy claims rollback journaling (a memory database cannot be WAL).
  Bytes copy = file;
  if (copy.size() >= 20 && (copy[18] == 2 || copy[19] == 2)) copy[18] = copy[19] = 1;
  auto* image = static_cast<unsigned char*>(sqlite3_malloc64(copy.size()));
  std::memcpy(image, copy.data(), copy.size());
  Verdict verdict{Kind::Foreign, false, false};
  if (sqlite3_deserialize(db, "main", image, copy.size(), copy.size(),
                          SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_READONLY) !=
      SQLITE_OK) {
    sqlite3_close(db);
    return verdict;
  }
  auto one = [&](const char* sql, std::string* text, int64_t* number) {
    sqlite3_stmt* s = nullptr;
    bool row =
        sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW;
    if (row && text != nullptr) {
      const auto* t = sqlite3_column_text(s, 0);
      *text = t != nullptr ? reinterpret_cast<const char*>(t) : "";
    }
    if (row && number != nullptr) *number = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    return row;
  };
  int64_t id = -1, version = -1, objects = -1;
  if (one("PRAGMA application_id", nullptr, &id) && one("PRAGMA user_version", nullptr, &version) &&
      one("SELECT count(*) FROM sqlite_schema", nullptr, &objects)) {
    if (id == 0 && objects == 0) {
      verdict.kind = Kind::Adoptable;
    } else if (id == 0x4d4b5247 && version == 1) {
      verdict.identity = true;
      // Both tables, with the columns the library uses (a column more is
      // harmless: the library names the columns it writes; SQLite matches
      // names in any case).
      int64_t keys = 0, values = 0;
      if (one("SELECT count(*) FROM pragma_table_info('hive_keys') "
              "WHERE lower(name) IN ('id', 'parent', 'name', 'fold')",
              nullptr, &keys) &&
          one("SELECT count(*) FROM pragma_table_info('hive_values') "
              "WHERE lower(name) IN ('key', 'name', 'fold', 'type', 'data')",
              nullptr, &values) &&
          keys == 4 && values == 5) {
        verdict.kind = Kind::Hive;
        std::string check;
        verdict.sound = one("PRAGMA quick_check", &check, nullptr) && check == "ok";
      }
    }
  }
  sqlite3_close(db);
  return verdict;
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

void WriteFile(const std::string& path, const uint8_t* data, std::size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || (size != 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0)
    Fail("could not write the hive file");
}

struct timespec ModificationTime(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) Fail("the hive file is gone");
  return info.st_mtim;
}

// The fixed sequence of calls. Returns whether anything was created.
bool RunCalls(uint8_t options) {
  bool created = false;
  // The containers and the certificate stores.
  uint32_t length = 0;
  std::string first = "alpha";
  if (QMCA_EnumKeyContainerName(nullptr, &length) == ERR_OK && length != 0) {
    GuardedBytes names(length);  // the whole list, whatever length is stated
    uint32_t stated = (options & 1) == 0 ? length : 8;
    if (QMCA_EnumKeyContainerName(reinterpret_cast<char*>(names.data()), &stated) == ERR_OK) {
      Check(stated == length, "the list's length changed between two calls");
      const char* text = reinterpret_cast<const char*>(names.data());
      first.assign(text, strnlen(text, length));
      first = first.substr(0, first.find('|'));
      if (first.empty()) first = "alpha";
    }
  }
  length = 0;
  if (QMCA_EnumCerstoreName(nullptr, &length) == ERR_OK && length != 0) {
    GuardedBytes names(length);
    uint32_t stated = length;
    (void)QMCA_EnumCerstoreName(reinterpret_cast<char*>(names.data()), &stated);
  }

  // The first container's pairs, and their records.
  DataBlob refs[4] = {};
  if (QM_FindContainerAndKeypair(first.c_str(), &refs[0], &refs[1], &refs[2], &refs[3]) == ERR_OK) {
    const bool exact = (options & 2) == 0;
    GuardedBytes* buffers[4] = {};
    for (int i = 0; i < 4; ++i) {
      // The whole reference, and the stated length (a pair the container
      // lacks leaves its references as they are, to be read as stated). A
      // reference the size query did not report gets no buffer, as a caller
      // sizing its buffers by that query gives none: the second query may
      // find a pair the first did not (another process adds one, or a
      // damaged file answers otherwise the second time), and the library
      // writes a reference without reading the stated length.
      const uint32_t stated = exact ? refs[i].length : 8;
      buffers[i] = new GuardedBytes(std::max(refs[i].length, stated));
      refs[i] = DataBlob{stated, refs[i].length != 0 ? buffers[i]->data() : nullptr};
    }
    if (QM_FindContainerAndKeypair(first.c_str(), &refs[0], &refs[1], &refs[2], &refs[3]) ==
        ERR_OK) {
      // The records: each public one as a public blob, each private one as a
      // private blob (every call on a damaged file costs the library a reopen).
      for (int i = 0; i < 4; ++i) {
        const DataBlob& ref = refs[i];
        const bool privateRecord = i % 2 == 1;
        DataBlob query{0, nullptr};
        const int32_t status = privateRecord ? QM_ExportPrivateKey(&ref, nullptr, &query, 0)
                                             : QM_ExportPublicKey(&ref, &query);
        if (status != ERR_OK || query.length == 0) continue;
        GuardedBytes blob(query.length);
        DataBlob out{query.length, blob.data()};
        (void)(privateRecord ? QM_ExportPrivateKey(&ref, nullptr, &out, 0)
                             : QM_ExportPublicKey(&ref, &out));
      }
    }
    for (GuardedBytes* b : buffers) delete b;
  }

  // The PIN, and a guarded entry.
  (void)QMCA_Login(1, "1234");
  const char entryText[] = "entry";
  const GuardedBytes entryName(sizeof entryText, reinterpret_cast<const uint8_t*>(entryText),
                               sizeof entryText);
  const DataBlob entry{entryName.length(), entryName.data()};
  DataBlob key{0, nullptr};
  (void)QMCA_ExportPrivateKey(&entry, reinterpret_cast<const uint8_t*>("pass"), 4, &key);

  // A new container with a pair.
  if (QM_CreateContainer("fuzz-new") == ERR_OK) created = true;
  const GuardedBytes blob(g_blob);
  const DataBlob blobArg{blob.length(), blob.data()};
  DataBlob pub{0, nullptr}, priv{0, nullptr};
  GuardedBytes pubBuffer(200), privBuffer(200);
  pub = DataBlob{pubBuffer.length(), pubBuffer.data()};
  priv = DataBlob{privBuffer.length(), privBuffer.data()};
  if (QM_ImportPrivateKey("fuzz-new", &blobArg, MARLINOK_PAIR_EXCHANGE, &pub, &priv) == ERR_OK)
    created = true;
  return created;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) Fail("stdout");
  // Every input opens connections (and the library reopens after each failure
  // on a damaged file): without the lookaside and the page cache's initial
  // bulk, an open makes no large allocation, costly under the sanitizer.
  sqlite3_config(SQLITE_CONFIG_LOOKASIDE, 0, 0);
  sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);
  UseTemporaryHive();
  g_path = std::getenv("MARLINOK_REGISTRY");
  // The blob to import: a fixed pair's, exported from a hive of our own.
  PlantPair("seed", MARLINOK_PAIR_EXCHANGE, FixedPair(512));
  std::string refText = KeyReference("seed", "PvkExh");
  const DataBlob ref{static_cast<uint32_t>(refText.size()),
                     reinterpret_cast<uint8_t*>(&refText[0])};
  DataBlob query{0, nullptr};
  if (QM_ExportPrivateKey(&ref, nullptr, &query, 0) != ERR_OK) Fail("size of the pair's blob");
  g_blob.resize(query.length);
  DataBlob out{query.length, g_blob.data()};
  if (QM_ExportPrivateKey(&ref, nullptr, &out, 0) != ERR_OK) Fail("the pair's blob");
  platform::ResetRegistryForTesting();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const uint8_t options = data[0];
  const Bytes file(data + 1, data + size);
  const Verdict before = Judge(file);

  for (const char* suffix : {"-wal", "-shm", "-journal"}) unlink((g_path + suffix).c_str());
  WriteFile(g_path, file.data(), file.size());
  // Back-date the file, so that a write in the same clock tick still shows.
  const struct timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
  utimensat(AT_FDCWD, g_path.c_str(), past, 0);
  const struct timespec written = ModificationTime(g_path);

  platform::ResetRegistryForTesting();  // the library opens this file afresh
  const bool created = RunCalls(options);
  platform::ResetRegistryForTesting();  // closed: a WAL is folded back into the file

  const Bytes after = ReadFile(g_path);
  if (before.kind == Kind::Foreign) {
    Check(!created, "created a container in a file that is not a hive");
    Check(after == file, "wrote into a file that is not a hive");
    const struct timespec now = ModificationTime(g_path);
    Check(now.tv_sec == written.tv_sec && now.tv_nsec == written.tv_nsec,
          "touched a file that is not a hive");
    return 0;
  }
  const Verdict verdictAfter = Judge(after);
  if (before.kind == Kind::Hive || created)
    Check(verdictAfter.kind == Kind::Hive, "a hive lost its identity or its tables");
  if (before.sound) Check(verdictAfter.sound, "the calls damaged a sound hive");
  return 0;
}
