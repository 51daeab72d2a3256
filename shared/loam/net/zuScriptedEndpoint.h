#pragma once
// Test seam: an endpoint whose receiving side follows a script of byte pieces
// and statuses, and which records what is sent through it. For tests and
// fuzzing of the layers above the endpoints.
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "loam/net/zuNetEndpoint.h"

class zuScriptedEndpoint : public zuNetEndpoint {
 public:
  explicit zuScriptedEndpoint(zuEvent* stopEvent = nullptr, u32 timeout = kNoTimeout);
  ~zuScriptedEndpoint() override;

  // Steps, taken in order by receiveRaw. A piece of bytes is delivered by
  // one call, or by several when the room is smaller; a status is the result
  // of one call that delivers nothing; an action runs when it is reached and
  // the same call goes on with the next step.
  void addBytes(std::string_view bytes);
  void addStatus(u16 status);
  void addAction(std::function<void()> action);
  // The result of every call after the last step; 514 at first.
  void setEndStatus(u16 status) { endStatus_ = status; }
  bool scriptDone() const { return steps_.empty(); }

  // sendRaw's result; with 0 the bytes are appended to sent().
  void setSendStatus(u16 status) { sendStatus_ = status; }
  const std::string& sent() const { return sent_; }
  // One entry per sendRaw call: its byte count.
  const std::vector<u32>& sendSizes() const { return sendSizes_; }
  // One entry per receiveRaw call: the endpoint's time-out at that call.
  const std::vector<u32>& receiveTimeouts() const { return receiveTimeouts_; }

  void setKind(u32 kind) { kind_ = kind; }

  u16 connect(const zuIPAddress& address, u16 port) override;
  u16 connectTo(const char* host, u16 port) override;
  u16 listen(u16 port, const zuIPAddress& bindAddress) override;
  std::unique_ptr<zuNetEndpoint> accept() override { return nullptr; }
  u16 close() override;
  bool isOpen() const override { return open_; }
  void localAddresses(std::vector<zuIPAddress>&) override {}
  std::unique_ptr<zuNetEndpoint> clone(zuEvent* stopEvent, u32 timeout) override;

  u16 sendRaw(const void* data, u32 count) override;
  u16 receiveRaw(void* buffer, u32* count) override;

 private:
  struct Step {
    std::string bytes;
    u16 status = 0;
    std::function<void()> action;
  };

  bool open_ = true;
  std::deque<Step> steps_;
  u16 endStatus_ = zuErrConnectionBroken;
  u16 sendStatus_ = 0;
  std::string sent_;
  std::vector<u32> sendSizes_;
  std::vector<u32> receiveTimeouts_;
};
