#pragma once
// A response whose work runs on a thread of its own once the whole request
// has arrived, so a long job never blocks its connection. The handler's
// thread gathers the chunks; the worker runs run() over the whole payload,
// then makes the reply ready and hands the response back to the handler,
// which sends either the outgoing data or the error.
//
// While the worker runs, the response belongs to it: the worker waits until
// the handler has finished filing the response after its last chunk, and
// it no longer hands the response back once the exchange has ended (the
// handler ends it on a cancel or when the connection goes). Destroying the
// response stops the worker and waits for it.
#include <condition_variable>
#include <memory>
#include <mutex>

#include "loam/netobjects/zuNetReader.h"
#include "loam/netobjects/zuNetResponse.h"
#include "loam/platform/zuTypes.h"
#include "loam/threads/zuSingleEvent.h"

class zuResponseThread;

class zuThreadedNetResponse : public zuNetResponse {
 public:
  zuThreadedNetResponse();
  // Stops the worker (exit code 0) and waits for it without limit.
  ~zuThreadedNetResponse() override;

  // Gathers the chunks; on the last one starts the worker over all of them
  // and leaves the response to it (send state 0). std::bad_alloc when the
  // worker cannot be made; 259 with the memory text, and no worker, when
  // the handler has no place for one more.
  u16 receiveData(const u8* data, u32 length, bool last) override;
  // Keeps the worker in step with the handler (see above).
  void setState(u32 state) override;

  // The work, on the worker thread, over the whole request payload: 0 or a
  // status code, with the error message set by the work itself.
  virtual u16 run(zuNetReader& reader);

  // The worker's stop event, null before the work starts. Long waits of the
  // work end on it.
  zuSingleEvent* getStopEvent();
  bool isStopRequested() const;

  // Called on the worker thread.
  void runWork(zuResponseThread& thread);
  void onThreadExit(zuResponseThread& thread);

  zuResponseThread* responseThread() const { return thread_.get(); }

 protected:
  // Ends the exchange for the worker, stops it and waits for it. A derived
  // class whose run uses its own members calls it first in its destructor,
  // so the work never outlives them. Safe to call more than once.
  void stopWork();

 private:
  std::unique_ptr<zuResponseThread> thread_;
  std::unique_ptr<zuNetReader> reader_;

  std::mutex handoff_;
  std::condition_variable filedChanged_;
  // The handler has filed the response after its last chunk.
  bool filed_ = false;
  // The exchange is over: the worker must not hand the response back.
  bool ended_ = false;
  // The handler's worker place, held from the start until the work ends.
  bool holdsWorker_ = false;
  void releaseWorker();
};
