#include "app/shell_open.h"

#include "core/win/com_ptr.h"
#include "core/win/scoped_com.h"
#include "core/win/wide.h"

// After windows.h, which they need.
#include <exdisp.h>
#include <servprov.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlobj.h>

namespace emberfall {
namespace {

// SID_STopLevelBrowser, spelled out: not every import library carries it.
constexpr GUID kTopLevelBrowserService = {
    0x4c96be40, 0x915c, 0x11cf, {0x99, 0xd3, 0x00, 0xaa, 0x00, 0x4a, 0xe8, 0x37}};

using win::ScopedVariant;

// VT_EMPTY: holds nothing, so there is nothing to clear.
VARIANT EmptyVariant() { return win::VariantTraits::Invalid(); }

// A VARIANT holding a copy of |text|; empty when the string could not be
// allocated.
ScopedVariant StringVariant(const std::u16string& text) {
  const std::wstring wide = win::ToWinString(text);
  win::ScopedBstr copy(SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
  if (!copy) return {};
  VARIANT value = EmptyVariant();
  value.vt = VT_BSTR;
  value.bstrVal = copy.release();
  return ScopedVariant(value);
}

// The desktop folder view's IShellDispatch2, which runs in Explorer.
win::ComPtr<IShellDispatch2> DesktopShellDispatch() {
  win::ComPtr<IShellWindows> windows;
  if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER,
                              IID_PPV_ARGS(windows.put())))) {
    return {};
  }
  VARIANT none = EmptyVariant();
  long desktop = 0;
  win::ComPtr<IDispatch> found;
  // S_FALSE means no desktop window: success code, no object.
  if (windows->FindWindowSW(&none, &none, SWC_DESKTOP, &desktop, SWFO_NEEDDISPATCH,
                            found.put()) != S_OK ||
      !found) {
    return {};
  }
  win::ComPtr<IServiceProvider> services;
  win::ComPtr<IShellBrowser> browser;
  win::ComPtr<IShellView> view;
  win::ComPtr<IDispatch> background;
  win::ComPtr<IShellFolderViewDual> folderView;
  win::ComPtr<IDispatch> application;
  win::ComPtr<IShellDispatch2> shell;
  if (FAILED(found->QueryInterface(IID_PPV_ARGS(services.put()))) ||
      FAILED(services->QueryService(kTopLevelBrowserService, IID_PPV_ARGS(browser.put()))) ||
      FAILED(browser->QueryActiveShellView(view.put())) || !view ||
      FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_PPV_ARGS(background.put()))) ||
      !background || FAILED(background->QueryInterface(IID_PPV_ARGS(folderView.put()))) ||
      FAILED(folderView->get_Application(application.put())) || !application ||
      FAILED(application->QueryInterface(IID_PPV_ARGS(shell.put())))) {
    return {};
  }
  return shell;
}

}  // namespace

bool OpenUrlUnelevated(const std::u16string& url) {
  const win::ComPtr<IShellDispatch2> shell = DesktopShellDispatch();
  if (!shell) return false;
  const ScopedVariant file = StringVariant(url);
  const ScopedVariant verb = StringVariant(u"open");
  if (!file || !verb) return false;
  VARIANT show = EmptyVariant();
  show.vt = VT_I4;
  show.lVal = SW_SHOWNORMAL;
  const VARIANT none = EmptyVariant();
  return SUCCEEDED(shell->ShellExecute(file.get().bstrVal, none, none, verb.get(), show));
}

void OpenUrlDirect(HWND owner, const std::u16string& url) {
  const std::wstring target = win::ToWinString(url);
  ShellExecuteW(owner, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void OpenUrl(HWND owner, const std::u16string& url, const UrlOpeners& openers) {
  if (openers.unelevated && openers.unelevated(url)) return;
  if (openers.direct) openers.direct(owner, url);
}

}  // namespace emberfall
