#pragma once
// An owned raw memory block. Allocation failure throws std::bad_alloc
// ("bad allocation"); the block is released with the object.
#include "loam/platform/zuTypes.h"

class zuAlloc {
 public:
  zuAlloc() = default;
  // resize(size).
  explicit zuAlloc(u32 size);
  zuAlloc(const zuAlloc&) = delete;
  zuAlloc& operator=(const zuAlloc&) = delete;
  virtual ~zuAlloc();

  // Releases the block: null pointer, size 0.
  void free();
  // A new block of size bytes in place of the old one, whose contents are
  // not kept; size 0 leaves no block. Throws std::bad_alloc, and then holds
  // no block. Always true otherwise.
  bool resize(u32 size);
  // A larger block with the old contents in front; the bytes after them are
  // not initialised. A size not above the current one changes nothing.
  // Throws std::bad_alloc, and then keeps the old block. Always true otherwise.
  bool grow(u32 size);
  // Releases the block and takes ownership of the given one, which must come
  // from another zuAlloc's allocator (the C heap).
  void attach(void* block, u32 size);

  void* ptr() const { return ptr_; }
  char* chars() const { return static_cast<char*>(ptr_); }
  u32 size() const { return size_; }

 private:
  void* ptr_ = nullptr;
  u32 size_ = 0;
};
