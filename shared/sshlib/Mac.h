#pragma once
// The per-direction MAC filter of the SSH-2 transport. A proxy filter over a
// hash filter (send side: the MAC is emitted at the end of each message) or
// a hash-verification filter (receive side: the expected MAC is put first,
// then the data; the comparison is the dependency's constant-time one and
// its result is read with verified()).
#include <cryptopp/filters.h>
#include <cryptopp/integer.h>
#include <cryptopp/secblock.h>

#include <memory>
#include <string>

namespace SSH {

struct VersionInfo;

class Mac : public CryptoPP::SimpleProxyFilter {
 public:
  explicit Mac(CryptoPP::BufferedTransformation* attachment = nullptr);
  ~Mac() override;

  Mac(const Mac&) = delete;
  Mac& operator=(const Mac&) = delete;

  static bool isSupported(const std::string& name);

  // Peers whose hmac-sha1 keys are 16 bytes instead of 20 (old SSH
  // Communications and F-Secure releases); decided by the peer's
  // identification for both directions.
  static bool hasMacKeyQuirk(const VersionInfo& peerVersion);

  // Direction 0 is client to server (key letter 'E'), else server to client
  // ('F'). Throws CryptoPP::Exception "SSH::Mac: unsupported MAC algorithm"
  // for an unknown name; the filter in use is kept when anything throws.
  void create(const std::string& name, const CryptoPP::Integer& K,
              const CryptoPP::SecByteBlock& H, const CryptoPP::SecByteBlock& sessionId,
              unsigned direction, bool generate, const VersionInfo& peerVersion);

  // The same with the key given; keyLength as the name and quirk require.
  void createKeyed(const std::string& name, const CryptoPP::byte* key, size_t keyLength,
                   bool generate);

  // Key length for a name (16 instead of 20 for hmac-sha1* with the quirk).
  static size_t keyLength(const std::string& name, bool macKeyQuirk);

  unsigned macLength() const;
  // Whether the last message matched its MAC (always true in generating form
  // and for "none").
  bool verified() const;

 private:
  std::unique_ptr<CryptoPP::HashTransformation> hmac_;
  std::unique_ptr<CryptoPP::HashTransformation> mac_;
  CryptoPP::HashVerificationFilter* verifier_ = nullptr;  // owned by the proxy
};

}  // namespace SSH
