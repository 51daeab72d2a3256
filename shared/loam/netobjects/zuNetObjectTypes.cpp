#include "loam/netobjects/zuNetObjectTypes.h"

const char* zuNetObjectTypeName(u8 type) {
  switch (type) {
    case zuNOT_KeepAlive:
      return "zuNOT_KeepAlive";
    case zuNOT_Login:
      return "zuNOT_Login";
    case zuNOT_Connect:
      return "zuNOT_Connect";
    case zuNOT_Upgrade:
      return "zuNOT_Upgrade";
    case zuNOT_ConnectionError:
      return "zuNOT_ConnectionError";
    case zuNOT_ReadFile:
      return "zuNOT_ReadFile";
    case zuNOT_WriteFile:
      return "zuNOT_WriteFile";
    default:
      return "NetObject";
  }
}
