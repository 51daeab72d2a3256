#pragma once
// The per-direction compression filter of the SSH-2 transport: a proxy filter
// over a pass-through, a zlib compressor or a zlib decompressor. The zlib
// stream runs on for the life of the filter; the packet encoder flushes it
// hard at each packet's end so every packet's compressed payload is complete
// and the next one continues the same stream.
#include <cryptopp/filters.h>

#include <string>

namespace SSH {

class Compressor : public CryptoPP::SimpleProxyFilter {
 public:
  explicit Compressor(CryptoPP::BufferedTransformation* attachment = nullptr);
  ~Compressor() override;

  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  static bool isSupported(const std::string& name);

  // "none" or "zlib"; throws CryptoPP::Exception "SSH::Compressor:
  // unsupported compression algorithm" for any other name.
  void create(const std::string& name, bool compress);

  // Deflate level; negative means 4. Nothing changes it from -1.
  int level() const { return level_; }

  // True in the "none" form: what goes in comes out unchanged, so the packet
  // layer may skip it.
  bool passesThrough() const { return passesThrough_; }

 private:
  int level_ = -1;
  bool passesThrough_ = true;
};

}  // namespace SSH
