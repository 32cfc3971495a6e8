// The Windows build of embpatch verifies publications but does not make keys
// or signatures: its crypto is the launcher's verify-only BCrypt code.
#include "tools/embpatch/release_signer.h"

namespace emberfall::cli {
namespace {

constexpr char kUnavailable[] =
    "signing is not available in the Windows build of embpatch; sign with the Linux build";

}  // namespace

bool GenerateSigningKey(const std::string&, const std::optional<std::string>&, EcdsaPublicKey&,
                        std::string& error) {
  error = kUnavailable;
  return false;
}

struct SigningKey::Impl {};

SigningKey::SigningKey(std::unique_ptr<Impl> impl, const EcdsaPublicKey& public_key)
    : impl_(std::move(impl)), public_key_(public_key) {}
SigningKey::SigningKey(SigningKey&&) noexcept = default;
SigningKey& SigningKey::operator=(SigningKey&&) noexcept = default;
SigningKey::~SigningKey() = default;

std::optional<SigningKey> SigningKey::Load(const std::string&, const std::optional<std::string>&,
                                           std::string& error) {
  error = kUnavailable;
  return std::nullopt;
}

bool SigningKey::Sign(std::string_view, EcdsaSignature&, std::string& error) const {
  error = kUnavailable;
  return false;
}

}  // namespace emberfall::cli
