// Owners of the libcrypto objects the Linux crypto code and the publisher's
// signer use.
#ifndef EMBERFALL_CORE_OPENSSL_HANDLES_POSIX_H_
#define EMBERFALL_CORE_OPENSSL_HANDLES_POSIX_H_

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include "core/scoped_generic.h"

namespace emberfall::openssl {

template <typename T, auto Free>
using Owned = ScopedGeneric<FreeFunctionTraits<T*, Free>>;

using BigNum = Owned<BIGNUM, &BN_free>;
using EvpMdCtx = Owned<EVP_MD_CTX, &EVP_MD_CTX_free>;
using EvpPkey = Owned<EVP_PKEY, &EVP_PKEY_free>;
using EvpPkeyCtx = Owned<EVP_PKEY_CTX, &EVP_PKEY_CTX_free>;
using EcdsaSig = Owned<ECDSA_SIG, &ECDSA_SIG_free>;
using Pkcs8PrivateKeyInfo = Owned<PKCS8_PRIV_KEY_INFO, &PKCS8_PRIV_KEY_INFO_free>;
using X509Sig = Owned<X509_SIG, &X509_SIG_free>;
using X509Algor = Owned<X509_ALGOR, &X509_ALGOR_free>;

}  // namespace emberfall::openssl

#endif  // EMBERFALL_CORE_OPENSSL_HANDLES_POSIX_H_
