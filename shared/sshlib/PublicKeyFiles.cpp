#include "sshlib/PublicKeyFiles.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <cryptopp/queue.h>

#include <cstring>

#include "sshlib/Encoding.h"
#include "sshlib/Err.h"
#include "sshlib/Fingerprints.h"
#include "sshlib/TextLine.h"

namespace SSH {

namespace {

constexpr unsigned kLineLength = 72;
constexpr const char* kBegin = "---- BEGIN SSH2 PUBLIC KEY ----";
constexpr const char* kEnd = "---- END SSH2 PUBLIC KEY ----";
constexpr const char* kSeparators = " \t\r\n";

[[noreturn]] void fail(const char* text) { throw Err(Err::kInvalidArgument, text); }

std::string base64Decode(const std::string& text) {
  std::string bytes;
  CryptoPP::StringSource(text, true, new CryptoPP::Base64Decoder(new CryptoPP::StringSink(bytes)));
  return bytes;
}

std::string base64Encode(const std::string& bytes, bool lineBreaks) {
  std::string text;
  CryptoPP::StringSource(bytes, true,
                         new CryptoPP::Base64Encoder(new CryptoPP::StringSink(text), lineBreaks,
                                                     kLineLength));
  return text;
}

// The next line without its line end; the end of the data is a bad file.
std::string fileLine(CryptoPP::BufferedTransformation& in) {
  if (in.MaxRetrievable() == 0) fail("cannot read key blob");
  return trimRight(readLine(in));
}

std::string readSsh2File(CryptoPP::BufferedTransformation& in) {
  std::string line;
  do line = fileLine(in);
  while (line != kBegin);
  line = fileLine(in);
  for (bool continued = false;; line = fileLine(in)) {
    const bool header = continued || line.find(':') != std::string::npos;
    if (!header) break;
    continued = !line.empty() && line.back() == '\\';
  }
  std::string body;
  for (; line != kEnd; line = fileLine(in)) body += line;
  return base64Decode(body);
}

std::string readOneLine(CryptoPP::BufferedTransformation& in) {
  const std::string line = readLine(in);
  const size_t first = line.find_first_of(kSeparators);
  if (line.size() < 8 || first == std::string::npos) fail("invalid key blob encoding");
  const size_t start = line.find_first_not_of(kSeparators, first);
  if (start == std::string::npos) return std::string();
  const size_t end = line.find_first_of(kSeparators, start);
  return base64Decode(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
}

}  // namespace

std::string stripControlCharacters(const std::string& text) {
  std::string out;
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 32) out += c;
  return out;
}

void writeSsh2PublicKeyFile(CryptoPP::BufferedTransformation& out, const std::string& comment,
                            const std::string& blob) {
  putText(out, kBegin);
  putText(out, "\n");
  if (!comment.empty()) {
    std::string header = "Comment: \"" + stripControlCharacters(comment) + "\"";
    // Header lines hold at most 72 bytes, the continuation backslash included.
    size_t at = 0;
    for (; header.size() - at > kLineLength; at += kLineLength - 1)
      putText(out, (header.substr(at, kLineLength - 1) + "\\\n").c_str());
    putText(out, (header.substr(at) + "\n").c_str());
  }
  putText(out, base64Encode(blob, true).c_str());
  putText(out, kEnd);
  putText(out, "\n");
}

void writePublicKeyLine(CryptoPP::BufferedTransformation& out, const std::string& algorithm,
                        const std::string& comment, const std::string& blob) {
  putText(out, (algorithm + " " + base64Encode(blob, false) + " " +
                stripControlCharacters(comment) + "\n").c_str());
}

PublicKeyInfo readPublicKey(CryptoPP::BufferedTransformation& in) {
  CryptoPP::byte head[11];
  if (in.Peek(head, sizeof head) < sizeof head) fail("insufficient data for key blob");

  PublicKeyInfo info;
  if (std::memcmp(head, "\0\0\0\x07ssh-rsa", 11) == 0 || std::memcmp(head, "\0\0\0\x07ssh-dss", 11) == 0) {
    info.blob = takeAllBytes(in);
  } else if (std::memcmp(head, "ssh-", 4) == 0) {
    info.blob = readOneLine(in);
  } else {
    info.blob = readSsh2File(in);
  }

  CryptoPP::ByteQueue blob;
  putStdBytes(blob, info.blob);
  try {
    getStdString(blob, info.algorithm);
    if (info.algorithm != "ssh-rsa" && info.algorithm != "ssh-dss")
      fail("unsupported public key algorithm");
    CryptoPP::Integer first, second;
    getNonNegativeMPInt(blob, first);  // e, or p
    if (info.algorithm == "ssh-rsa") {
      getNonNegativeMPInt(blob, second);  // n
      info.bits = second.BitCount();
    } else {
      getNonNegativeMPInt(blob, second);  // q, g and y must be there too
      getNonNegativeMPInt(blob, second);
      getNonNegativeMPInt(blob, second);
      info.bits = first.BitCount();
    }
  } catch (const CauseToDisconnect&) {
    fail("cannot read key blob");
  }
  info.md5Fingerprint = md5Fingerprint(info.blob);
  info.bubbleBabbleFingerprint = bubbleBabbleFingerprint(info.blob);
  return info;
}

}  // namespace SSH
