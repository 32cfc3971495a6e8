// Looks at other processes' windows for the end-to-end tests, from inside
// the same Wine session:
//
//   emb_window_probe launcher          x y width height visible iconic of the launcher window
//   emb_window_probe box <caption>     the text of the message box with that caption
//   emb_window_probe boxrect <caption> x y width height of that box
//   emb_window_probe press <caption> <id>
//                                      presses button <id> (1 OK, 2 Cancel, 4 Retry) of that box
//
// Exit code 0 when the window was found, 1 when not, 2 on usage errors.
#include "core/win/windows_include.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/text.h"
#include "core/win/wide.h"

namespace {

std::wstring Wide(const char* utf8) {
  return emberfall::win::ToWinString(emberfall::Utf8ToWide(utf8));
}

void PrintUtf8(const std::wstring& text) {
  const std::string utf8 = emberfall::WideToUtf8(emberfall::win::FromWinString(text));
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fputc('\n', stdout);
}

HWND FindBox(const char* caption) { return FindWindowW(L"#32770", Wide(caption).c_str()); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string command = argv[1];
  if (command == "launcher") {
    HWND window = FindWindowW(L"EmbLauncherNative", nullptr);
    if (window == nullptr) return 1;
    RECT r{};
    GetWindowRect(window, &r);
    std::printf("%ld %ld %ld %ld %d %d\n", r.left, r.top, r.right - r.left, r.bottom - r.top,
                IsWindowVisible(window) ? 1 : 0, IsIconic(window) ? 1 : 0);
    return 0;
  }
  if (command == "box" && argc >= 3) {
    HWND box = FindBox(argv[2]);
    if (box == nullptr) return 1;
    wchar_t text[2048] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 2048);
    PrintUtf8(text);
    return 0;
  }
  if (command == "boxrect" && argc >= 3) {
    HWND box = FindBox(argv[2]);
    if (box == nullptr) return 1;
    RECT r{};
    GetWindowRect(box, &r);
    std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return 0;
  }
  if (command == "press" && argc >= 4) {
    HWND box = FindBox(argv[2]);
    if (box == nullptr) return 1;
    const int id = std::atoi(argv[3]);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
    return 0;
  }
  return 2;
}
