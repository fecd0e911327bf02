#include "support/fuzz_support.h"

#include <dirent.h>
#include <sanitizer/common_interface_defs.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "platform/registry.h"
#include "random/random_pool.h"
#include "rsa/key_generation.h"
#include "store/key_record_store.h"
#include "store/registry_layout.h"

namespace marlinok::fuzz {

namespace {

std::string& HiveFolder() {
  static std::string folder;
  return folder;
}

void RemoveFolder(const std::string& folder);

void RemoveHiveFolder() {
  if (!HiveFolder().empty()) RemoveFolder(HiveFolder());
}

void RemoveFolder(const std::string& folder) {
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") unlink((folder + "/" + name).c_str());
    }
    closedir(dir);
  }
  rmdir(folder.c_str());
}

// The folders of harness processes that are gone: a sanitizer's report ends
// the process through libFuzzer's death callback, which takes the place of
// ours, so a crashed run leaves its folder for the next run to remove.
void RemoveFoldersOfDeadRuns(const std::string& base) {
  const std::string prefix = "marlinok-fuzz-";
  DIR* dir = opendir(base.c_str());
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
    if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
      RemoveFolder(base + "/" + name);
  }
  closedir(dir);
}

}  // namespace

void UseTemporaryHive() {
  if (!HiveFolder().empty()) return;
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
  const std::string folder = base != nullptr && base[0] != '\0' ? base : "/tmp";
  RemoveFoldersOfDeadRuns(folder);
  std::string pattern = folder + "/marlinok-fuzz-" + std::to_string(getpid()) + "-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) Fail("no temporary folder for the hive");
  HiveFolder() = pattern;
  setenv("MARLINOK_REGISTRY", (pattern + "/registry.db").c_str(), 1);
  platform::ResetRegistryForTesting();
  // A finding ends the process without the exit handlers: the harness's own
  // checks through Fail, a sanitizer's report through the death callback when
  // no fuzzer has put its own in its place (RemoveFoldersOfDeadRuns then).
  std::atexit(RemoveHiveFolder);
  __sanitizer_set_death_callback(RemoveHiveFolder);
}

const RecordPair& FixedPair(uint32_t bits) {
  static std::map<uint32_t, std::unique_ptr<RecordPair>> pairs;
  auto& slot = pairs[bits];
  if (!slot) {
    RandomPool pool;
    RandomPoolReset(&pool);
    uint8_t seed[kPoolSeedBytes];
    for (uint32_t i = 0; i < kPoolSeedBytes; ++i) seed[i] = static_cast<uint8_t>(bits * 7 + i);
    RandomPoolMix(&pool, seed, sizeof seed);
    slot = std::make_unique<RecordPair>();
    const rsa::KeyPairParams params{bits, 1};
    if (rsa::GenerateRsaKeyPair(&slot->publicRecord, &slot->privateRecord, &params, &pool) !=
        Status::Ok)
      Fail("fixed-seed key generation failed");
  }
  return *slot;
}

void PlantPair(const char* container, uint32_t pairType, const RecordPair& pair) {
  const DataBlob pub{static_cast<uint32_t>(sizeof pair.publicRecord),
                     const_cast<uint8_t*>(pair.publicRecord.bytes)};
  const DataBlob priv{static_cast<uint32_t>(sizeof pair.privateRecord),
                      const_cast<uint8_t*>(pair.privateRecord.bytes)};
  DataBlob pubRef{0, nullptr}, privRef{0, nullptr};
  if (store::StoreKeyPair(container, pairType, 1, &pub, &priv, &pubRef, &privRef) != Status::Ok)
    Fail("could not plant a key pair");
}

void PlantValue(const std::string& keyPath, const char* valueName, uint32_t type,
                const uint8_t* bytes, std::size_t length) {
  platform::RegistryKey key;
  if (platform::CreateKey(keyPath.c_str(), key, nullptr) != platform::kErrorSuccess)
    Fail("could not create a key to plant into");
  if (platform::SetValue(key, valueName, type, bytes, static_cast<uint32_t>(length)) !=
      platform::kErrorSuccess)
    Fail("could not plant a value");
}

