#pragma once
// A text stream, for reading and writing, over a buffer that grows as text is
// written. str() ends the text with a zero, freezes the buffer and hands out
// its start: while frozen the buffer never moves, so the pointer stays good,
// and writes that would need a larger buffer fail instead. The buffer is
// freed with the stream, frozen or not.
#include <istream>
#include <memory>
#include <streambuf>

class zuStrStreamBuf : public std::streambuf {
 public:
  zuStrStreamBuf() = default;

  void freeze(bool frozen) { frozen_ = frozen; }
  bool frozen() const { return frozen_; }
  // The buffer's start, or null before anything was written.
  char* data() const { return buffer_.get(); }
  // Characters written so far (the zeros that str() wrote included).
  std::size_t written() const { return static_cast<std::size_t>(pptr() - pbase()); }
  // Writes a zero whatever the stream's state. When a frozen buffer has no
  // room left, its last character becomes the zero, so the text handed out
  // always ends.
  void terminate();

 protected:
  int_type overflow(int_type c) override;
  int_type underflow() override;
  int_type pbackfail(int_type c) override;
  pos_type seekoff(off_type off, std::ios_base::seekdir dir,
                   std::ios_base::openmode which) override;
  pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;

 private:
  // Makes the get area reach everything written so far.
  void extendGetArea();

  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  bool frozen_ = false;
};

class zuStrStream : public std::iostream {
 public:
  zuStrStream();
  zuStrStream(const zuStrStream&) = delete;
  zuStrStream& operator=(const zuStrStream&) = delete;
  ~zuStrStream() override;

  // Writes a terminating zero, freezes the buffer and returns its start. A
  // further call writes a further zero (into spare room only, as the buffer
  // is frozen). Never null, and always ends with a zero, also after a failed
  // read or write.
  const char* str();
  // Lets the buffer move and grow again; pointers from str() are then stale.
  void unfreeze() { buf_.freeze(false); }
  bool frozen() const { return buf_.frozen(); }
  // Characters written so far.
  std::size_t pcount() const { return buf_.written(); }

 private:
  zuStrStreamBuf buf_;
};
