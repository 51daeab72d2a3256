#include "loam/threads/zuGlobalLocks.h"

#include "loam/platform/zuInitOrder.h"
#include "loam/platform/zuPlatformInitTrace.h"

using zuPlatform::InitNote;

ZU_INIT_ORDER(ZU_INIT_LOG_LOCK) zuMemMutex zuLogLock;
ZU_INIT_ORDER(ZU_INIT_LOG_LOCK) static InitNote g_logLockNote{ZU_INIT_LOG_LOCK};
ZU_INIT_ORDER(ZU_INIT_EVENT_LOCK) zuMemMutex zuEventLock;
ZU_INIT_ORDER(ZU_INIT_EVENT_LOCK) static InitNote g_eventLockNote{ZU_INIT_EVENT_LOCK};
ZU_INIT_ORDER(ZU_INIT_REGISTRY_LOCK) zuMemMutex zuRegistryLock;
ZU_INIT_ORDER(ZU_INIT_REGISTRY_LOCK) static InitNote g_registryLockNote{ZU_INIT_REGISTRY_LOCK};
ZU_INIT_ORDER(ZU_INIT_MESSAGE_QUEUE_LOCK) zuMemMutex zuMessageQueueLock;
ZU_INIT_ORDER(ZU_INIT_MESSAGE_QUEUE_LOCK)
static InitNote g_messageQueueLockNote{ZU_INIT_MESSAGE_QUEUE_LOCK};
