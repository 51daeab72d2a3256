#include "sshlib/Mac.h"

#include "sshlib/VersionInfo.h"
#include "sshlib/deriveKey.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/hmac.h>
#include <cryptopp/md5.h>
#include <cryptopp/sha.h>
#include <cryptopp/trunhash.h>

#include <array>

namespace SSH {
namespace {

using CryptoPP::byte;
using HashPtr = std::unique_ptr<CryptoPP::HashTransformation>;

template <class Hash>
HashPtr makeHmac(const byte* key, size_t keyLength) {
  return std::make_unique<CryptoPP::HMAC<Hash>>(key, keyLength);
}

struct MacType {
  const char* name;
  size_t keyLength;
  unsigned macLength;  // below the HMAC's digest size: truncated
  bool sha1;           // subject to the 16-byte key quirk
  HashPtr (*make)(const byte* key, size_t keyLength);
};

// In the order the names are looked up.
constexpr std::array<MacType, 5> kMacs{{
    {"none", 0, 0, false, nullptr},
    {"hmac-sha1", 20, 20, true, &makeHmac<CryptoPP::SHA1>},
    {"hmac-sha1-96", 20, 12, true, &makeHmac<CryptoPP::SHA1>},
    {"hmac-md5", 16, 16, false, &makeHmac<CryptoPP::Weak::MD5>},
    {"hmac-md5-96", 16, 12, false, &makeHmac<CryptoPP::Weak::MD5>},
}};

constexpr size_t kQuirkKeyLength = 16;

const MacType& findMac(const std::string& name) {
  for (const MacType& type : kMacs) {
    if (name == type.name) return type;
  }
  throw CryptoPP::Exception(CryptoPP::Exception::OTHER_ERROR,
                            "SSH::Mac: unsupported MAC algorithm");
}

bool startsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

}  // namespace

Mac::Mac(CryptoPP::BufferedTransformation* attachment)
    : CryptoPP::SimpleProxyFilter(nullptr, attachment),
      mac_(std::make_unique<CryptoPP::NullHash>()) {
  SetFilter(new CryptoPP::HashFilter(*mac_));
}

Mac::~Mac() = default;

bool Mac::isSupported(const std::string& name) {
  for (const MacType& type : kMacs) {
    if (name == type.name) return true;
  }
  return false;
}

bool Mac::hasMacKeyQuirk(const VersionInfo& peerVersion) {
  const std::string& comments = peerVersion.comments;
  if (!startsWith(comments, "SSH Secure Shell") && !startsWith(comments, "F-SECURE SSH")) {
    return false;
  }
  const std::string& software = peerVersion.softwareVersion;
  return startsWith(software, "2.3.0") || startsWith(software, "2.2.") ||
         startsWith(software, "2.1.") || startsWith(software, "2.0.") || software == "2.2" ||
         software == "2.1" || software == "2.0";
}

size_t Mac::keyLength(const std::string& name, bool macKeyQuirk) {
  const MacType& type = findMac(name);
  return type.sha1 && macKeyQuirk ? kQuirkKeyLength : type.keyLength;
}

void Mac::create(const std::string& name, const CryptoPP::Integer& K,
                 const CryptoPP::SecByteBlock& H, const CryptoPP::SecByteBlock& sessionId,
                 unsigned direction, bool generate, const VersionInfo& peerVersion) {
  const size_t length = keyLength(name, hasMacKeyQuirk(peerVersion));
  const CryptoPP::SecByteBlock key = deriveKey(K, H, direction == 0 ? 'E' : 'F', sessionId, length);
  createKeyed(name, key, length, generate);
}

void Mac::createKeyed(const std::string& name, const byte* key, size_t keyLength,
                      bool generate) {
  const MacType& type = findMac(name);
  // Everything new is built before the objects in use are released.
  HashPtr hmac = type.make ? type.make(key, keyLength) : nullptr;
  HashPtr mac;
  if (!hmac) {
    mac = std::make_unique<CryptoPP::NullHash>();
  } else if (type.macLength < hmac->DigestSize()) {
    mac = std::make_unique<CryptoPP::TruncatedHashModule>(*hmac, type.macLength);
  }
  CryptoPP::HashTransformation& used = mac ? *mac : *hmac;
  std::unique_ptr<CryptoPP::Filter> inner;
  CryptoPP::HashVerificationFilter* verifier = nullptr;
  if (generate) {
    inner = std::make_unique<CryptoPP::HashFilter>(used);
  } else {
    auto filter = std::make_unique<CryptoPP::HashVerificationFilter>(
        used, nullptr, CryptoPP::HashVerificationFilter::HASH_AT_BEGIN);
    verifier = filter.get();
    inner = std::move(filter);
  }
  // The old inner filter refers to the old MAC objects: it goes first.
  SetFilter(inner.release());
  verifier_ = verifier;
  mac_ = std::move(mac);
  hmac_ = std::move(hmac);
}

unsigned Mac::macLength() const { return (mac_ ? *mac_ : *hmac_).DigestSize(); }

bool Mac::verified() const { return verifier_ == nullptr || verifier_->GetLastResult(); }

}  // namespace SSH
