// Owners of what the window system hands out for one window: the window
// itself, its class, its timers, a paint and a property set on it.
#ifndef EMBERFALL_UI_SCOPED_WINDOW_H_
#define EMBERFALL_UI_SCOPED_WINDOW_H_

#include "core/scoped_generic.h"
#include "core/win/windows_include.h"

namespace emberfall::win {

// A window whose procedure finds its C++ object through GWLP_USERDATA. The
// link is cut before DestroyWindow, so that no message of the destruction
// reaches an object that is going away. A window the system destroyed
// already is left alone; its owner should release() it at WM_NCDESTROY.
struct WindowTraits {
  using Handle = HWND;
  static HWND Invalid() { return nullptr; }
  static void Close(HWND window) {
    if (!IsWindow(window)) return;
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
  }
};

// A registered window class. Unregistering fails while a window of the
// class exists; that window's class then stays.
struct WindowClass {
  const wchar_t* name = nullptr;
  HINSTANCE instance = nullptr;
};

struct WindowClassTraits {
  using Handle = WindowClass;
  static WindowClass Invalid() { return {}; }
  static bool IsValid(const WindowClass& windowClass) { return windowClass.name != nullptr; }
  static void Close(WindowClass windowClass) {
    UnregisterClassW(windowClass.name, windowClass.instance);
  }
};

// Timer |id| of |window|.
struct WindowTimer {
  HWND window = nullptr;
  UINT_PTR id = 0;
};

struct WindowTimerTraits {
  using Handle = WindowTimer;
  static WindowTimer Invalid() { return {}; }
  static bool IsValid(const WindowTimer& timer) { return timer.window != nullptr; }
  static void Close(WindowTimer timer) { KillTimer(timer.window, timer.id); }
};

// Between BeginPaint and EndPaint.
struct WindowPaint {
  HWND window = nullptr;
  PAINTSTRUCT paint{};
};

struct WindowPaintTraits {
  using Handle = WindowPaint;
  static WindowPaint Invalid() { return {}; }
  static bool IsValid(const WindowPaint& paint) { return paint.window != nullptr; }
  static void Close(WindowPaint paint) { EndPaint(paint.window, &paint.paint); }
};

// Property |name| (a string that outlives the owner) set on |window|.
struct WindowProperty {
  HWND window = nullptr;
  const wchar_t* name = nullptr;
};

struct WindowPropertyTraits {
  using Handle = WindowProperty;
  static WindowProperty Invalid() { return {}; }
  static bool IsValid(const WindowProperty& property) { return property.window != nullptr; }
  static void Close(WindowProperty property) { RemovePropW(property.window, property.name); }
};

using ScopedWindow = ScopedGeneric<WindowTraits>;
using ScopedWindowClass = ScopedGeneric<WindowClassTraits>;
using ScopedTimer = ScopedGeneric<WindowTimerTraits>;
using ScopedPaint = ScopedGeneric<WindowPaintTraits>;
using ScopedWindowProperty = ScopedGeneric<WindowPropertyTraits>;

// Kills the timer |owner| holds, then sets timer |id| of |window| to fire
// every |ms| milliseconds; |owner| holds it, or nothing when SetTimer
// failed. The kill comes first because SetTimer on a live id replaces that
// timer, which the old owner's kill would then end.
inline void StartTimer(ScopedTimer& owner, HWND window, UINT_PTR id, UINT ms) {
  owner.reset();
  if (SetTimer(window, id, ms, nullptr) != 0) owner.reset(WindowTimer{window, id});
}

// BeginPaint on |window|; the owner calls EndPaint.
inline ScopedPaint BeginPaintOn(HWND window) {
  WindowPaint paint{window, {}};
  BeginPaint(window, &paint.paint);
  return ScopedPaint(paint);
}

// Sets property |name| of |window| to |value|; the owner removes it. Empty
// when SetPropW failed.
inline ScopedWindowProperty SetWindowProperty(HWND window, const wchar_t* name, HANDLE value) {
  if (!SetPropW(window, name, value)) return {};
  return ScopedWindowProperty(WindowProperty{window, name});
}

}  // namespace emberfall::win

#endif  // EMBERFALL_UI_SCOPED_WINDOW_H_
