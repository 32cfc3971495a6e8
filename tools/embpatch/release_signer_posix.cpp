#include "tools/embpatch/release_signer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/file_handle.h"
#include "core/openssl_handles_posix.h"
#include "core/scoped_generic.h"

namespace emberfall::cli {
namespace {

// fclose can fail as the buffered key is written out.
struct StdioFileTraits {
  using Handle = std::FILE*;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle file) { return std::fclose(file) == 0; }
};
using File = ScopedGeneric<StdioFileTraits>;
using MdCtx = openssl::EvpMdCtx;
using Pkey = openssl::EvpPkey;
using openssl::EcdsaSig;

// libcrypto's own words for the last failure, for messages.
std::string OpensslReason() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "libcrypto failure";
  char text[256];
  ERR_error_string_n(code, text, sizeof(text));
  return text;
}

bool IsP256(EVP_PKEY* key) {
  char group[64] = {};
  size_t length = 0;
  return EVP_PKEY_is_a(key, "EC") &&
         EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof(group),
                                        &length) == 1 &&
         (std::strcmp(group, "prime256v1") == 0 || std::strcmp(group, "P-256") == 0);
}

bool PublicPoint(EVP_PKEY* key, EcdsaPublicKey& point) {
  size_t length = 0;
  return EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size(),
                                         &length) == 1 &&
         length == point.size() && point[0] == 0x04;
}

// The scrypt cost of an encrypted key: what `openssl pkcs8 -scrypt` uses,
// 16 MiB per guess, within the 32 MiB libcrypto allows when decrypting.
constexpr std::uint64_t kScryptN = 1 << 14;
constexpr std::uint64_t kScryptR = 8;
constexpr std::uint64_t kScryptP = 1;

bool WritePrivateKey(std::FILE* file, EVP_PKEY* key, const std::optional<std::string>& passphrase) {
  if (!passphrase) {
    return PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  }
  const openssl::Pkcs8PrivateKeyInfo info(EVP_PKEY2PKCS8(key));
  openssl::X509Algor scheme(PKCS5_pbe2_set_scrypt(EVP_aes_256_cbc(), nullptr, 0, nullptr, kScryptN,
                                                  kScryptR, kScryptP));
  if (!info || !scheme) return false;
  // On success the sealed key owns the scheme.
  const openssl::X509Sig sealed(PKCS8_set0_pbe(
      passphrase->data(), static_cast<int>(passphrase->size()), info.get(), scheme.get()));
  if (!sealed) return false;
  scheme.release();
  return PEM_write_PKCS8(file, sealed.get()) == 1;
}

// Hands libcrypto the passphrase, and notes that it asked for one: an
// encrypted key without a passphrase fails instead of prompting.
struct PassphraseRequest {
  const std::optional<std::string>* passphrase;
  bool asked = false;
};

int ProvidePassphrase(char* buffer, int size, int /*writing*/, void* user) {
  auto* request = static_cast<PassphraseRequest*>(user);
  request->asked = true;
  if (!*request->passphrase || (*request->passphrase)->size() > static_cast<size_t>(size)) return -1;
  const std::string& text = **request->passphrase;
  std::memcpy(buffer, text.data(), text.size());
  return static_cast<int>(text.size());
}

}  // namespace

