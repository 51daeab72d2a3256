#pragma once
// Checks that a received upgrade file was signed by the holder of the agent's
// upgrade key before anything is installed from it.
#include <string>

// True only when signatureText (hexadecimal, two digits per byte) is a valid
// RSASSA-PKCS1-v1_5 / SHA-1 signature of the file's bytes under the built-in
// upgrade key (false for every file when the build has none). False in every other case; never
// throws.
bool uaVerifyUpgradeFile(const std::string& filePath, const std::string& signatureText) noexcept;

// The same check under another public key, given as the hexadecimal text of a
// DER SubjectPublicKeyInfo. Lets tests sign with keys of their own.
bool uaVerifyUpgradeFileWithKey(const std::string& publicKeyText, const std::string& filePath,
                                const std::string& signatureText) noexcept;

// The upgrade public key the build was given (UA_UPGRADE_PUBLIC_KEY) as
// upper-case hexadecimal DER text; empty when it was given none, and then
// every upgrade is refused.
const std::string& uaUpgradePublicKeyText();
