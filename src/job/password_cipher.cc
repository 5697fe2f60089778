#include "job/password_cipher.h"

#include <cstdint>

namespace quorvex {
namespace {

constexpr char kPrefix[] = "QX1:";
constexpr char kHex[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::uint8_t Mask(const std::string& key, std::size_t position) {
  return static_cast<std::uint8_t>(static_cast<unsigned char>(key[position % key.size()]) ^
                                   (position * 31 + 7));
}

std::uint8_t CheckByte(const std::string& plain, const std::string& key) {
  std::uint8_t check = 0x5A;
  for (std::size_t i = 0; i < plain.size(); ++i) {
    check = static_cast<std::uint8_t>((check << 1 | check >> 7) ^
                                      static_cast<unsigned char>(plain[i]) ^ Mask(key, i));
  }
  return check;
}

const char kBadText[] =
    "The PASSWORD value in section CONEXION of QuorvexServer.ini is not an encoded password. "
    "Encode the plain password with quorvex-password and put its output under PASSWORD";

}  // namespace

std::string InstallationPasswordKey() {
  // Built from nine one-character pieces so the key does not stand in the
  // program as one readable text.
  const char* const pieces[] = {"q", "V", "7", "r", "X", "2", "k", "M", "9"};
  std::string key;
  for (const char* piece : pieces) key += piece;
  return key;
}

void PasswordCipher::SetKey(const std::string& key) {
  if (key.size() != 9) throw PasswordCipherError("The password key must have 9 characters");
  key_ = key;
}

std::string PasswordCipher::Encode(const std::string& plain) const {
  if (key_.empty()) throw PasswordCipherError("The password key was not set");
  if (plain.empty()) return {};
  std::string out = kPrefix;
  for (std::size_t i = 0; i < plain.size(); ++i) {
    const std::uint8_t byte = static_cast<unsigned char>(plain[i]) ^ Mask(key_, i);
    out += kHex[byte >> 4];
    out += kHex[byte & 0xF];
  }
  const std::uint8_t check = CheckByte(plain, key_);
  out += kHex[check >> 4];
  out += kHex[check & 0xF];
  return out;
}

std::string PasswordCipher::Decode(const std::string& stored) const {
  if (key_.empty()) throw PasswordCipherError("The password key was not set");
  if (stored.empty()) return {};
  const std::string prefix = kPrefix;
  if (stored.compare(0, prefix.size(), prefix) != 0 || stored.size() < prefix.size() + 4 ||
      (stored.size() - prefix.size()) % 2 != 0) {
    throw PasswordCipherError(kBadText);
  }
  std::string bytes;
  for (std::size_t i = prefix.size(); i < stored.size(); i += 2) {
    const int high = HexValue(stored[i]);
    const int low = HexValue(stored[i + 1]);
    if (high < 0 || low < 0) throw PasswordCipherError(kBadText);
    bytes += static_cast<char>(high << 4 | low);
  }
  const std::uint8_t check = static_cast<unsigned char>(bytes.back());
  bytes.pop_back();
  std::string plain;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    plain += static_cast<char>(static_cast<unsigned char>(bytes[i]) ^ Mask(key_, i));
  }
  if (CheckByte(plain, key_) != check) throw PasswordCipherError(kBadText);
  return plain;
}

}  // namespace quorvex
