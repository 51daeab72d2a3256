#pragma once
// The worker thread of a threaded response: it runs the response's work and,
// at its end, hands the response back to its connection handler. It has no
// parent thread and carries the response's name as its text.
#include "loam/threads/zuThread.h"

class zuThreadedNetResponse;

class zuResponseThread : public zuThread {
 public:
  // The response is not owned; it owns the thread.
  explicit zuResponseThread(zuThreadedNetResponse& response);
  ~zuResponseThread() override;

  zuThreadedNetResponse& response() const { return response_; }

 protected:
  void run() override;
  void onExit() override;

 private:
  zuThreadedNetResponse& response_;
};
