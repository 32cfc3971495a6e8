// The cryptography of signed publications, verify side only: SHA-256 and
// ECDSA P-256 signature checks. The launcher uses the platform's own
// implementation (BCrypt on Windows, OpenSSL's libcrypto elsewhere); making
// keys and signatures lives in embpatch, which only the publisher runs.
#ifndef EMBERFALL_CORE_CRYPTO_H_
#define EMBERFALL_CORE_CRYPTO_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace emberfall {

using Sha256Digest = std::array<std::uint8_t, 32>;
// An uncompressed P-256 point: 0x04, X, Y (big-endian, 32 bytes each).
using EcdsaPublicKey = std::array<std::uint8_t, 65>;
// A raw signature: r then s, big-endian, 32 bytes each.
using EcdsaSignature = std::array<std::uint8_t, 64>;

// A streaming SHA-256 for data too large to hold at once. Not thread-safe;
// one object per stream. Every member throws std::runtime_error when the
// platform refuses an operation (not expected outside resource exhaustion),
// and Update or Final on a spent object throws too: no failure ever yields
// a digest.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // Adds |length| bytes; |data| may be null when |length| is 0.
  void Update(const void* data, size_t length);
  // The digest of everything added. The object is spent afterwards: Update
  // and Final throw until Reset.
  Sha256Digest Final();
  // Starts a new stream.
  void Reset();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The SHA-256 of one buffer.
Sha256Digest Sha256Of(std::string_view bytes);

// True when |signature| is a valid ECDSA signature with SHA-256 over
// |message| by |key| and its s is in the low half (IsLowS). False for any
// failure: a key that is not a point of the curve, a signature out of range
// or in its high-s form, or a mismatch. Pure and thread-safe.
bool VerifyEcdsaP256Sha256(const EcdsaPublicKey& key, std::string_view message,
                           const EcdsaSignature& signature);

// True when s, the second half of |signature|, is at most n/2 (n: the order
// of P-256). Of the twins (r, s) and (r, n - s), which ECDSA accepts alike,
// only the low one counts as valid, so a signed text has one signature form.
bool IsLowS(const EcdsaSignature& signature);
// The twin (r, n - s) of |signature|, for s below n. It verifies exactly
// when |signature| does; a signer turns a high s into the low one with it.
EcdsaSignature EcdsaTwin(const EcdsaSignature& signature);

// Lower-case hexadecimal of |bytes|, two digits per byte.
std::string HexEncode(const std::uint8_t* bytes, size_t length);
template <size_t N>
std::string HexEncode(const std::array<std::uint8_t, N>& bytes) {
  return HexEncode(bytes.data(), N);
}

// Decodes exactly |out_length| bytes from 2 * |out_length| lower-case hex
// digits. Returns false (|out| partly written) on any other length or byte,
// upper-case digits included: the texts that carry hex here have one spelling.
bool HexDecode(std::string_view text, std::uint8_t* out, size_t out_length);

// The text form of a public key that builds, command lines and key files
// use: the 65-byte uncompressed point as 130 lower-case hex digits.
std::string FormatPublicKeyText(const EcdsaPublicKey& key);
// Parses that form; nullopt unless it is 130 lower-case hex digits whose
// first byte is 04. Whether the point lies on the curve is checked when a
// signature is verified.
std::optional<EcdsaPublicKey> ParsePublicKeyText(std::string_view text);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_CRYPTO_H_
