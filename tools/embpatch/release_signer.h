// Making signing keys and release signatures. Only the Linux build of
// embpatch can (OpenSSL's libcrypto); the Windows build reports that it
// cannot, as it does for compression: publishing is done on Linux.
#ifndef EMBERFALL_TOOLS_EMBPATCH_RELEASE_SIGNER_H_
#define EMBERFALL_TOOLS_EMBPATCH_RELEASE_SIGNER_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/crypto.h"

namespace emberfall::cli {

// Creates a new ECDSA P-256 private key as PEM PKCS#8 at |pem_path| with
// mode 0600, encrypted under |passphrase| when one is given (AES-256-CBC,
// key from scrypt with N = 2^14, r = 8, p = 1). Refuses a path that already
// exists. On success |public_key| holds its public half; on failure |error|
// says why and no file is left.
bool GenerateSigningKey(const std::string& pem_path, const std::optional<std::string>& passphrase,
                        EcdsaPublicKey& public_key, std::string& error);

// A private ECDSA P-256 key read from a PEM file. Move-only; not
// thread-safe.
class SigningKey {
 public:
  // Reads |pem_path|: plain PKCS#8 or traditional PEM, or PKCS#8 encrypted
  // under |passphrase|. Never prompts: an encrypted key without a passphrase
  // fails. nullopt with |error| set when the file is unreadable, the
  // passphrase wrong, or the key not P-256.
  static std::optional<SigningKey> Load(const std::string& pem_path,
                                        const std::optional<std::string>& passphrase,
                                        std::string& error);

  SigningKey(SigningKey&&) noexcept;
  SigningKey& operator=(SigningKey&&) noexcept;
  ~SigningKey();

  const EcdsaPublicKey& public_key() const { return public_key_; }

  // Signs |message| (ECDSA P-256 with SHA-256, raw r||s, s in its low form)
  // and checks the signature with the launcher's verifier before returning
  // it. False with |error| set when signing fails.
  bool Sign(std::string_view message, EcdsaSignature& signature, std::string& error) const;

 private:
  struct Impl;
  explicit SigningKey(std::unique_ptr<Impl> impl, const EcdsaPublicKey& public_key);

  std::unique_ptr<Impl> impl_;
  EcdsaPublicKey public_key_{};
};

}  // namespace emberfall::cli

#endif  // EMBERFALL_TOOLS_EMBPATCH_RELEASE_SIGNER_H_
