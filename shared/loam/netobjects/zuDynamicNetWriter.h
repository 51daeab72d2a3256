#pragma once
// A net writer that owns its storage and grows it as values are written:
// from the initial growth size (10240 bytes) by doubling. Sizes are worked out
// in 64 bits; a payload past kMaxCapacity is refused like a full fixed writer.
#include "loam/netobjects/zuNetWriter.h"
#include "loam/threads/zuAlloc.h"

class zuDynamicNetWriter : public zuNetWriter {
 public:
  static constexpr u32 kInitialGrowth = 10240;
  static constexpr u32 kMaxCapacity = 0xFFFFFFFFu;

  // Starts without storage; the first write allocates.
  explicit zuDynamicNetWriter(u32 initialGrowth = kInitialGrowth);
  zuDynamicNetWriter(const zuDynamicNetWriter& other);
  zuDynamicNetWriter& operator=(const zuDynamicNetWriter& other);
  using zuNetWriter::operator=;
  ~zuDynamicNetWriter() override = default;

 protected:
  // An allocation failure throws std::bad_alloc and leaves the writer not
  // valid, with what it held.
  void resizeIfNeeded(u64 needed) override;

 private:
  u32 initialGrowth_;
  zuAlloc storage_;
};
