#include "app/shell_open.h"

#include <utility>

#include "core/win/wide.h"
#include "core/win/com_ptr.h"

// After windows.h, which they need.
#include <exdisp.h>
#include <oleauto.h>
#include <servprov.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlobj.h>

namespace emberfall {
namespace {

// SID_STopLevelBrowser, spelled out: not every import library carries it.
constexpr GUID kTopLevelBrowserService = {
    0x4c96be40, 0x915c, 0x11cf, {0x99, 0xd3, 0x00, 0xaa, 0x00, 0x4a, 0xe8, 0x37}};

// A VARIANT that owns what it holds.
class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&value_); }
  ~ScopedVariant() { VariantClear(&value_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;

  // False when the string could not be allocated.
  bool SetString(const std::u16string& text) {
    VariantClear(&value_);
    const std::wstring wide = win::ToWinString(text);
    BSTR copy = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (copy == nullptr) return false;
    value_.vt = VT_BSTR;
    value_.bstrVal = copy;
    return true;
  }
  void SetInt(LONG number) {
    VariantClear(&value_);
    value_.vt = VT_I4;
    value_.lVal = number;
  }
  VARIANT* get() { return &value_; }
  const VARIANT& value() const { return value_; }

 private:
  VARIANT value_;
};

// The desktop folder view's IShellDispatch2, which runs in Explorer.
win::ComPtr<IShellDispatch2> DesktopShellDispatch() {
  win::ComPtr<IShellWindows> windows;
  if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER,
                              IID_PPV_ARGS(windows.put())))) {
    return {};
  }
  ScopedVariant none;
  long desktop = 0;
  win::ComPtr<IDispatch> found;
  // S_FALSE means no desktop window: success code, no object.
  if (windows->FindWindowSW(none.get(), none.get(), SWC_DESKTOP, &desktop, SWFO_NEEDDISPATCH,
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
  ScopedVariant file;
  ScopedVariant verb;
  ScopedVariant show;
  ScopedVariant none;
  if (!file.SetString(url) || !verb.SetString(u"open")) return false;
  show.SetInt(SW_SHOWNORMAL);
  return SUCCEEDED(
      shell->ShellExecute(file.value().bstrVal, none.value(), none.value(), verb.value(), show.value()));
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
