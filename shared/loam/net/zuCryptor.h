#pragma once
// Encrypts short texts to hexadecimal text and back with AES-256 in CFB mode.
//
// The key is assembled from two built-in tables and the caller's pass text, and
// the vector is fixed, so equal texts under one pass give equal output: this
// hides texts from a casual reader, it is not protection against an attacker.
// Kept as it is because texts stored with it must still decrypt.
#include <cryptopp/aes.h>

#include <memory>
#include <string>

class zuCryptor {
 public:
  explicit zuCryptor(const std::string& pass);
  zuCryptor(const zuCryptor&) = delete;
  zuCryptor& operator=(const zuCryptor&) = delete;
  virtual ~zuCryptor();

  // out := upper-case hex of the text zero-filled to 9 bytes, or to the next
  // multiple of 3, and encrypted.
  void encrypt(const std::string& plain, std::string& out) const;
  // out := the decrypted text up to its first NUL; empty when hex is empty or
  // holds anything but hex digits.
  void decrypt(const std::string& hex, std::string& out) const;

 private:
  std::unique_ptr<CryptoPP::AES::Encryption> aes_;
};
