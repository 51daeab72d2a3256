#pragma once
// The records of one zone under its origin. (First cut: the origin only; the
// store, output order, counts and queries come with the collection proper.)
#include <string>

#include "loam/dns/zuResourceRecord.h"

class zuRecordCollection {
 public:
  // A null origin is an empty one.
  explicit zuRecordCollection(const char* origin);
  explicit zuRecordCollection(const std::string& origin);
  zuRecordCollection(const zuRecordCollection&) = delete;
  zuRecordCollection& operator=(const zuRecordCollection&) = delete;
  ~zuRecordCollection() = default;

  const std::string& origin() const { return m_origin; }

 private:
  std::string m_origin;
};
