#include "sshlib/Compressor.h"

#include <cryptopp/zlib.h>

#include <memory>

namespace SSH {
namespace {

constexpr unsigned kDefaultLevel = 4;
constexpr unsigned kLog2WindowSize = 14;  // zlib header byte 0x68

}  // namespace

Compressor::Compressor(CryptoPP::BufferedTransformation* attachment)
    : CryptoPP::SimpleProxyFilter(new CryptoPP::MeterFilter, attachment) {}

Compressor::~Compressor() = default;

bool Compressor::isSupported(const std::string& name) { return name == "none" || name == "zlib"; }

void Compressor::create(const std::string& name, bool compress) {
  std::unique_ptr<CryptoPP::Filter> inner;
  if (name == "none") {
    inner = std::make_unique<CryptoPP::MeterFilter>();
  } else if (name == "zlib") {
    if (compress) {
      const unsigned level = level_ < 0 ? kDefaultLevel : static_cast<unsigned>(level_);
      inner = std::make_unique<CryptoPP::ZlibCompressor>(nullptr, level, kLog2WindowSize, true);
    } else {
      inner = std::make_unique<CryptoPP::ZlibDecompressor>();
    }
  } else {
    throw CryptoPP::Exception(CryptoPP::Exception::OTHER_ERROR,
                              "SSH::Compressor: unsupported compression algorithm");
  }
  SetFilter(inner.release());
  passesThrough_ = name == "none";
}

}  // namespace SSH
