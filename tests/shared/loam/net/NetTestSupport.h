#pragma once
// Helpers shared by the net tests.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "loam/net/zuIPAddress.h"
#include "loam/net/zuNetEndpoint.h"

namespace tw::test {

// Builds the address with inet_pton so that the tests do not lean on our parser.
inline zuIPAddress ip(const char* text) {
  u8 bytes[16] = {};
  EXPECT_EQ(inet_pton(AF_INET6, text, bytes), 1) << text;
  return zuIPAddress(bytes);
}

// Reads exactly n bytes; empty when the read fails (its status in *status).
inline std::string readExactly(zuNetEndpoint& endpoint, u32 n, u16* status = nullptr) {
  std::string out(n, '\0');
  const u16 s = endpoint.read(out.data(), n);
  if (status) *status = s;
  return s == 0 ? out : std::string();
}

}  // namespace tw::test
