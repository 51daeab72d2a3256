#include "sshlib/BubbleBabbleEncoder.h"

#include <gtest/gtest.h>

#include "sshlib/Fingerprints.h"

namespace {

std::string bubble(const std::string& input) {
  std::string out;
  CryptoPP::StringSource(input, true, new CryptoPP::BubbleBabbleEncoder(new CryptoPP::StringSink(out)));
  return out;
}

TEST(SSHBubbleBabble, PublishedVectors) {
  // The examples of the encoding's description, covering no, an odd and an
  // even number of bytes.
  EXPECT_EQ(bubble(""), "xexax");
  EXPECT_EQ(bubble("1234567890"), "xesef-disof-gytuf-katof-movif-baxux");
  EXPECT_EQ(bubble("Pineapple"), "xigak-nyryk-humil-bosek-sonax");
}

TEST(SSHBubbleBabble, PiecesAndMessagesAreIndependent) {
  // Input split mid-pair reads as one message; the end of a message resets
  // the checksum, so the second message encodes as if alone.
  std::string out;
  CryptoPP::BubbleBabbleEncoder encoder(new CryptoPP::StringSink(out));
  encoder.Put(reinterpret_cast<const CryptoPP::byte*>("Pin"), 3);
  encoder.Put(reinterpret_cast<const CryptoPP::byte*>("eapple"), 6);
  encoder.MessageEnd();
  EXPECT_EQ(out, "xigak-nyryk-humil-bosek-sonax");
  out.clear();
  encoder.PutMessageEnd(reinterpret_cast<const CryptoPP::byte*>("1234567890"), 10);
  EXPECT_EQ(out, "xesef-disof-gytuf-katof-movif-baxux");
}

TEST(SSHFingerprints, HexPairs) {
  const CryptoPP::byte bytes[] = {0x01, 0xff, 0xa0};
  EXPECT_EQ(SSH::hexFingerprint(bytes, 2), "01:ff");
  EXPECT_EQ(SSH::hexFingerprint(bytes, 3), "01:ff:a0");
  EXPECT_EQ(SSH::hexFingerprint(bytes, 0), "");
  EXPECT_EQ(SSH::md5Fingerprint("").size(), 16u * 3 - 1);
  EXPECT_EQ(SSH::md5Fingerprint(""), "d4:1d:8c:d9:8f:00:b2:04:e9:80:09:98:ec:f8:42:7e");
}

}  // namespace
