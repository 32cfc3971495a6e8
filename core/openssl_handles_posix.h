// Owning pointers for the libcrypto objects the Linux crypto code and the
// publisher's signer use.
#ifndef EMBERFALL_CORE_OPENSSL_HANDLES_POSIX_H_
#define EMBERFALL_CORE_OPENSSL_HANDLES_POSIX_H_

#include <openssl/ec.h>
#include <openssl/evp.h>

#include <memory>

namespace emberfall::openssl {

struct EvpMdCtxDeleter {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct EvpPkeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct EvpPkeyCtxDeleter {
  void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
struct EcdsaSigDeleter {
  void operator()(ECDSA_SIG* sig) const { ECDSA_SIG_free(sig); }
};

using EvpMdCtx = std::unique_ptr<EVP_MD_CTX, EvpMdCtxDeleter>;
using EvpPkey = std::unique_ptr<EVP_PKEY, EvpPkeyDeleter>;
using EvpPkeyCtx = std::unique_ptr<EVP_PKEY_CTX, EvpPkeyCtxDeleter>;
using EcdsaSig = std::unique_ptr<ECDSA_SIG, EcdsaSigDeleter>;

}  // namespace emberfall::openssl

#endif  // EMBERFALL_CORE_OPENSSL_HANDLES_POSIX_H_
