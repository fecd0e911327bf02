// The size-query rule of every call that fills a caller's buffer.
#ifndef MARLINOK_CORE_SIZE_QUERY_H
#define MARLINOK_CORE_SIZE_QUERY_H

#include <cstdint>

namespace marlinok {

// When `buffer` is null or `*length` is below `needed`, stores `needed` in
// `*length` and returns true; the call then answers success without doing its
// work. Otherwise returns false and leaves `*length` alone.
inline bool AnswerSizeQuery(const void* buffer, uint32_t* length, uint32_t needed) {
  if (buffer != nullptr && *length >= needed) return false;
  *length = needed;
  return true;
}

}  // namespace marlinok

#endif
