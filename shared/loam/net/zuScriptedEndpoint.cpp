#include "loam/net/zuScriptedEndpoint.h"

#include <algorithm>
#include <cstring>
#include <utility>

zuScriptedEndpoint::zuScriptedEndpoint(zuEvent* stopEvent, u32 timeout)
    : zuNetEndpoint(stopEvent, timeout) {}

zuScriptedEndpoint::~zuScriptedEndpoint() = default;

void zuScriptedEndpoint::addBytes(std::string_view bytes) {
  // An empty piece is one call that delivers nothing with status 0.
  Step step;
  step.bytes.assign(bytes.data(), bytes.size());
  steps_.push_back(std::move(step));
}

void zuScriptedEndpoint::addStatus(u16 status) {
  Step step;
  step.status = status;
  steps_.push_back(std::move(step));
}

void zuScriptedEndpoint::addAction(std::function<void()> action) {
  Step step;
  step.action = std::move(action);
  steps_.push_back(std::move(step));
}

u16 zuScriptedEndpoint::connect(const zuIPAddress&, u16) {
  open_ = true;
  return 0;
}

u16 zuScriptedEndpoint::connectTo(const char*, u16) {
  open_ = true;
  return 0;
}

u16 zuScriptedEndpoint::listen(u16, const zuIPAddress&) {
  open_ = true;
  return 0;
}

u16 zuScriptedEndpoint::close() {
  flush();
  open_ = false;
  return 0;
}

std::unique_ptr<zuNetEndpoint> zuScriptedEndpoint::clone(zuEvent* stopEvent, u32 timeout) {
  return std::make_unique<zuScriptedEndpoint>(stopEvent, timeout);
}

u16 zuScriptedEndpoint::sendRaw(const void* data, u32 count) {
  sendSizes_.push_back(count);
  if (sendStatus_ != 0) return sendStatus_;
  sent_.append(static_cast<const char*>(data), count);
  return 0;
}

u16 zuScriptedEndpoint::receiveRaw(void* buffer, u32* count) {
  receiveTimeouts_.push_back(timeout());
  const u32 room = *count;
  *count = 0;
  while (!steps_.empty() && steps_.front().action) {
    // Taken off first: the action may add steps of its own.
    std::function<void()> action = std::move(steps_.front().action);
    steps_.pop_front();
    action();
  }
  if (steps_.empty()) return endStatus_;
  Step& step = steps_.front();
  if (step.bytes.empty()) {
    const u16 status = step.status;
    steps_.pop_front();
    return status;
  }
  const std::size_t n = std::min<std::size_t>(room, step.bytes.size());
  std::memcpy(buffer, step.bytes.data(), n);
  step.bytes.erase(0, n);
  if (step.bytes.empty()) steps_.pop_front();
  *count = static_cast<u32>(n);
  return 0;
}
