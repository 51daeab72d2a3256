#pragma once
// Type bytes of the netobject protocol and the names of their enumerators.
#include "loam/platform/zuTypes.h"

enum zuNetObjectType : u8 {
  zuNOT_KeepAlive = 0,  // control message of the handler
  zuNOT_Login = 1,      // the agent serves its Upgrade under this byte
  zuNOT_Connect = 2,
  zuNOT_Upgrade = 3,          // the library's own upgrade request
  zuNOT_ConnectionError = 5,  // control message: the connection ends
  zuNOT_ReadFile = 6,
  zuNOT_WriteFile = 7,
};

// The enumerator's name ("zuNOT_Connect", ...); "NetObject" for other bytes.
const char* zuNetObjectTypeName(u8 type);
