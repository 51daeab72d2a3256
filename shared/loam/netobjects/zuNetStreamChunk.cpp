#include "loam/netobjects/zuNetStreamChunk.h"

#include <istream>
#include <ostream>

#include "loam/base/zuException.h"
#include "loam/netobjects/zuNetObjectErrors.h"

u32 zuReadStreamChunk(std::istream* stream, u8* buffer, u32 maximum, bool& last,
                      const std::string& name) {
  last = true;
  if (stream == nullptr) return 0;
  u32 n = 0;
  if (maximum != 0 && stream->good()) {
    stream->read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(maximum));
    n = static_cast<u32>(stream->gcount());
  }
  // A short read sets failbit together with eofbit; failbit alone or badbit
  // is an error of the stream.
  if (stream->bad() || (stream->fail() && !stream->eof()))
    throw zuException(zuErrFileRead, kzuFileReadErrorText, 'f', name);
  last = !stream->good() || stream->peek() == std::istream::traits_type::eof();
  if (stream->bad()) throw zuException(zuErrFileRead, kzuFileReadErrorText, 'f', name);
  return n;
}

bool zuWriteStreamChunk(std::ostream* stream, const u8* data, u32 length) {
  if (stream == nullptr || length == 0) return stream == nullptr || stream->good();
  stream->write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length));
  return stream->good();
}
