// Owners of GDI and USER handles the face draws with: icons, device
// contexts, GDI objects and the object selected into a device context.
#ifndef EMBERFALL_UI_SCOPED_GDI_H_
#define EMBERFALL_UI_SCOPED_GDI_H_

#include "core/scoped_generic.h"
#include "core/win/windows_include.h"

namespace emberfall::win {

// A device context from GetDC(nullptr): the screen's, given back with
// ReleaseDC.
struct ScreenDcTraits {
  using Handle = HDC;
  static HDC Invalid() { return nullptr; }
  static void Close(HDC dc) { ReleaseDC(nullptr, dc); }
};

// A window's device context from GetDC(window), given back with ReleaseDC.
struct WindowDc {
  HWND window = nullptr;
  HDC dc = nullptr;
};

struct WindowDcTraits {
  using Handle = WindowDc;
  static WindowDc Invalid() { return {}; }
  static bool IsValid(const WindowDc& dc) { return dc.dc != nullptr; }
  static void Close(WindowDc dc) { ReleaseDC(dc.window, dc.dc); }
};

// What SelectObject put aside: the object that was selected into |dc|
// before, selected back when the owner goes.
struct GdiSelection {
  HDC dc = nullptr;
  HGDIOBJ previous = nullptr;
};

struct GdiSelectionTraits {
  using Handle = GdiSelection;
  static GdiSelection Invalid() { return {}; }
  static bool IsValid(const GdiSelection& selection) { return selection.previous != nullptr; }
  static void Close(GdiSelection selection) { SelectObject(selection.dc, selection.previous); }
};

// Icons from LoadImageW or CreateIconIndirect (not shared ones).
using ScopedIcon = ScopedGeneric<FreeFunctionTraits<HICON, &DestroyIcon>>;
using ScopedScreenDc = ScopedGeneric<ScreenDcTraits>;
using ScopedWindowDc = ScopedGeneric<WindowDcTraits>;
// Device contexts from CreateCompatibleDC.
using ScopedMemoryDc = ScopedGeneric<FreeFunctionTraits<HDC, &DeleteDC>>;
// Bitmaps from CreateDIBSection or CreateCompatibleBitmap; deselect first.
using ScopedBitmap = ScopedGeneric<FreeFunctionTraits<HBITMAP, &DeleteObject>>;
using ScopedSelection = ScopedGeneric<GdiSelectionTraits>;

// Selects |object| into |dc|; the owner selects the previous object back.
// Empty when the selection failed.
inline ScopedSelection SelectInto(HDC dc, HGDIOBJ object) {
  return ScopedSelection(GdiSelection{dc, SelectObject(dc, object)});
}

}  // namespace emberfall::win

#endif  // EMBERFALL_UI_SCOPED_GDI_H_
