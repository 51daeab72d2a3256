#pragma once
// Key fingerprints: MD5 as colon-separated lower-case hex pairs (as
// "ssh-keygen -l -E md5" shows them) and Bubble Babble of SHA-1 (as
// "ssh-keygen -B").
#include <cryptopp/config.h>

#include <cstddef>
#include <string>

namespace SSH {

// Each byte as two lower-case hex digits, the pairs joined by ':'.
std::string hexFingerprint(const CryptoPP::byte* bytes, size_t length);

std::string md5Fingerprint(const std::string& keyBlob);
std::string bubbleBabbleFingerprint(const std::string& keyBlob);

}  // namespace SSH
