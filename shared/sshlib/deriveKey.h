#pragma once
// Key and IV derivation of the SSH-2 transport (RFC 4253 section 7.2):
// K1 = SHA-1(mpint K || H || letter || session id), then
// Kn = SHA-1(mpint K || H || K1 || ... || Kn-1) until enough bytes exist.
#include <cryptopp/integer.h>
#include <cryptopp/secblock.h>

#include <cstddef>

namespace SSH {

// Returns `length` rounded up to a multiple of 20 bytes; the caller uses the
// first `length`. Letters: 'A'/'B' IVs, 'C'/'D' keys, 'E'/'F' MAC keys, the
// first of each pair for client to server.
CryptoPP::SecByteBlock deriveKey(const CryptoPP::Integer& K, const CryptoPP::SecByteBlock& H,
                                 char letter, const CryptoPP::SecByteBlock& sessionId,
                                 size_t length);

}  // namespace SSH
