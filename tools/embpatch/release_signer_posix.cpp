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

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/openssl_handles_posix.h"

namespace emberfall::cli {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;
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

}  // namespace

bool GenerateSigningKey(const std::string& pem_path, EcdsaPublicKey& public_key,
                        std::string& error) {
  Pkey key(EVP_EC_gen("P-256"));
  if (!key || !PublicPoint(key.get(), public_key)) {
    error = "cannot make a key: " + OpensslReason();
    return false;
  }
  // O_EXCL: an existing key is never overwritten, even in a race.
  const int fd = ::open(pem_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = "cannot create '" + pem_path + "': " +
            (errno == EEXIST ? std::string("the file exists; a key is never overwritten")
                             : std::string(std::strerror(errno)));
    return false;
  }
  ::fchmod(fd, 0600);  // the mode asked of open() is narrowed by the umask only
  File file(::fdopen(fd, "w"));
  if (!file) {
    ::close(fd);
    ::unlink(pem_path.c_str());
    error = "cannot write '" + pem_path + "'";
    return false;
  }
  const bool written = PEM_write_PrivateKey(file.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                            nullptr) == 1;
  const bool closed = std::fclose(file.release()) == 0;
  if (!written || !closed) {
    ::unlink(pem_path.c_str());
    error = "cannot write '" + pem_path + "': " + OpensslReason();
    return false;
  }
  return true;
}

bool SignWithKeyFile(const std::string& pem_path, std::string_view message,
                     EcdsaSignature& signature, EcdsaPublicKey& public_key, std::string& error) {
  File file(std::fopen(pem_path.c_str(), "r"));
  if (!file) {
    error = "cannot read '" + pem_path + "': " + std::strerror(errno);
    return false;
  }
  Pkey key(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr));
  if (!key) {
    error = "'" + pem_path + "' holds no PEM private key: " + OpensslReason();
    return false;
  }
  if (!IsP256(key.get()) || !PublicPoint(key.get(), public_key)) {
    error = "'" + pem_path + "' is not an ECDSA P-256 key";
    return false;
  }
  MdCtx ctx(EVP_MD_CTX_new());
  size_t der_length = 0;
  const auto* data = reinterpret_cast<const unsigned char*>(message.data());
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
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
  if (!VerifyEcdsaP256Sha256(public_key, message, signature)) {
    error = "cannot sign: the signature made does not verify";
    return false;
  }
  return true;
}

}  // namespace emberfall::cli
