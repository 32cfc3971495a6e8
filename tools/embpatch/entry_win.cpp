#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/text.h"
#include "core/win/wide.h"
#include "tools/embpatch/cli.h"

// Arguments arrive as UTF-16 and are handed on as UTF-8. Output is binary so
// that scripts see the same bytes (LF line ends) as on Linux.
int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    args.push_back(emberfall::WideToUtf8(emberfall::win::FromWinString(argv[i])));
  }
  return emberfall::cli::RunEmbpatch(args);
}
