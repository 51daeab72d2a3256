#include "loam/threads/zuGlobalLocks.h"

#include "loam/platform/zuInitOrder.h"

ZU_INIT_ORDER(ZU_INIT_LOG_LOCK) zuMemMutex zuLogLock;
ZU_INIT_ORDER(ZU_INIT_EVENT_LOCK) zuMemMutex zuEventLock;
ZU_INIT_ORDER(ZU_INIT_REGISTRY_LOCK) zuMemMutex zuRegistryLock;
ZU_INIT_ORDER(ZU_INIT_MESSAGE_QUEUE_LOCK) zuMemMutex zuMessageQueueLock;
