// The node pool under a multimap: freed nodes are reused, other sizes go to
// the heap, and a container survives heavy churn (the sanitizers watch).
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "loam/dns/zuNodePool.h"
#include "loam/platform/zuTypes.h"

TEST(zuNodePool, FreedBlocksComeBackAndOtherSizesUseTheHeap) {
  zuNodePool pool;
  void* a = pool.allocate(48, 8);
  void* b = pool.allocate(48, 8);
  EXPECT_NE(a, b);
  pool.deallocate(a, 48);
  EXPECT_EQ(pool.allocate(48, 8), a);
  // Not the pool's size: a heap block, returned to the heap.
  void* other = pool.allocate(24, 8);
  pool.deallocate(other, 24);
  pool.deallocate(b, 48);
}

TEST(zuNodePool, MultimapChurnKeepsItsContents) {
  zuNodePool pool;
  using Alloc = zuNodePoolAllocator<std::pair<const int, std::string>>;
  std::multimap<int, std::string, std::less<int>, Alloc> map{Alloc(&pool)};
  std::multiset<std::pair<int, std::string>> model;
  u32 x = 7;
  for (int round = 0; round < 20000; ++round) {
    x = x * 1103515245u + 12345u;
    const int key = static_cast<int>((x >> 8) % 50);
    if ((x >> 20) % 3 != 0 || map.empty()) {
      const std::string value = std::string(static_cast<std::size_t>(key % 7 * 5), 'v') + std::to_string(round);
      map.emplace(key, value);
      model.emplace(key, value);
    } else {
      const auto it = map.lower_bound(key) == map.end() ? map.begin() : map.lower_bound(key);
      model.erase(model.find({it->first, it->second}));
      map.erase(it);
    }
  }
  std::multiset<std::pair<int, std::string>> seen(map.begin(), map.end());
  EXPECT_EQ(seen, model);
}
