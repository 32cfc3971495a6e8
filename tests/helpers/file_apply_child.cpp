// The crash test's child: puts the contents of OLD and NEW into TARGET by
// turns until killed, or each one time with "once".
//   file_apply_child TARGET OLD NEW [once]
#include <fstream>
#include <iterator>
#include <string>

#include "core/file_apply.h"
#include "core/fs_path.h"

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  std::vector<std::uint8_t> contents[2];
  for (int i = 0; i < 2; ++i) {
    std::ifstream in(emberfall::FsPathFromUtf8(argv[2 + i]), std::ios::binary);
    contents[i].assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const std::u16string target = emberfall::WidePath(emberfall::FsPathFromUtf8(argv[1]));
  do {
    for (int i : {1, 0}) emberfall::ApplyFile(target, contents[i], u"");  // throws on failure
  } while (argc < 5 || std::string(argv[4]) != "once");
  return 0;
}
