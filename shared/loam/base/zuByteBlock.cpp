#include "loam/base/zuByteBlock.h"

#include <cstring>
#include <new>
#include <utility>

#include "loam/platform/zuPlatformMemory.h"

zuByteBlock::zuByteBlock(std::size_t size) { resize(size); }

zuByteBlock::~zuByteBlock() { release(data_, capacity_); }

zuByteBlock::zuByteBlock(zuByteBlock&& other) noexcept { swap(other); }

zuByteBlock& zuByteBlock::operator=(zuByteBlock&& other) noexcept {
  zuByteBlock(std::move(other)).swap(*this);
  return *this;
}

void zuByteBlock::swap(zuByteBlock& other) noexcept {
  std::swap(data_, other.data_);
  std::swap(size_, other.size_);
  std::swap(capacity_, other.capacity_);
}

u8* zuByteBlock::allocate(std::size_t n) {
  if (n == 0) return nullptr;
  if (n < kPageThreshold) return static_cast<u8*>(::operator new(n));
  void* block = zuPlatform::mapPages(n);
  if (block == nullptr) throw std::bad_alloc();
  return static_cast<u8*>(block);
}

void zuByteBlock::release(u8* block, std::size_t n) {
  if (block == nullptr) return;
  if (n < kPageThreshold)
    ::operator delete(block);
  else
    zuPlatform::unmapPages(block, n);
}

void zuByteBlock::moveTo(std::size_t capacity) {
  u8* block = allocate(capacity);
  if (size_ != 0) std::memcpy(block, data_, size_);
  release(data_, capacity_);
  data_ = block;
  capacity_ = capacity;
}

void zuByteBlock::reserve(std::size_t n) {
  if (n > capacity_) moveTo(n);
}

void zuByteBlock::resize(std::size_t n) {
  reserve(n);
  if (n > size_) std::memset(data_ + size_, 0, n - size_);
  size_ = n;
}

void zuByteBlock::append(const u8* bytes, std::size_t n) {
  if (n == 0) return;
  if (n > capacity_ - size_) {
    const std::size_t need = size_ + n;
    if (need < size_) throw std::bad_alloc();
    const std::size_t doubled = capacity_ > static_cast<std::size_t>(-1) / 2 ? need : capacity_ * 2;
    moveTo(need > doubled ? need : doubled);
  }
  std::memcpy(data_ + size_, bytes, n);
  size_ += n;
}
