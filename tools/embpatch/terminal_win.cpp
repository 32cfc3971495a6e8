#include <io.h>

#include <cstdio>

#include "core/win/windows_include.h"
#include "tools/embpatch/terminal.h"

namespace emberfall::cli {
namespace {

std::atomic<bool>* g_interrupt_flag = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
  if ((type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) && g_interrupt_flag != nullptr) {
    g_interrupt_flag->store(true);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

bool StdoutIsTerminal() {
  // _isatty alone also holds for NUL and other character devices.
  DWORD mode = 0;
  return _isatty(_fileno(stdout)) && GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode);
}

bool StdoutIsInteractiveTerminal() {
  if (!_isatty(_fileno(stdout))) return false;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode)) return false;
  // Older consoles without virtual-terminal sequences get plain lines.
  return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void InstallInterruptFlag(std::atomic<bool>* flag) {
  g_interrupt_flag = flag;
  SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

}  // namespace emberfall::cli