bool GenerateSigningKey(const std::string& pem_path, const std::optional<std::string>& passphrase,
                        EcdsaPublicKey& public_key, std::string& error) {
  Pkey key(EVP_EC_gen("P-256"));
  if (!key || !PublicPoint(key.get(), public_key)) {
    error = "cannot make a key: " + OpensslReason();
    return false;
  }
  // O_EXCL: an existing key is never overwritten, even in a race.
  FileHandle descriptor(::open(pem_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!descriptor) {
    error = "cannot create '" + pem_path + "': " +
            (errno == EEXIST ? std::string("the file exists; a key is never overwritten")
                             : std::string(std::strerror(errno)));
    return false;
  }
  const int fd = static_cast<int>(descriptor.get());
  ::fchmod(fd, 0600);  // the mode asked of open() is narrowed by the umask only
  File file(::fdopen(fd, "w"));
  if (!file) {
    descriptor.reset();
    ::unlink(pem_path.c_str());
    error = "cannot write '" + pem_path + "'";
    return false;
  }
  descriptor.release();  // the stream owns it now
  const bool written = WritePrivateKey(file.get(), key.get(), passphrase);
  const bool closed = file.CloseChecked();
  if (!written || !closed) {
    ::unlink(pem_path.c_str());
    error = "cannot write '" + pem_path + "': " + OpensslReason();
    return false;
  }
  return true;
}

struct SigningKey::Impl {
  Pkey key;
};

SigningKey::SigningKey(std::unique_ptr<Impl> impl, const EcdsaPublicKey& public_key)
    : impl_(std::move(impl)), public_key_(public_key) {}
SigningKey::SigningKey(SigningKey&&) noexcept = default;
SigningKey& SigningKey::operator=(SigningKey&&) noexcept = default;
SigningKey::~SigningKey() = default;

std::optional<SigningKey> SigningKey::Load(const std::string& pem_path,
                                           const std::optional<std::string>& passphrase,
                                           std::string& error) {
  File file(std::fopen(pem_path.c_str(), "r"));
  if (!file) {
    error = "cannot read '" + pem_path + "': " + std::strerror(errno);
    return std::nullopt;
  }
  PassphraseRequest request{&passphrase};
  auto impl = std::make_unique<Impl>();
  impl->key.reset(PEM_read_PrivateKey(file.get(), nullptr, ProvidePassphrase, &request));
  if (!impl->key) {
    const std::string reason = OpensslReason();
    if (request.asked && !passphrase) {
      error = "'" + pem_path + "' is encrypted: give its passphrase with --passphrase-file";
    } else if (request.asked) {
      error = "cannot decrypt '" + pem_path + "' with this passphrase: " + reason;
    } else {
      error = "'" + pem_path + "' holds no PEM private key: " + reason;
    }
    return std::nullopt;
  }
  EcdsaPublicKey public_key;
  if (!IsP256(impl->key.get()) || !PublicPoint(impl->key.get(), public_key)) {
    error = "'" + pem_path + "' is not an ECDSA P-256 key";
    return std::nullopt;
  }
  return SigningKey(std::move(impl), public_key);
}

bool SigningKey::Sign(std::string_view message, EcdsaSignature& signature,
                      std::string& error) const {
  MdCtx ctx(EVP_MD_CTX_new());
  size_t der_length = 0;
  const auto* data = reinterpret_cast<const unsigned char*>(message.data());
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, impl_->key.get()) != 1 ||
      EVP_DigestSign(ctx.get(), nullptr, &der_length, data, message.size()) != 1) {
    error = "cannot sign: " + OpensslReason();
    return false;
  }
  std::string der(der_length, '\0');
  auto* der_out = reinterpret_cast<unsigned char*>(der.data());
  if (EVP_DigestSign(ctx.get(), der_out, &der_length, data, message.size()) != 1) {
    error = "cannot sign: " + OpensslReason();
    return false;
  }
  const unsigned char* der_in = der_out;
  EcdsaSig sig(d2i_ECDSA_SIG(nullptr, &der_in, static_cast<long>(der_length)));
  const BIGNUM* r = nullptr;
  const BIGNUM* s = nullptr;
  if (sig) ECDSA_SIG_get0(sig.get(), &r, &s);
  if (!sig || BN_bn2binpad(r, signature.data(), 32) != 32 ||
      BN_bn2binpad(s, signature.data() + 32, 32) != 32) {
    error = "cannot sign: unexpected signature encoding";
    return false;
  }
  // libcrypto returns either twin; verifiers accept only the low one.
  if (!IsLowS(signature)) signature = EcdsaTwin(signature);
  if (!VerifyEcdsaP256Sha256(public_key_, message, signature)) {
    error = "cannot sign: the signature made does not verify";
    return false;
  }
  return true;
}

}  // namespace emberfall::cli
