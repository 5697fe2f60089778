// PasswordCipher: turns the PASSWORD text of the settings file into the
// plain database password, and back.
//
// The encoding keeps the password from casual eyes only: anybody with this
// program can reverse it. The settings file's permissions are the real
// protection.
//
// Encoded form: "QX1:" followed by upper-case hex digits, two per byte of
// the password, each byte mixed with the key and its position, then two
// hex digits of a check byte. The empty text stands for the empty
// password.
#pragma once

#include <stdexcept>
#include <string>

namespace quorvex {

class PasswordCipherError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class PasswordCipher {
 public:
  PasswordCipher() = default;
  PasswordCipher(const PasswordCipher&) = delete;
  PasswordCipher& operator=(const PasswordCipher&) = delete;

  // REQUIRES: called before Encode/Decode. Throws PasswordCipherError when
  // key is not 9 characters long.
  void SetKey(const std::string& key);

  // The plain password. Throws PasswordCipherError when stored is not a
  // text made by Encode with the same key, or when no key was set.
  std::string Decode(const std::string& stored) const;

  // The text to store for plain.
  std::string Encode(const std::string& plain) const;

 private:
  std::string key_;
};

// The installation's key, nine characters.
std::string InstallationPasswordKey();

}  // namespace quorvex
