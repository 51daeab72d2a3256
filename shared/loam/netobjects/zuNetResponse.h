#pragma once
// The server side of one netobject exchange: the connection handler creates
// it through the factory of the request's type byte, feeds it the request's
// chunks and sends back the reply it builds. It paces a reply that the
// handler parks in its waiting list, turns the reply built by processData
// into the outgoing data, and finishes once the last chunk has gone.
#include "loam/base/zuMessage.h"
#include "loam/base/zuTimer.h"
#include "loam/netobjects/zuNetObject.h"
#include "loam/platform/zuTypes.h"

class zuNetResponse : public zuNetObject {
 public:
  static constexpr u32 kPacingInterval = 500;

  zuNetResponse();
  ~zuNetResponse() override;

  bool isRequest() const override;
  // Entering the waiting list (2) counts, restarts the pacing timer and
  // makes the next refiling queue the object for sending again.
  void setState(u32 state) override;
  // What is left of the pacing interval since the object was last parked.
  u32 timeToNextAction() override;
  // On the last chunk, when processData succeeded, its reply becomes the
  // outgoing data.
  u16 receiveData(const u8* data, u32 length, bool last) override;
  // Finishes the exchange once the last chunk is out.
  u32 sendData(u8* buffer, u32 maximum, u16& error, bool& last) override;

  // Logs getName() ": " and the formatted text at level 0, unless the text
  // is empty. Every failing response reports through it.
  void logError(const zuMessage& message) const;
  // getName() ": " and the formatted text at the level, even when empty.
  void logMessage(i32 level, const zuMessage& message) const;

  // How often the object entered the waiting list.
  u32 waitingCount() const { return waitingCount_; }
  u32 pacingInterval() const { return pacingInterval_; }

 protected:
  u32 waitingCount_ = 0;
  u32 pacingInterval_ = kPacingInterval;
  zuTimer pacingTimer_;
};
