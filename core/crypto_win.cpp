// BCrypt (CNG) behind the verify-only interface: the launcher links nothing
// but Windows system libraries.
#include "core/crypto.h"
#include "core/crypto_platform.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "core/win/scoped_bcrypt.h"

namespace emberfall {
namespace {

// Empty when the provider cannot be opened; a failed open leaves nothing
// to close, whatever it wrote.
win::ScopedAlgorithmProvider OpenAlgorithm(const wchar_t* algorithm) {
  win::ScopedAlgorithmProvider provider;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(provider.put(), algorithm, nullptr, 0))) {
    provider.release();
  }
  return provider;
}

}  // namespace

struct Sha256::State {
  win::ScopedAlgorithmProvider algorithm = OpenAlgorithm(BCRYPT_SHA256_ALGORITHM);
  win::ScopedCryptHash hash;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  if (!state_->algorithm) throw std::runtime_error("SHA-256: no BCrypt provider");
  Reset();
}

Sha256::~Sha256() = default;

void Sha256::Reset() {
  // A null object buffer lets BCrypt own the hash object's memory.
  if (!BCRYPT_SUCCESS(
          BCryptCreateHash(state_->algorithm.get(), state_->hash.put(), nullptr, 0, nullptr, 0, 0))) {
    state_->hash.release();
    throw std::runtime_error("SHA-256: BCryptCreateHash failed");
  }
}

// A failed call leaves the hash object in no defined state: it is dropped,
// so the object stays spent until Reset.
void Sha256::Update(const void* data, size_t length) {
  if (!state_->hash) throw std::runtime_error("SHA-256: update of a finished digest");
  // BCryptHashData takes a ULONG length; feed larger buffers in slices.
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (length != 0) {
    const ULONG slice = static_cast<ULONG>(std::min<size_t>(length, 1u << 30));
    if (!BCRYPT_SUCCESS(BCryptHashData(state_->hash.get(), const_cast<PUCHAR>(bytes), slice, 0))) {
      state_->hash.reset();
      throw std::runtime_error("SHA-256: BCryptHashData failed");
    }
    bytes += slice;
    length -= slice;
  }
}

Sha256Digest Sha256::Final() {
  if (!state_->hash) throw std::runtime_error("SHA-256: digest already finished");
  Sha256Digest digest{};
  const NTSTATUS status =
      BCryptFinishHash(state_->hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0);
  state_->hash.reset();
  if (!BCRYPT_SUCCESS(status)) throw std::runtime_error("SHA-256: BCryptFinishHash failed");
  return digest;
}

bool PlatformVerifyEcdsaP256Sha256(const EcdsaPublicKey& key, std::string_view message,
                           const EcdsaSignature& signature) {
  if (key[0] != 0x04) return false;
  // BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y without the 0x04 prefix.
  std::uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  std::memcpy(blob, &header, sizeof(header));
  std::memcpy(blob + sizeof(header), key.data() + 1, 64);

  const win::ScopedAlgorithmProvider algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  win::ScopedCryptKey public_key;
  if (!algorithm ||
      !BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB,
                                          public_key.put(), blob, sizeof(blob), 0))) {
    return false;
  }
  Sha256Digest digest;
  try {
    digest = Sha256Of(message);
  } catch (const std::runtime_error&) {
    return false;
  }
  EcdsaSignature copy = signature;  // BCrypt takes non-const buffers
  return BCRYPT_SUCCESS(BCryptVerifySignature(public_key.get(), nullptr, digest.data(),
                                              static_cast<ULONG>(digest.size()), copy.data(),
                                              static_cast<ULONG>(copy.size()), 0));
}

}  // namespace emberfall
