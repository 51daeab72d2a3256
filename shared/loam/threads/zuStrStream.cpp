#include "loam/threads/zuStrStream.h"

#include <cstring>

namespace {

constexpr std::size_t kFirstCapacity = 64;

}  // namespace

zuStrStreamBuf::int_type zuStrStreamBuf::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  if (pptr() == epptr()) {
    if (frozen_) return traits_type::eof();
    const std::size_t used = written();
    const std::size_t readAt = static_cast<std::size_t>(gptr() - eback());
    const std::size_t capacity = capacity_ == 0 ? kFirstCapacity : capacity_ * 2;
    std::unique_ptr<char[]> bigger(new char[capacity]);
    if (used > 0) std::memcpy(bigger.get(), buffer_.get(), used);
    buffer_ = std::move(bigger);
    capacity_ = capacity;
    char* base = buffer_.get();
    setp(base, base + capacity_);
    pbump(static_cast<int>(used));
    setg(base, base + readAt, base + used);
  }
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

void zuStrStreamBuf::terminate() {
  if (!traits_type::eq_int_type(sputc('\0'), traits_type::eof())) return;
  if (capacity_ > 0) buffer_[capacity_ - 1] = '\0';
}

void zuStrStreamBuf::extendGetArea() {
  if (pptr() > egptr()) setg(eback(), gptr(), pptr());
}

zuStrStreamBuf::int_type zuStrStreamBuf::underflow() {
  extendGetArea();
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  return traits_type::eof();
}

zuStrStreamBuf::int_type zuStrStreamBuf::pbackfail(int_type c) {
  if (gptr() == eback()) return traits_type::eof();
  gbump(-1);
  if (!traits_type::eq_int_type(c, traits_type::eof())) *gptr() = traits_type::to_char_type(c);
  return traits_type::not_eof(c);
}

zuStrStreamBuf::pos_type zuStrStreamBuf::seekoff(off_type off, std::ios_base::seekdir dir,
                                                 std::ios_base::openmode which) {
  const bool in = (which & std::ios_base::in) != 0;
  const bool out = (which & std::ios_base::out) != 0;
  if (!in && !out) return pos_type(off_type(-1));
  extendGetArea();
  const off_type end = static_cast<off_type>(written());
  off_type base = 0;
  if (dir == std::ios_base::end) {
    base = end;
  } else if (dir == std::ios_base::cur) {
    // Both positions at once only from the start or the end.
    if (in && out) return pos_type(off_type(-1));
    base = in ? static_cast<off_type>(gptr() - eback()) : end;
  }
  const off_type target = base + off;
  if (target < 0 || target > end) return pos_type(off_type(-1));
  if (in) setg(eback(), eback() + target, egptr());
  if (out) {
    // Moving back keeps the text behind for reading; later writes overwrite it.
    setp(pbase(), epptr());
    pbump(static_cast<int>(target));
  }
  return pos_type(target);
}

zuStrStreamBuf::pos_type zuStrStreamBuf::seekpos(pos_type pos, std::ios_base::openmode which) {
  return seekoff(off_type(pos), std::ios_base::beg, which);
}

zuStrStream::zuStrStream() : std::iostream(nullptr) { rdbuf(&buf_); }

zuStrStream::~zuStrStream() { buf_.freeze(false); }

const char* zuStrStream::str() {
  // Not put(): a stream read to its end refuses to write, and the text
  // handed out must still end.
  buf_.terminate();
  buf_.freeze(true);
  const char* start = buf_.data();
  return start ? start : "";
}
