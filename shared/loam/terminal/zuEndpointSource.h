#pragma once
// The head of a Crypto++ pipeline that reads from a network endpoint and puts
// what it reads into its attached transformation (owned). The endpoint is not
// owned and may be null, which every pump refuses with zuException 515.
// Read failures other than a time-out are raised with the endpoint's status;
// failures of the attached transformation pass through unchanged.
#include <cryptopp/filters.h>

#include "loam/platform/zuTypes.h"

class zuNetEndpoint;

class zuEndpointSource : public CryptoPP::Source {
 public:
  // The most one pumpAll takes, so a peer that never stops sending cannot
  // hold the caller in one call.
  static constexpr u32 kPumpAllLimit = 0x40000;
  static constexpr u32 kReadPiece = 4096;

  zuEndpointSource(zuNetEndpoint* endpoint, CryptoPP::BufferedTransformation* attachment)
      : CryptoPP::Source(attachment), endpoint_(endpoint) {}

  // Up to maxBytes, one byte per read, within maxTime ms for the whole pump
  // (as a zuReadDeadline bounds it: bytes already received are taken, no
  // wait past the time); with checkDelimiter a byte equal to the delimiter
  // ends the pump and is consumed without being passed on. A time-out ends
  // it too. Returns the bytes taken.
  u32 Pump2(u32 maxBytes, u32 maxTime, bool checkDelimiter, CryptoPP::byte delimiter);
  // Everything that arrives within ms (only the first read waits, later ones
  // take what has already arrived), in pieces of up to kReadPiece bytes, at
  // most kPumpAllLimit. Returns the bytes taken; leaves the endpoint's
  // time-out at 0.
  u32 pumpAll(u32 ms);

  // Crypto++'s source interface: up to byteCount bytes with the endpoint's
  // time-out (not waiting when not blocking); byteCount becomes the count.
  size_t Pump2(CryptoPP::lword& byteCount, bool blocking = true) override;
  // A byte stream carries no messages.
  size_t PumpMessages2(unsigned int& messageCount, bool = true) override {
    messageCount = 0;
    return 0;
  }
  bool SourceExhausted() const override;

  zuNetEndpoint* endpoint() const { return endpoint_; }

 private:
  zuNetEndpoint& requireEndpoint() const;

  zuNetEndpoint* endpoint_;
};
