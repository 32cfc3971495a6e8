// The Windows build of embpatch has no compressor; publishing says so.
#include <gtest/gtest.h>

#include "core/fs_path.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

TEST(EmbpatchWinTest, ExplainsThatPublishingNeedsTheLinuxBuild) {
  test::TempDir source;
  test::WriteFileBytes(source / "a.bin", "data");
  const test::ProcessResult r = test::RunProcess(
      test::BuiltProgram("embpatch"),
      {"publish", "--from", Utf8Path(source.path()), "--web-root", Utf8Path(source / "www"),
       "--crcpatch-url", "http://h/p", "--version", "1"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("not available in the Windows build"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace emberfall
