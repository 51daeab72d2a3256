#pragma once
// The abstract lock of the library.

class zuMutex {
 public:
  zuMutex() = default;
  zuMutex(const zuMutex&) = delete;
  zuMutex& operator=(const zuMutex&) = delete;
  virtual ~zuMutex() = default;

  virtual bool lock() = 0;
  virtual void unlock() = 0;
  virtual bool isLocked() const = 0;
};
