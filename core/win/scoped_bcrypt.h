// Owners of CNG (BCrypt) algorithm providers, keys and hash objects.
#ifndef EMBERFALL_CORE_WIN_SCOPED_BCRYPT_H_
#define EMBERFALL_CORE_WIN_SCOPED_BCRYPT_H_

#include "core/scoped_generic.h"
#include "core/win/windows_include.h"

// After windows.h, which it needs.
#include <bcrypt.h>

namespace emberfall::win {

struct AlgorithmProviderTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { BCryptCloseAlgorithmProvider(handle, 0); }
};

using ScopedAlgorithmProvider = ScopedGeneric<AlgorithmProviderTraits>;
using ScopedCryptKey = ScopedGeneric<FreeFunctionTraits<BCRYPT_KEY_HANDLE, &BCryptDestroyKey>>;
using ScopedCryptHash = ScopedGeneric<FreeFunctionTraits<BCRYPT_HASH_HANDLE, &BCryptDestroyHash>>;

}  // namespace emberfall::win

#endif  // EMBERFALL_CORE_WIN_SCOPED_BCRYPT_H_
