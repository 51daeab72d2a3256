#pragma once
// What a net object asks of the connection handler that owns its exchange.
// zuNetObjectHandler implements it.
#include <string>

class zuNetObject;

class zuNetObjectHandlerInterface {
 public:
  virtual ~zuNetObjectHandlerInterface() = default;

  // Hands a registered object back to the handler's thread to be refiled
  // by its send state; ignores null, ended and unregistered objects. Any
  // thread may call it.
  virtual void queueObject(zuNetObject* object) = 0;
  // The handler's name, ":", the peer's address text and "(port)".
  virtual std::string connectionText() const = 0;
  // A place for one more response worker on this connection; false when
  // none is left. Each true is matched by one releaseWorker. Any thread.
  virtual bool acquireWorker() { return true; }
  virtual void releaseWorker() {}
};
