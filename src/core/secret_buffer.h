// A heap buffer for key records, PINs and passwords that is wiped before its
// memory goes back to the allocator.
#ifndef MARLINOK_CORE_SECRET_BUFFER_H
#define MARLINOK_CORE_SECRET_BUFFER_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/wipe.h"

namespace marlinok {

class SecretBuffer {
 public:
  SecretBuffer() noexcept = default;
  // Zero-filled. Throws std::bad_alloc.
  explicit SecretBuffer(std::size_t size) : bytes_(new uint8_t[size]()), size_(size) {}
  ~SecretBuffer() { Release(); }
  SecretBuffer(SecretBuffer&& other) noexcept
      : bytes_(std::move(other.bytes_)), size_(other.size_) {
    other.size_ = 0;
  }
  SecretBuffer& operator=(SecretBuffer&& other) noexcept {
    if (this != &other) {
      Release();
      bytes_ = std::move(other.bytes_);
      size_ = other.size_;
      other.size_ = 0;
    }
    return *this;
  }
  SecretBuffer(const SecretBuffer&) = delete;
  SecretBuffer& operator=(const SecretBuffer&) = delete;

  uint8_t* data() noexcept { return bytes_.get(); }
  const uint8_t* data() const noexcept { return bytes_.get(); }
  std::size_t size() const noexcept { return size_; }

 private:
  void Release() noexcept {
    if (bytes_) SecureWipe(bytes_.get(), size_);
    bytes_.reset();
    size_ = 0;
  }
  std::unique_ptr<uint8_t[]> bytes_;
  std::size_t size_ = 0;
};

}  // namespace marlinok

#endif
