#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "tools/embpatch/terminal.h"

namespace emberfall::cli {
namespace {

std::atomic<bool>* g_interrupt_flag = nullptr;

void OnInterrupt(int) {
  if (g_interrupt_flag != nullptr) g_interrupt_flag->store(true);
}

}  // namespace

bool StdoutIsTerminal() { return ::isatty(STDOUT_FILENO) != 0; }

bool StdoutIsInteractiveTerminal() {
  if (!StdoutIsTerminal()) return false;
  const char* term = std::getenv("TERM");
  return term != nullptr && std::strcmp(term, "dumb") != 0;
}

void InstallInterruptFlag(std::atomic<bool>* flag) {
  g_interrupt_flag = flag;
  struct sigaction action {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
}

}  // namespace emberfall::cli
