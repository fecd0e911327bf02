#include "token/key_table.h"

#include <cstring>

namespace marlinok::token {

void KeyTable::Append(const DataBlob& blob) {
  std::lock_guard<std::mutex> guard(mutex_);
  entries_.push_back(blob);
}

Status KeyTable::RemoveMatching(const DataBlob& blob) {
  if (blob.length != 0 && blob.data == nullptr) return Status::Failed;
  std::lock_guard<std::mutex> guard(mutex_);
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->length < blob.length) continue;
    if (blob.length == 0 || std::memcmp(it->data, blob.data, blob.length) == 0) {
      entries_.erase(it);
      return Status::Ok;
    }
  }
  return Status::Failed;
}

void KeyTable::Clear() noexcept {
  std::lock_guard<std::mutex> guard(mutex_);
  entries_.clear();
}

std::size_t KeyTable::Size() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return entries_.size();
}

namespace {
// A static object: constructed by static initialisation before the library's
// entry point runs, and destroyed (its entries released) at unload.
KeyTable g_keyTable;
}  // namespace

KeyTable& GlobalKeyTable() noexcept { return g_keyTable; }

}  // namespace marlinok::token
