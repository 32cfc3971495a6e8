#include <string>
#include <vector>

#include "tools/embpatch/cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return emberfall::cli::RunEmbpatch(args);
}
