// Looks at other processes' windows for the end-to-end tests, from inside
// the same Wine session; exit code 1 when the window is not found:
//   emb_window_probe launcher       x y width height visible iconic of the launcher window
//   emb_window_probe answers        "answers" when the launcher's thread takes a message
//                                   within 5 s, else "hung"
//   emb_window_probe box <caption>  the text of the message box with that caption
//   emb_window_probe boxrects <caption>  screen rectangles (left top right bottom) of that
//                                   box, its text, its Retry and its Cancel button, a line each
//   emb_window_probe press <caption> <id>  presses button <id> (2 Cancel, 4 Retry) of that box
#include "core/win/windows_include.h"

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/text.h"
#include "core/win/scoped_handle.h"
#include "core/win/wide.h"

int main(int argc, char** argv) {
  using emberfall::win::FromWinString;
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "launcher") {
    HWND window = FindWindowW(L"EmbLauncherNative", nullptr);
    if (window == nullptr) return 1;
    RECT r{};
    GetWindowRect(window, &r);
    std::printf("%ld %ld %ld %ld %d %d\n", r.left, r.top, r.right - r.left, r.bottom - r.top,
                IsWindowVisible(window) ? 1 : 0, IsIconic(window) ? 1 : 0);
    return 0;
  }
  if (command == "answers") {
    HWND window = FindWindowW(L"EmbLauncherNative", nullptr);
    if (window == nullptr) return 1;
    DWORD_PTR result = 0;
    const bool answered =
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) != 0;
    std::puts(answered ? "answers" : "hung");
    return 0;
  }
  const bool boxCommand = command == "box" || command == "boxrects";
  if (!(boxCommand && argc >= 3) && !(command == "press" && argc >= 4)) return 2;
  // Wide, as Wine hands narrow arguments over in the ANSI code page.
  int wideCount = 0;
  const emberfall::win::ScopedLocalMemory<wchar_t**> wide(
      CommandLineToArgvW(GetCommandLineW(), &wideCount));
  if (!wide || wideCount < 3) return 2;
  const std::wstring caption = wide.get()[2];
  HWND box = FindWindowW(L"#32770", caption.c_str());
  if (box == nullptr) return 1;
  if (command == "box") {
    wchar_t text[2048] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 2048);
    std::puts(emberfall::WideToUtf8(FromWinString(text)).c_str());
    return 0;
  }
  if (command == "boxrects") {
    RECT r{};
    GetWindowRect(box, &r);
    std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
    for (const int id : {0xFFFF, IDRETRY, IDCANCEL}) {
      HWND item = GetDlgItem(box, id);
      if (item == nullptr || !GetWindowRect(item, &r)) return 1;
      std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
    }
    return 0;
  }
  const int id = std::atoi(argv[3]);
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
  return 0;
}
