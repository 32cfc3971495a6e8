// The process's start of Media Foundation, given back when its owner goes.
#ifndef EMBERFALL_UI_SCOPED_MEDIA_FOUNDATION_H_
#define EMBERFALL_UI_SCOPED_MEDIA_FOUNDATION_H_

#include "core/scoped_generic.h"
#include "core/win/scoped_com.h"
#include "core/win/windows_include.h"

// After windows.h, which they need.
#include <mfapi.h>
#include <mferror.h>

namespace emberfall::win {

// Taken as ScopedMediaFoundation(MFStartup(...)): a successful start is
// matched by one MFShutdown when the owner goes; get() is the result.
using ScopedMediaFoundation = ScopedGeneric<StartResultTraits<MF_E_NOT_INITIALIZED, &MFShutdown>>;

}  // namespace emberfall::win

#endif  // EMBERFALL_UI_SCOPED_MEDIA_FOUNDATION_H_
