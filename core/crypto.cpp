#include "core/crypto.h"

#include <algorithm>

#include "core/crypto_platform.h"

namespace emberfall {
namespace {

// n, the order of the P-256 group, and n / 2 rounded down; big-endian.
constexpr std::uint8_t kP256Order[32] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xBC, 0xE6, 0xFA, 0xAD, 0xA7, 0x17, 0x9E, 0x84, 0xF3, 0xB9, 0xCA, 0xC2, 0xFC, 0x63, 0x25, 0x51};
constexpr std::uint8_t kP256HalfOrder[32] = {
    0x7F, 0xFF, 0xFF, 0xFF, 0x80, 0x00, 0x00, 0x00, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xDE, 0x73, 0x7D, 0x56, 0xD3, 0x8B, 0xCF, 0x42, 0x79, 0xDC, 0xE5, 0x61, 0x7E, 0x31, 0x92, 0xA8};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

Sha256Digest Sha256Of(std::string_view bytes) {
  Sha256 hasher;
  hasher.Update(bytes.data(), bytes.size());
  return hasher.Final();
}

bool IsLowS(const EcdsaSignature& signature) {
  // Equal-length big-endian numbers compare as byte strings.
  return !std::lexicographical_compare(kP256HalfOrder, kP256HalfOrder + 32, signature.begin() + 32,
                                       signature.end());
}

EcdsaSignature EcdsaTwin(const EcdsaSignature& signature) {
  EcdsaSignature twin = signature;
  int borrow = 0;
  for (int i = 31; i >= 0; --i) {
    const int difference = kP256Order[i] - signature[32 + i] - borrow;
    borrow = difference < 0 ? 1 : 0;
    twin[32 + i] = static_cast<std::uint8_t>(difference + 256 * borrow);
  }
  return twin;
}

bool VerifyEcdsaP256Sha256(const EcdsaPublicKey& key, std::string_view message,
                           const EcdsaSignature& signature) {
  return IsLowS(signature) && PlatformVerifyEcdsaP256Sha256(key, message, signature);
}

std::string HexEncode(const std::uint8_t* bytes, size_t length) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(length * 2, '0');
  for (size_t i = 0; i < length; ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return text;
}

bool HexDecode(std::string_view text, std::uint8_t* out, size_t out_length) {
  if (text.size() != out_length * 2) return false;
  for (size_t i = 0; i < out_length; ++i) {
    const int high = HexValue(text[2 * i]);
    const int low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return true;
}

std::string FormatPublicKeyText(const EcdsaPublicKey& key) { return HexEncode(key); }

std::optional<EcdsaPublicKey> ParsePublicKeyText(std::string_view text) {
  EcdsaPublicKey key;
  if (!HexDecode(text, key.data(), key.size()) || key[0] != 0x04) return std::nullopt;
  return key;
}

}  // namespace emberfall
