// Owners of what COM and OLE Automation hand out besides interface pointers
// (those are ComPtr's): the thread's apartment, BSTRs and VARIANTs.
#ifndef EMBERFALL_CORE_WIN_SCOPED_COM_H_
#define EMBERFALL_CORE_WIN_SCOPED_COM_H_

#include "core/scoped_generic.h"
#include "core/win/windows_include.h"

// After windows.h, which they need.
#include <objbase.h>
#include <oleauto.h>

namespace emberfall::win {

// A start whose handle is the starting call's result: a success (S_OK or
// S_FALSE) holds one start, given back by one call of |Stop|; a failure
// (such as CoInitializeEx's RPC_E_CHANGED_MODE) holds none. An empty owner
// holds |kNone|.
template <HRESULT kNone, auto Stop>
struct StartResultTraits {
  using Handle = HRESULT;
  static HRESULT Invalid() { return kNone; }
  static bool IsValid(HRESULT result) { return SUCCEEDED(result); }
  static void Close(HRESULT) { Stop(); }
};

// VariantClear releases what a VARIANT holds (a BSTR, an interface); it
// works on a copy as well, since the VARIANT itself owns no memory.
struct VariantTraits {
  using Handle = VARIANT;
  static VARIANT Invalid() {
    VARIANT empty;
    VariantInit(&empty);
    return empty;
  }
  static bool IsValid(const VARIANT& value) { return value.vt != VT_EMPTY; }
  static void Close(VARIANT value) { VariantClear(&value); }
};

// The calling thread's reference on its COM apartment, taken as
// ScopedComApartment(CoInitializeEx(...)) and given back by CoUninitialize on
// the same thread; get() is the result, to tell a refused mode apart.
using ScopedComApartment = ScopedGeneric<StartResultTraits<CO_E_NOTINITIALIZED, &CoUninitialize>>;
// A string from SysAllocString*.
using ScopedBstr = ScopedGeneric<FreeFunctionTraits<BSTR, &SysFreeString>>;
// A VARIANT and whatever it holds. get() is a shallow copy for calls that
// take a VARIANT by value; the owner keeps what it points to.
using ScopedVariant = ScopedGeneric<VariantTraits>;

}  // namespace emberfall::win

#endif  // EMBERFALL_CORE_WIN_SCOPED_COM_H_
