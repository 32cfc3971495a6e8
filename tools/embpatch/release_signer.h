// Making signing keys and release signatures. Only the Linux build of
// embpatch can (OpenSSL's libcrypto); the Windows build reports that it
// cannot, as it does for compression: publishing is done on Linux.
#ifndef EMBERFALL_TOOLS_EMBPATCH_RELEASE_SIGNER_H_
#define EMBERFALL_TOOLS_EMBPATCH_RELEASE_SIGNER_H_

#include <string>
#include <string_view>

#include "core/crypto.h"

namespace emberfall::cli {

// Creates a new ECDSA P-256 private key in PEM (PKCS#8) at |pem_path| with
// mode 0600. Refuses a path that already exists. On success |public_key|
// holds its public half; on failure |error| says why and no file is left.
bool GenerateSigningKey(const std::string& pem_path, EcdsaPublicKey& public_key,
                        std::string& error);

// Signs |message| (ECDSA P-256 with SHA-256, raw r||s) with the PEM private
// key at |pem_path|, and checks the signature with the launcher's verifier
// before returning it. |public_key| receives the key's public half. False
// with |error| set when the file is unreadable, not a P-256 key, or signing
// fails.
bool SignWithKeyFile(const std::string& pem_path, std::string_view message,
                     EcdsaSignature& signature, EcdsaPublicKey& public_key, std::string& error);

}  // namespace emberfall::cli

#endif  // EMBERFALL_TOOLS_EMBPATCH_RELEASE_SIGNER_H_
