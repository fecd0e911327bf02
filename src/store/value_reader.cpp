#include "store/value_reader.h"

#include <cstring>

namespace marlinok::store {

using namespace marlinok::platform;

RegStatus ReadWholeValue(const RegistryKey& key, const char* name, SecretBuffer* out) {
  // Each round loses only to a write that landed between its two queries;
  // many rounds in a row mean a value rewritten without pause.
  constexpr int kRounds = 64;
  for (int round = 0; round < kRounds; ++round) {
    uint32_t size = 0;
    RegStatus status = QueryValue(key, name, nullptr, nullptr, &size);
    if (status != kErrorSuccess) return status;
    SecretBuffer bytes(size);
    uint32_t read = size;
    status = QueryValue(key, name, nullptr, bytes.data(), &read);
    if (status == kErrorMoreData) continue;  // it grew
    if (status != kErrorSuccess) return status;
    if (read != size) {  // it shrank: keep what was read
      SecretBuffer exact(read);
      if (read != 0) std::memcpy(exact.data(), bytes.data(), read);
      bytes = std::move(exact);
    }
    *out = std::move(bytes);
    return kErrorSuccess;
  }
  return kErrorRegistryIoFailed;
}

}  // namespace marlinok::store
