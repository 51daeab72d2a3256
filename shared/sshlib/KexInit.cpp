#include "sshlib/KexInit.h"

#include <cryptopp/queue.h>

#include <algorithm>

#include "sshlib/Names.h"

namespace SSH {

namespace {

// The ten name-lists in wire order.
template <typename Record>
auto lists(Record& k) {
  return std::array{&k.kexAlgorithms,
                    &k.serverHostKeyAlgorithms,
                    &k.encryptionAlgorithmsClientToServer,
                    &k.encryptionAlgorithmsServerToClient,
                    &k.macAlgorithmsClientToServer,
                    &k.macAlgorithmsServerToClient,
                    &k.compressionAlgorithmsClientToServer,
                    &k.compressionAlgorithmsServerToClient,
                    &k.languagesClientToServer,
                    &k.languagesServerToClient};
}

}  // namespace

void KexInit::setEncryptionAlgorithms(const std::string& list) {
  encryptionAlgorithmsClientToServer = encryptionAlgorithmsServerToClient = list;
}

void KexInit::setMacAlgorithms(const std::string& list) {
  macAlgorithmsClientToServer = macAlgorithmsServerToClient = list;
}

void KexInit::setCompressionAlgorithms(const std::string& list) {
  compressionAlgorithmsClientToServer = compressionAlgorithmsServerToClient = list;
}

void KexInit::encode(CryptoPP::BufferedTransformation& out) const {
  putByte(out, kMsgKexInit);
  putBytes(out, cookie.data(), cookie.size());
  for (const std::string* list : lists(*this)) putStdString(out, *list);
  putBoolean(out, firstKexPacketFollows);
  putUInt32(out, 0);
}

void KexInit::decode(CryptoPP::BufferedTransformation& in) {
  // Parse a copy first, so a short message changes nothing and the bytes
  // read can be kept as they came.
  const CryptoPP::lword available = in.MaxRetrievable();
  CryptoPP::ByteQueue copy;
  in.CopyTo(copy);

  KexInit read;
  expectMessage(copy, kMsgKexInit);
  getCookie(copy, read.cookie.data());
  for (std::string* list : lists(read)) getStdString(copy, *list);
  read.firstKexPacketFollows = getBoolean(copy);
  getUInt32(copy);  // reserved

  const size_t used = static_cast<size_t>(available - copy.MaxRetrievable());
  read.receivedPayload.resize(used);
  in.Get(reinterpret_cast<CryptoPP::byte*>(read.receivedPayload.data()), used);
  *this = std::move(read);
}

std::string KexInit::hashPayload() const {
  if (!receivedPayload.empty()) return receivedPayload;
  CryptoPP::ByteQueue q;
  encode(q);
  return takeAllBytes(q);
}

bool KexInit::operator==(const KexInit& other) const {
  const auto mine = lists(*this);
  const auto theirs = lists(other);
  return cookie == other.cookie && firstKexPacketFollows == other.firstKexPacketFollows &&
         std::equal(mine.begin(), mine.end(), theirs.begin(),
                    [](const std::string* a, const std::string* b) { return *a == *b; });
}

}  // namespace SSH
