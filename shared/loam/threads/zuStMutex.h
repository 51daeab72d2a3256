#pragma once
// Holds a zuMutex for the length of a block; a scope may release it early.
#include "loam/threads/zuMutex.h"

class zuStMutex {
 public:
  explicit zuStMutex(zuMutex& mutex) : mutex_(&mutex) { lock(); }
  zuStMutex(const zuStMutex&) = delete;
  zuStMutex& operator=(const zuStMutex&) = delete;
  virtual ~zuStMutex() { unlock(); }

  // Takes the mutex unless held; a lock that fails leaves it not held, and
  // then nothing is unlocked later.
  void lock() {
    if (!held_) held_ = mutex_->lock();
  }
  void unlock() {
    if (held_) {
      mutex_->unlock();
      held_ = false;
    }
  }
  bool isHeld() const { return held_; }

 private:
  zuMutex* mutex_;
  bool held_ = false;
};
