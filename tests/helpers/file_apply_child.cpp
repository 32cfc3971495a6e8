// Child process of the crash-safety test: replaces one file over and over
// with two known contents until it is killed.
//
//   file_apply_child TARGET [once]
//
// "once" applies each contents one time and exits, so the test can measure
// how long a cycle takes.
#include <cstdio>
#include <exception>
#include <string>

#include "core/file_apply.h"
#include "core/fs_path.h"
#include "tests/helpers/file_apply_contents.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: file_apply_child TARGET [once]\n");
    return 2;
  }
  const std::u16string target = emberfall::WidePath(emberfall::FsPathFromUtf8(argv[1]));
  const bool once = argc > 2 && std::string(argv[2]) == "once";
  const auto old_contents = emberfall::test::CrashTestOldContents();
  const auto new_contents = emberfall::test::CrashTestNewContents();
  try {
    do {
      emberfall::ApplyFile(target, new_contents, u"");
      emberfall::ApplyFile(target, old_contents, u"");
    } while (!once);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "file_apply_child: %s\n", error.what());
    return 1;
  }
  return 0;
}
