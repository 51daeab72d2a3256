#include "loam/platform/zuPlatformCriticalSection.h"

#include <cstdlib>

namespace zuPlatform {

CriticalSection::CriticalSection() {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  // Initialising a recursive mutex only fails on exhausted resources, and
  // there is no sane way on without the lock.
  if (pthread_mutex_init(&mutex_, &attr) != 0) std::abort();
  pthread_mutexattr_destroy(&attr);
}

CriticalSection::~CriticalSection() { pthread_mutex_destroy(&mutex_); }

void CriticalSection::enter() {
  if (pthread_mutex_lock(&mutex_) != 0) std::abort();
}

bool CriticalSection::tryEnter() { return pthread_mutex_trylock(&mutex_) == 0; }

void CriticalSection::leave() { pthread_mutex_unlock(&mutex_); }

}  // namespace zuPlatform
