#pragma once
// The per-direction encryption filter of the SSH-2 transport. A proxy filter:
// everything put in goes through an inner filter that the factory replaces
// at NEWKEYS, while the Cipher object itself (and whatever holds a pointer to
// it) stays. The inner filter's chaining value or keystream runs on across
// packets.
#include <cryptopp/filters.h>
#include <cryptopp/integer.h>
#include <cryptopp/secblock.h>

#include <memory>
#include <string>

namespace SSH {

class Cipher : public CryptoPP::SimpleProxyFilter {
 public:
  explicit Cipher(CryptoPP::BufferedTransformation* attachment = nullptr);
  ~Cipher() override;

  Cipher(const Cipher&) = delete;
  Cipher& operator=(const Cipher&) = delete;

  // Names the factory accepts, compared case-sensitively.
  static bool isSupported(const std::string& name);

  // Keys from the key exchange: direction 0 is client to server (key 'C',
  // IV 'A'), any other value server to client ('D', 'B'). Throws
  // CryptoPP::Exception "SSH::Cipher: unsupported cipher type" for an unknown
  // name; the filter in use is kept when anything throws.
  void create(const std::string& name, const CryptoPP::Integer& K,
              const CryptoPP::SecByteBlock& H, const CryptoPP::SecByteBlock& sessionId,
              unsigned direction, bool decrypt);

  // The same with the key and IV given (keyLength/ivLength of the name).
  void createKeyed(const std::string& name, const CryptoPP::byte* key, const CryptoPP::byte* iv,
                   bool decrypt);

  // Key and IV lengths in bytes of a supported name (0 for none).
  static size_t keyLength(const std::string& name);
  static size_t ivLength(const std::string& name);

  // The block cipher's block size, 1 for "none" and "arcfour".
  unsigned blockSize() const { return blockSize_; }
  // The unit packets are padded to: the block size, but at least 8.
  unsigned paddingBlockSize() const { return blockSize_ < 8 ? 8 : blockSize_; }

 private:
  std::unique_ptr<CryptoPP::SymmetricCipher> cipher_;
  unsigned blockSize_ = 1;
};

}  // namespace SSH
