#pragma once
// The end of a Crypto++ pipeline that writes everything it is given to a
// network endpoint, flushed at once (the SSH packet encoder puts one whole
// packet at a time, so each packet reaches the socket without delay). The
// endpoint is not owned. Failures are raised as zuException: 515 without an
// endpoint, else the endpoint's status.
//
// Writes wait at most the sink's own write time-out, whatever the endpoint's
// time-out is at that moment (a reader may have left it at 0, and a write
// with no time at all fails as soon as the socket's send buffer is full).
#include <cryptopp/simple.h>

#include "loam/platform/zuTypes.h"

class zuNetEndpoint;

class zuEndpointSink : public CryptoPP::Sink {
 public:
  explicit zuEndpointSink(zuNetEndpoint* endpoint) : endpoint_(endpoint) {}

  // Writes and flushes; an end of message (or an empty put) only flushes.
  size_t Put2(const CryptoPP::byte* bytes, size_t length, int messageEnd, bool blocking) override;
  bool IsolatedFlush(bool hardFlush, bool blocking) override;

  zuNetEndpoint* endpoint() const { return endpoint_; }
  void setWriteTimeout(u32 ms) { writeTimeout_ = ms; }
  u32 writeTimeout() const { return writeTimeout_; }

 private:
  // Runs one write step under the write time-out.
  void send(const CryptoPP::byte* bytes, size_t length);

  zuNetEndpoint* endpoint_;
  u32 writeTimeout_ = 0xFFFFFFFF;
};
