#include "core/crypto.h"

namespace emberfall {
namespace {

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
