#pragma once
// The four process-wide locks of the library, built before main. Take them
// only through zuStMutex. Nesting: the registry lock may be held while the
// event lock is taken, and the log lock may be taken again by a listener;
// no other global lock is taken while one is held.
#include "loam/threads/zuMemMutex.h"

// The log's name, mode, listeners and output.
extern zuMemMutex zuLogLock;
// The last state, set count and containers of every zuSingleEvent.
extern zuMemMutex zuEventLock;
// The thread registry and every thread's state change.
extern zuMemMutex zuRegistryLock;
// The message router's queue and mode.
extern zuMemMutex zuMessageQueueLock;
