#pragma once
// Manual-reset events as eventfd descriptors (non-blocking, close-on-exec).
// An event is signalled while its counter is not zero.
#include "loam/platform/zuPlatformHandle.h"

namespace zuPlatform {

// A new event, initially clear; kInvalidHandle on failure (errno is kept).
Handle createEvent();

// Signals the event; it stays signalled until reset.
bool setEvent(Handle event);

// Clears the event (drains its counter); clearing a clear event succeeds.
bool resetEvent(Handle event);

// Set followed by reset. Like the Windows call it stands for, this is not a
// reliable hand-off: a waiter woken by the set re-checks the event and may
// find it already clear, so a pulse can wake no waiter at all.
bool pulseEvent(Handle event);

// A zero-time wait on any waitable handle: true when it is signalled
// (readable). False for an invalid handle.
bool isSignalled(Handle handle);
// For a waiter that learnt from a wait on handle that it is signalled:
// tells ThreadSanitizer that what the setter wrote before setEvent is now
// visible (the kernel's eventfd hand-off is invisible to it). Nothing in
// other builds.
void eventAcquired(Handle handle);

}  // namespace zuPlatform
