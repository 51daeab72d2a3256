#pragma once
// The Bubble Babble encoding (Antti Huima) as a Crypto++ filter, which the
// dependency does not ship: each message becomes "x", five-letter groups
// for each byte pair joined by "-", a closing group and "x". The end of a
// message resets the checksum and is passed on.
#include <cryptopp/filters.h>
#include <cryptopp/simple.h>

namespace CryptoPP {

class BubbleBabbleEncoder : public Bufferless<Filter> {
 public:
  explicit BubbleBabbleEncoder(BufferedTransformation* attachment = nullptr);

  size_t Put2(const byte* inString, size_t length, int messageEnd, bool blocking) override;

 private:
  void begin();
  void putPair(byte b1, byte b2);
  void finish();

  unsigned checksum_ = 1;
  bool started_ = false;  // "x" written for the message in hand
  bool havePending_ = false;
  byte pending_ = 0;
  std::string out_;  // the text of one Put2 call
};

}  // namespace CryptoPP
