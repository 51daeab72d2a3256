#pragma once
// The end of a Crypto++ pipeline that writes everything it is given to a
// network endpoint, flushed at once (the SSH packet encoder puts one whole
// packet at a time, so each packet reaches the socket without delay). The
// endpoint is not owned. Failures are raised as zuException: 515 without an
// endpoint, else the endpoint's status.
#include <cryptopp/simple.h>

class zuNetEndpoint;

class zuEndpointSink : public CryptoPP::Sink {
 public:
  explicit zuEndpointSink(zuNetEndpoint* endpoint) : endpoint_(endpoint) {}

  // Writes and flushes; an end of message (or an empty put) only flushes.
  size_t Put2(const CryptoPP::byte* bytes, size_t length, int messageEnd, bool blocking) override;
  bool IsolatedFlush(bool hardFlush, bool blocking) override;

  zuNetEndpoint* endpoint() const { return endpoint_; }

 private:
  zuNetEndpoint* endpoint_;
};
