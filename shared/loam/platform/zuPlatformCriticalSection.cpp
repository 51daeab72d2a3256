#include "loam/platform/zuPlatformCriticalSection.h"

namespace zuPlatform {

void CriticalSection::enter() { mutex_.lock(); }

bool CriticalSection::tryEnter() { return mutex_.try_lock(); }

void CriticalSection::leave() { mutex_.unlock(); }

}  // namespace zuPlatform
