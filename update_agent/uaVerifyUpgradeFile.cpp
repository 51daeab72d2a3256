#include "update_agent/uaVerifyUpgradeFile.h"

#include <cryptopp/base64.h>
#include <cryptopp/files.h>
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>

#include <istream>
#include <memory>
#include <optional>

#include "loam/platform/zuPlatformOutputFile.h"

// UA_UPGRADE_KEY_HEX and UA_UPGRADE_KEY_BASE64, made by the build.
#include "uaUpgradeKeyBuild.h"

namespace {

using Verifier = CryptoPP::RSASS<CryptoPP::PKCS1v15, CryptoPP::SHA1>::Verifier;

bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Crypto++'s hex decoder skips anything that is not a digit, so text such as
// "AB CD" or "AZB" would decode to something; only plain digit pairs count.
std::optional<std::string> decodeHex(const std::string& text) {
  if (text.size() % 2 != 0) return std::nullopt;
  for (char c : text) {
    if (!isHexDigit(c)) return std::nullopt;
  }
  std::string bytes;
  CryptoPP::StringSource(text, true, new CryptoPP::HexDecoder(new CryptoPP::StringSink(bytes)));
  return bytes;
}

}  // namespace

const std::string& uaUpgradePublicKeyText() {
  // The publisher's key, given to the build (UA_UPGRADE_PUBLIC_KEY); a PEM
  // key's base64 body becomes the same hex DER text. Empty without one.
  static const std::string text = [] {
    std::string hex = UA_UPGRADE_KEY_HEX;
    const std::string base64 = UA_UPGRADE_KEY_BASE64;
    if (hex.empty() && !base64.empty()) {
      CryptoPP::StringSource(
          base64, true,
          new CryptoPP::Base64Decoder(new CryptoPP::HexEncoder(new CryptoPP::StringSink(hex))));
    }
    return hex;
  }();
  return text;
}

bool uaVerifyUpgradeFileWithKey(const std::string& publicKeyText, const std::string& filePath,
                                const std::string& signatureText) noexcept {
  try {
    // No key, no upgrade.
    if (publicKeyText.empty()) return false;
    const std::optional<std::string> keyBytes = decodeHex(publicKeyText);
    if (!keyBytes) return false;
    CryptoPP::StringSource keySource(*keyBytes, true);
    Verifier verifier;
    verifier.AccessKey().Load(keySource);

    // Checked before the file is touched: a wrong-sized signature can never verify.
    if (signatureText.size() != 2 * verifier.SignatureLength()) return false;
    const std::optional<std::string> signature = decodeHex(signatureText);
    if (!signature || signature->size() != verifier.SignatureLength()) return false;

    // The stream would stop at an embedded NUL and check some other file.
    if (filePath.find('\0') != std::string::npos) return false;
    const std::unique_ptr<std::istream> opened = zuPlatform::openInputFile(filePath);
    std::istream& file = *opened;
    if (!file) return false;

    CryptoPP::byte result[2] = {0, 0};
    auto* sink = new CryptoPP::ArraySink(result, sizeof result);
    // Streamed in blocks: an upgrade may be tens of megabytes. A read error
    // throws out of the source.
    CryptoPP::FileSource source(file, false,
                                new CryptoPP::SignatureVerificationFilter(
                                    verifier, sink,
                                    CryptoPP::SignatureVerificationFilter::SIGNATURE_AT_BEGIN |
                                        CryptoPP::SignatureVerificationFilter::PUT_RESULT));
    source.AttachedTransformation()->Put(reinterpret_cast<const CryptoPP::byte*>(signature->data()),
                                         signature->size());
    source.PumpAll();
    return sink->TotalPutLength() == 1 && result[0] == 1;
  } catch (...) {
    return false;
  }
}

bool uaVerifyUpgradeFile(const std::string& filePath, const std::string& signatureText) noexcept {
  try {
    return uaVerifyUpgradeFileWithKey(uaUpgradePublicKeyText(), filePath, signatureText);
  } catch (...) {
    return false;
  }
}
