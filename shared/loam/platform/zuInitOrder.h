#pragma once
// Construction order of the library's process-wide objects. Each global is
// defined in the library that owns it with ZU_INIT_ORDER(<slot>); the
// toolchain then builds them in ascending order across translation units and
// destroys them in reverse, whatever the link order.
//
//   ZU_INIT_ORDER(ZU_INIT_LOG_LOCK) zuMemMutex g_logLock;
#define ZU_INIT_ORDER(slot) __attribute__((init_priority(slot)))

#define ZU_INIT_ALLOC_GUARD 101
#define ZU_INIT_RECORD_TYPE_MAP 110
#define ZU_INIT_LOG_NAME 120
#define ZU_INIT_LOG_LISTENERS 130
#define ZU_INIT_LOG_FILE_NAME 140
#define ZU_INIT_LOG_LOCK 150
#define ZU_INIT_MESSAGE_CATALOG 160
#define ZU_INIT_EVENT_LOCK 170
#define ZU_INIT_THREAD_REGISTRY 180
#define ZU_INIT_REGISTRY_LOCK 190
#define ZU_INIT_MAIN_THREAD 200
#define ZU_INIT_MESSAGE_QUEUE_LOCK 210
#define ZU_INIT_MESSAGE_QUEUE 220
#define ZU_INIT_DEFAULT_RANDOM_SEED 230
#define ZU_INIT_MODULE_PATH 240
#define ZU_INIT_MODULE_FOLDER 250
#define ZU_INIT_MODULE_FILE_NAME 260
