#include "sshlib/BubbleBabbleEncoder.h"

namespace CryptoPP {

namespace {
constexpr char kVowels[] = "aeiouy";
constexpr char kConsonants[] = "bcdfghklmnprstvzx";
}  // namespace

BubbleBabbleEncoder::BubbleBabbleEncoder(BufferedTransformation* attachment) {
  Detach(attachment);
}

void BubbleBabbleEncoder::begin() {
  if (started_) return;
  out_ += 'x';
  started_ = true;
}

void BubbleBabbleEncoder::putPair(byte b1, byte b2) {
  const unsigned c = checksum_;
  out_ += kVowels[((b1 >> 6) + c) % 6];
  out_ += kConsonants[(b1 >> 2) & 15];
  out_ += kVowels[((b1 & 3) + c / 6) % 6];
  out_ += kConsonants[b2 >> 4];
  out_ += '-';
  out_ += kConsonants[b2 & 15];
  checksum_ = (c * 5 + b1 * 7u + b2) % 36;
}

void BubbleBabbleEncoder::finish() {
  const unsigned c = checksum_;
  if (havePending_) {
    const byte b = pending_;
    out_ += kVowels[((b >> 6) + c) % 6];
    out_ += kConsonants[(b >> 2) & 15];
    out_ += kVowels[((b & 3) + c / 6) % 6];
  } else {
    out_ += kVowels[c % 6];
    out_ += 'x';
    out_ += kVowels[c / 6];
  }
  out_ += 'x';
  checksum_ = 1;
  started_ = false;
  havePending_ = false;
}

size_t BubbleBabbleEncoder::Put2(const byte* inString, size_t length, int messageEnd,
                                 bool blocking) {
  out_.clear();
  if (length != 0 || messageEnd) begin();
  for (size_t i = 0; i < length; ++i) {
    if (!havePending_) {
      pending_ = inString[i];
      havePending_ = true;
    } else {
      putPair(pending_, inString[i]);
      havePending_ = false;
    }
  }
  if (messageEnd) finish();
  const size_t blocked = Output(0, reinterpret_cast<const byte*>(out_.data()), out_.size(),
                                messageEnd, blocking);
  out_.clear();
  return blocked;
}

}  // namespace CryptoPP
