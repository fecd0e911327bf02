// KeyTable: the register of key objects the library produced into callers'
// memory. An entry is a copy of the caller's DataBlob (length and pointer),
// never of the key bytes; removing an entry never touches those bytes.
#ifndef MARLINOK_TOKEN_KEY_TABLE_H
#define MARLINOK_TOKEN_KEY_TABLE_H

#include <cstddef>
#include <list>
#include <mutex>

#include "core/status.h"
#include "marlinok.h"

namespace marlinok::token {

class KeyTable {
 public:
  KeyTable() = default;
  ~KeyTable() { Clear(); }
  KeyTable(const KeyTable&) = delete;
  KeyTable& operator=(const KeyTable&) = delete;

  // Adds an entry at the tail (newest). Throws std::bad_alloc when memory runs out.
  void Append(const DataBlob& blob);
  // Removes the oldest entry whose registered bytes begin with blob's bytes:
  // its registered length must be at least blob.length (the comparison never
  // reads past what was registered). Failed, table unchanged, when none does.
  Status RemoveMatching(const DataBlob& blob);
  void Clear() noexcept;
  std::size_t Size() const;

 private:
  mutable std::mutex mutex_;     // callers may register and withdraw keys concurrently
  std::list<DataBlob> entries_;  // oldest first
};

// The library-wide table: constructed before the first call, cleared at unload.
KeyTable& GlobalKeyTable() noexcept;

inline void KeyTableAppend(const DataBlob& blob) { GlobalKeyTable().Append(blob); }
inline Status KeyTableRemoveMatching(const DataBlob& blob) {
  return GlobalKeyTable().RemoveMatching(blob);
}

}  // namespace marlinok::token

#endif
