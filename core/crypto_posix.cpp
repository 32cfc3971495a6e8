// OpenSSL's libcrypto (3.x) behind the verify-only interface. Only the
// non-deprecated EVP and OSSL_PARAM calls, so the build stays warning-free.
#include "core/crypto.h"
#include "core/crypto_platform.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <stdexcept>

#include "core/openssl_handles_posix.h"

namespace emberfall {
namespace {

using openssl::BigNum;
using openssl::EcdsaSig;
using openssl::EvpMdCtx;
using openssl::EvpPkey;
using openssl::EvpPkeyCtx;

EvpPkey ImportPublicKey(const EcdsaPublicKey& key) {
  char group[] = "prime256v1";
  EcdsaPublicKey point = key;  // OSSL_PARAM wants a mutable buffer
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()),
      OSSL_PARAM_construct_end()};
  EvpPkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* raw = nullptr;
  if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
      EVP_PKEY_fromdata(ctx.get(), &raw, EVP_PKEY_PUBLIC_KEY, params) != 1) {
    return {};
  }
  EvpPkey imported(raw);
  // fromdata takes any octets; the point check is a separate step.
  EvpPkeyCtx check(EVP_PKEY_CTX_new_from_pkey(nullptr, imported.get(), nullptr));
  if (!check || EVP_PKEY_public_check(check.get()) != 1) return {};
  return imported;
}

// r||s as the DER structure libcrypto verifies.
std::string DerSignature(const EcdsaSignature& signature) {
  EcdsaSig sig(ECDSA_SIG_new());
  if (!sig) return {};
  BigNum r(BN_bin2bn(signature.data(), 32, nullptr));
  BigNum s(BN_bin2bn(signature.data() + 32, 32, nullptr));
  if (!r || !s || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) return {};
  // The signature owns both numbers now.
  r.release();
  s.release();
  const int length = i2d_ECDSA_SIG(sig.get(), nullptr);
  if (length <= 0) return {};
  std::string der(static_cast<size_t>(length), '\0');
  unsigned char* out = reinterpret_cast<unsigned char*>(der.data());
  if (i2d_ECDSA_SIG(sig.get(), &out) != length) return {};
  return der;
}

}  // namespace

struct Sha256::State {
  EvpMdCtx ctx{EVP_MD_CTX_new()};
  // OpenSSL 3.0 lets a finished context take more data; the contract does not.
  bool spent = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  if (!state_->ctx) throw std::runtime_error("SHA-256: no digest context");
  Reset();
}

Sha256::~Sha256() = default;

void Sha256::Reset() {
  state_->spent = true;  // until the context is ready again
  if (EVP_DigestInit_ex(state_->ctx.get(), EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256: digest init failed");
  }
  state_->spent = false;
}

void Sha256::Update(const void* data, size_t length) {
  if (state_->spent) throw std::runtime_error("SHA-256: update of a finished digest");
  if (length != 0 && EVP_DigestUpdate(state_->ctx.get(), data, length) != 1) {
    state_->spent = true;
    throw std::runtime_error("SHA-256: digest update failed");
  }
}

Sha256Digest Sha256::Final() {
  if (state_->spent) throw std::runtime_error("SHA-256: digest already finished");
  state_->spent = true;
  Sha256Digest digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(state_->ctx.get(), digest.data(), &length) != 1 || length != digest.size()) {
    throw std::runtime_error("SHA-256: digest final failed");
  }
  return digest;
}

bool PlatformVerifyEcdsaP256Sha256(const EcdsaPublicKey& key, std::string_view message,
                           const EcdsaSignature& signature) {
  const EvpPkey public_key = ImportPublicKey(key);
  const std::string der = DerSignature(signature);
  EvpMdCtx ctx(EVP_MD_CTX_new());
  if (!public_key || der.empty() || !ctx) return false;
  if (EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, public_key.get()) != 1) {
    return false;
  }
  return EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(der.data()), der.size(),
                          reinterpret_cast<const unsigned char*>(message.data()),
                          message.size()) == 1;
}

}  // namespace emberfall
