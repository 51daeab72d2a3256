#pragma once
// Growable bytes for buffers that a peer can make large. Blocks of
// kPageThreshold bytes or more are pages mapped from the system: freeing one
// gives its memory back at once (the C heap keeps large freed blocks in its
// arenas, and the resident size never comes down after an attack), and of a
// reserved block only the pages written are resident. Smaller blocks come
// from the ordinary heap. Bytes are moved with memcpy, never one by one.
#include <cstddef>

#include "loam/platform/zuTypes.h"

class zuByteBlock {
 public:
  static constexpr std::size_t kPageThreshold = 64 * 1024;

  zuByteBlock() = default;
  // size bytes, all zero.
  explicit zuByteBlock(std::size_t size);
  ~zuByteBlock();
  // The moved-from block is empty.
  zuByteBlock(zuByteBlock&& other) noexcept;
  zuByteBlock& operator=(zuByteBlock&& other) noexcept;
  zuByteBlock(const zuByteBlock&) = delete;
  zuByteBlock& operator=(const zuByteBlock&) = delete;

  u8* data() { return data_; }
  const u8* data() const { return data_; }
  const u8* begin() const { return data_; }
  const u8* end() const { return data_ + size_; }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }

  // Room for n bytes, the content kept; std::bad_alloc when none.
  void reserve(std::size_t n);
  // n bytes, the content kept; bytes added are zero.
  void resize(std::size_t n);
  // Grows (at least doubling) when it must.
  void append(const u8* bytes, std::size_t n);
  // Size 0, the storage kept.
  void clear() { size_ = 0; }
  void swap(zuByteBlock& other) noexcept;

 private:
  static u8* allocate(std::size_t n);
  static void release(u8* block, std::size_t n);
  void moveTo(std::size_t capacity);

  u8* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};
