// The platform half of the signature check, below the portable rules of
// VerifyEcdsaP256Sha256: BCrypt on Windows, libcrypto elsewhere. Only
// crypto.cpp calls it.
#ifndef EMBERFALL_CORE_CRYPTO_PLATFORM_H_
#define EMBERFALL_CORE_CRYPTO_PLATFORM_H_

#include <string_view>

#include "core/crypto.h"

namespace emberfall {

// The ECDSA P-256 / SHA-256 check alone, as the platform performs it: both
// s forms pass. False for any failure. Pure and thread-safe.
bool PlatformVerifyEcdsaP256Sha256(const EcdsaPublicKey& key, std::string_view message,
                                   const EcdsaSignature& signature);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_CRYPTO_PLATFORM_H_
