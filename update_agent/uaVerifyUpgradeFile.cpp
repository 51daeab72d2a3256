#include "update_agent/uaVerifyUpgradeFile.h"

#include <cryptopp/files.h>
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>

#include <fstream>
#include <optional>

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
  // The publisher's upgrade key (2048-bit modulus, exponent 17). Its private
  // half never ships with the agent.
  static const std::string text =
      "30820120300D06092A864886F70D01010105000382010D00308201080282010100E1BA378FA9150A6E662045"
      "9DB07CC8B1AB3E98BB0AE1E0C06D056E08F8FC1527AA178C8044C90C8D10D628A436C8EE7625905824399AB7"
      "4F8623B4785C64ADD6A250336755B02857A8A6DD619D2339A1928A70D853A7A100F8AEBC8D0D3FDF6E60E258"
      "9E50DAC677A1657C01AFD229C663298258CCB1F34BFA4B8FD115D189428E5B10FD009D46D68E269347DA6731"
      "E36EC3405BAA51460DCF57A6F8B484E64FFC7C91EDB181F42CC489BBABF901141A9BA3AD065B959E35442222"
      "87A53C7344B49C94DD7898D9512C83374C5333CB30B54EFACB89E29D9D034FD845C03D74F1B30B4B26E8860E"
      "E2A2361F51E7AB943F9EA5CEA63898DCB6E81ED36652271B41020111";
  return text;
}

bool uaVerifyUpgradeFileWithKey(const std::string& publicKeyText, const std::string& filePath,
                                const std::string& signatureText) noexcept {
  try {
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
    std::ifstream file(filePath, std::ios::in | std::ios::binary);
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
