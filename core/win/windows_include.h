// The one place <windows.h> comes in. Only *_win.cpp files, app/ and ui/
// include this header.
#ifndef EMBERFALL_CORE_WIN_WINDOWS_INCLUDE_H_
#define EMBERFALL_CORE_WIN_WINDOWS_INCLUDE_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#endif
#ifndef WINVER
#define WINVER _WIN32_WINNT
#endif

#include <windows.h>

#endif  // EMBERFALL_CORE_WIN_WINDOWS_INCLUDE_H_
