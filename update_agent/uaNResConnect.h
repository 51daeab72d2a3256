#pragma once
// The agent's answer to a Connect request (type 2): its protocol value,
// version text and operating-system description.
#include "loam/netobjects/zuNetResConnect.h"
#include "loam/platform/zuTypes.h"

class uaNResConnect : public zuNetResConnect {
 public:
  static constexpr const char* kVersionText = "6.2";

  uaNResConnect();
  ~uaNResConnect() override;

  u8 getType() const override;
  const char* getTypeName() const override;
  const char* getName() const override;
};
