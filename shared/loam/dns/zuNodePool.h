#pragma once
// Fixed-size blocks for the nodes of one node-based container, cut from
// slabs that double in size (16 blocks up to 4096) and recycled through a
// free list: no heap header per node and one heap call per slab. Memory goes
// back to the heap only with the pool, which must outlive its container.
// Requests of another size or alignment go to the heap. Not thread-safe.
#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <vector>

class zuNodePool {
 public:
  zuNodePool() = default;
  zuNodePool(const zuNodePool&) = delete;
  zuNodePool& operator=(const zuNodePool&) = delete;

  void* allocate(std::size_t size, std::size_t alignment) {
    if (!fits(size, alignment)) return ::operator new(size);
    if (free_ != nullptr) {
      FreeBlock* block = free_;
      free_ = block->next;
      return block;
    }
    if (left_ == 0) addSlab();
    void* block = next_;
    next_ += blockSize_;
    --left_;
    return block;
  }

  void deallocate(void* block, std::size_t size) noexcept {
    if (size != blockSize_) {
      ::operator delete(block);
      return;
    }
    FreeBlock* freed = ::new (block) FreeBlock{free_};
    free_ = freed;
  }

 private:
  struct FreeBlock {
    FreeBlock* next;
  };
  static constexpr std::size_t kFirstSlab = 16;
  static constexpr std::size_t kLargestSlab = 4096;

  // The first request fixes the block size.
  bool fits(std::size_t size, std::size_t alignment) {
    if (alignment > alignof(std::max_align_t) || size < sizeof(FreeBlock) ||
        size % alignof(FreeBlock) != 0)
      return false;
    if (blockSize_ == 0) blockSize_ = size;
    return size == blockSize_;
  }

  void addSlab() {
    const std::size_t blocks = slabs_.empty() ? kFirstSlab : std::min(slabBlocks_ * 2, kLargestSlab);
    slabs_.push_back(std::make_unique_for_overwrite<std::byte[]>(blocks * blockSize_));
    slabBlocks_ = blocks;
    next_ = slabs_.back().get();
    left_ = blocks;
  }

  std::vector<std::unique_ptr<std::byte[]>> slabs_;
  std::size_t blockSize_ = 0;
  std::size_t slabBlocks_ = 0;
  std::byte* next_ = nullptr;
  std::size_t left_ = 0;
  FreeBlock* free_ = nullptr;
};

// The standard allocator interface over a zuNodePool.
template <class T>
class zuNodePoolAllocator {
 public:
  using value_type = T;

  explicit zuNodePoolAllocator(zuNodePool* pool) noexcept : pool_(pool) {}
  template <class U>
  zuNodePoolAllocator(const zuNodePoolAllocator<U>& other) noexcept : pool_(other.pool()) {}

  T* allocate(std::size_t n) { return static_cast<T*>(pool_->allocate(n * sizeof(T), alignof(T))); }
  void deallocate(T* p, std::size_t n) noexcept { pool_->deallocate(p, n * sizeof(T)); }
  zuNodePool* pool() const noexcept { return pool_; }

  template <class U>
  bool operator==(const zuNodePoolAllocator<U>& other) const noexcept {
    return pool_ == other.pool();
  }

 private:
  zuNodePool* pool_;
};
