// The Windows build of embpatch verifies publications but does not make keys
// or signatures: its crypto is the launcher's verify-only BCrypt code.
#include "tools/embpatch/release_signer.h"

namespace emberfall::cli {
namespace {

constexpr char kUnavailable[] =
    "signing is not available in the Windows build of embpatch; sign with the Linux build";

}  // namespace

bool GenerateSigningKey(const std::string&, EcdsaPublicKey&, std::string& error) {
  error = kUnavailable;
  return false;
}

bool SignWithKeyFile(const std::string&, std::string_view, EcdsaSignature&, EcdsaPublicKey&,
                     std::string& error) {
  error = kUnavailable;
  return false;
}

}  // namespace emberfall::cli
