#include "update_agent/uaNResConnect.h"

#include "loam/netobjects/zuNetObjectTypes.h"

uaNResConnect::uaNResConnect() : zuNetResConnect(kProtocolValue, kVersionText, true) {}

uaNResConnect::~uaNResConnect() = default;

u8 uaNResConnect::getType() const { return zuNOT_Connect; }

const char* uaNResConnect::getTypeName() const { return "zuNOT_Connect"; }

const char* uaNResConnect::getName() const { return "Connect"; }
