#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include "sshlib/PemPrivateKey.h"

#include <cryptopp/base64.h>
#include <cryptopp/des.h>
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/md5.h>
#include <cryptopp/modes.h>
#include <cryptopp/queue.h>

#include <cstring>

#include "sshlib/Encoding.h"
#include "sshlib/Err.h"
#include "sshlib/TextLine.h"

namespace SSH {

namespace {

// RFC 1421 lines of 64: OpenSSL (and so OpenSSH) cannot read the body of an
// encrypted PEM key in longer lines.
constexpr unsigned kLineLength = 64;
constexpr size_t kPeekSize = 59;

bool startsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// One line without its line end (CR LF files read like LF ones).
std::string nextLine(CryptoPP::BufferedTransformation& in, const char* missing) {
  if (in.MaxRetrievable() == 0) throw Err(Err::kPrematureEnd, missing);
  return trimRight(readLine(in));
}

void moveInto(CryptoPP::BufferedTransformation& from, CryptoPP::SecByteBlock& to) {
  to.New(static_cast<size_t>(from.MaxRetrievable()));
  from.Get(to.data(), to.size());
}

}  // namespace

CryptoPP::SecByteBlock derivePemKey(const CryptoPP::byte* passPhrase, size_t length,
                                    const CryptoPP::byte* salt) {
  CryptoPP::Weak::MD5 md5;
  CryptoPP::SecByteBlock d1(CryptoPP::Weak::MD5::DIGESTSIZE), d2(CryptoPP::Weak::MD5::DIGESTSIZE);
  md5.Update(passPhrase, length);
  md5.Update(salt, kPemSaltSize);
  md5.Final(d1.data());
  md5.Update(d1.data(), d1.size());
  md5.Update(passPhrase, length);
  md5.Update(salt, kPemSaltSize);
  md5.Final(d2.data());
  CryptoPP::SecByteBlock key(CryptoPP::DES_EDE3::DEFAULT_KEYLENGTH);
  std::memcpy(key.data(), d1.data(), d1.size());
  std::memcpy(key.data() + d1.size(), d2.data(), key.size() - d1.size());
  return key;
}

void writePemPrivateKey(CryptoPP::BufferedTransformation& out, const std::string& type,
                        CryptoPP::RandomNumberGenerator& rng, const CryptoPP::byte* passPhrase,
                        size_t length, const CryptoPP::SecByteBlock& der) {
  putText(out, ("-----BEGIN " + type + " PRIVATE KEY-----\n").c_str());
  // Data only: the caller's output sees no message end from inside the file.
  CryptoPP::Base64Encoder body(new CryptoPP::Redirector(out, CryptoPP::Redirector::PASS_WAIT_OBJECTS),
                               true, kLineLength);
  if (length == 0) {
    body.Put(der.data(), der.size());
  } else {
    CryptoPP::byte iv[kPemSaltSize];
    rng.GenerateBlock(iv, sizeof iv);
    std::string ivText;
    CryptoPP::StringSource(iv, sizeof iv, true,
                           new CryptoPP::HexEncoder(new CryptoPP::StringSink(ivText), true));
    putText(out, ("Proc-Type: 4,ENCRYPTED\nDEK-Info: DES-EDE3-CBC," + ivText + "\n\n").c_str());
    const CryptoPP::SecByteBlock key = derivePemKey(passPhrase, length, iv);
    CryptoPP::CBC_Mode<CryptoPP::DES_EDE3>::Encryption cipher(key.data(), key.size(), iv);
    CryptoPP::StreamTransformationFilter encrypt(
        cipher, new CryptoPP::Redirector(body, CryptoPP::Redirector::PASS_WAIT_OBJECTS));
    encrypt.Put(der.data(), der.size());
    encrypt.MessageEnd();
  }
  body.MessageEnd();
  putText(out, ("-----END " + type + " PRIVATE KEY-----\n").c_str());
}

std::string readPemPrivateKey(CryptoPP::BufferedTransformation& in, const CryptoPP::byte* passPhrase,
                              size_t length, CryptoPP::SecByteBlock& der) {
  constexpr const char* kNoBegin = "PEM BEGIN line not found";
  constexpr const char* kNoEnd = "PEM END line not found";
  std::string line;
  do line = nextLine(in, kNoBegin);
  while (!startsWith(line, "-----BEGIN "));
  const std::string type = line.substr(11, line.find(' ', 11) - 11);

  std::string procType, dekInfo;
  bool encrypted = false;
  for (line = nextLine(in, kNoEnd); line.find(':') != std::string::npos; line = nextLine(in, kNoEnd)) {
    if (startsWith(line, "Proc-Type: ")) {
      procType = line.substr(11);
      encrypted = true;
    } else if (startsWith(line, "DEK-Info: ")) {
      dekInfo = line.substr(10);
    }
  }

  CryptoPP::SecByteBlock iv(kPemSaltSize);
  if (encrypted) {
    if (procType != "4,ENCRYPTED") throw Err(Err::kInvalidArgument, "unsupported processing type");
    if (!startsWith(dekInfo, "DES-EDE3-CBC,"))
      throw Err(Err::kInvalidArgument, "unsupported encryption algorithm");
    const std::string ivText = dekInfo.substr(13);
    if (ivText.size() != 2 * kPemSaltSize ||
        ivText.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      throw Err(Err::kInvalidArgument, "invalid initialization vector");
    CryptoPP::StringSource(ivText, true, new CryptoPP::HexDecoder(new CryptoPP::ArraySink(iv, iv.size())));
  }

  CryptoPP::ByteQueue decoded;
  CryptoPP::Base64Decoder base64(new CryptoPP::Redirector(decoded));
  for (; !startsWith(line, "-----END"); line = nextLine(in, kNoEnd))
    base64.Put(reinterpret_cast<const CryptoPP::byte*>(line.data()), line.size());
  base64.MessageEnd();

  if (!encrypted) {
    moveInto(decoded, der);
    return type;
  }
  const CryptoPP::SecByteBlock key = derivePemKey(passPhrase, length, iv.data());
  CryptoPP::CBC_Mode<CryptoPP::DES_EDE3>::Decryption cipher(key.data(), key.size(), iv.data());
  CryptoPP::ByteQueue plain;
  CryptoPP::StreamTransformationFilter decrypt(cipher, new CryptoPP::Redirector(plain));
  decoded.TransferTo(decrypt);
  decrypt.MessageEnd();
  moveInto(plain, der);
  return type;
}

bool isEncryptedPemKey(const CryptoPP::BufferedTransformation& in) {
  CryptoPP::byte head[kPeekSize];
  const size_t seen = in.Peek(head, sizeof head);
  const void* lf = std::memchr(head, '\n', seen);
  if (!lf) return false;
  const size_t after = static_cast<size_t>(static_cast<const CryptoPP::byte*>(lf) - head) + 1;
  static constexpr char kProcType[] = "Proc-Type: ";
  return seen - after >= sizeof kProcType - 1 &&
         std::memcmp(head + after, kProcType, sizeof kProcType - 1) == 0;
}

}  // namespace SSH