void PlantContainerValue(const char* container, const char* valueName, const uint8_t* bytes,
                         std::size_t length) {
  PlantValue(store::ContainerPath(container), valueName, platform::kRegBinary, bytes, length);
}

std::string KeyReference(const char* container, const char* valueName) {
  return store::ContainerPath(container) + '\\' + valueName + '\0';
}

uint32_t Reader::Length() {
  const uint8_t b = Byte();
  if (b < 0xFE) return b;
  if (b == 0xFE) return Byte() | uint32_t{Byte()} << 8;
  return U32();
}

uint8_t Reader::Byte() { return position_ < size_ ? data_[position_++] : 0; }

uint32_t Reader::U32() {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t{Byte()} << (8 * i);
  return v;
}

Bytes Reader::Take(std::size_t n) {
  if (n > size_ - position_) n = size_ - position_;
  Bytes out(data_ + position_, data_ + position_ + n);
  position_ += n;
  return out;
}

namespace {

std::size_t PageSize() {
  static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return page;
}

// Small mappings are kept for reuse (a harness makes several per input); their
// guard page stays in place.
std::vector<std::pair<uint8_t*, std::size_t>>& SpareMappings() {
  static std::vector<std::pair<uint8_t*, std::size_t>> spare;
  return spare;
}
constexpr std::size_t kSparePages = 4;

}  // namespace

GuardedBytes::GuardedBytes(std::size_t size, const uint8_t* bytes, std::size_t count) {
  const std::size_t page = PageSize();
  const std::size_t pages = (size + page - 1) / page;
  mappingSize_ = (pages + 1) * page;
  auto& spare = SpareMappings();
  for (std::size_t i = 0; i < spare.size(); ++i) {
    if (spare[i].second == mappingSize_) {
      mapping_ = spare[i].first;
      spare[i] = spare.back();
      spare.pop_back();
      break;
    }
  }
  if (mapping_ == nullptr) {
    void* m = mmap(nullptr, mappingSize_, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (m == MAP_FAILED) Fail("no memory for a caller buffer");
    mapping_ = static_cast<uint8_t*>(m);
    if (mprotect(mapping_ + pages * page, page, PROT_NONE) != 0) Fail("no guard page");
  }
  size_ = size;
  data_ = mapping_ + pages * page - size;
  if (count > size) count = size;
  if (count != 0) std::memcpy(data_, bytes, count);
  // A fresh mapping is zero already; a reused one is small.
  if (pages <= kSparePages) std::memset(data_ + count, 0, size - count);
}

GuardedBytes::~GuardedBytes() {
  if (mappingSize_ <= (kSparePages + 1) * PageSize() && SpareMappings().size() < 16) {
    SpareMappings().emplace_back(mapping_, mappingSize_);
    return;
  }
  munmap(mapping_, mappingSize_);
}

bool GuardedBytes::HasNul() const { return size_ != 0 && std::memchr(data_, 0, size_) != nullptr; }

void Fail(const char* what) {
  std::fprintf(stderr, "marlinok fuzz check failed: %s\n", what);
  std::fflush(stderr);
  RemoveHiveFolder();
  std::abort();
}

std::size_t SymmetricKeyReach(uint32_t algId, uint32_t length) {
  std::size_t reach = length;
  if (algId == CALG_DES) reach = 8;
  if (algId == CALG_3DES) reach = length == 24 ? 24 : 16;
  return reach > length ? reach : length;
}

uint32_t PickSymmetricAlgorithm(Reader& in) {
  switch (in.Byte() % 4) {
    case 0:
      return CALG_DES;
    case 1:
      return CALG_3DES;
    case 2:
      return CALG_RC4;
    default:
      return in.U32();
  }
}

}  // namespace marlinok::fuzz
