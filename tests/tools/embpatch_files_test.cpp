// embpatch crc32 and unpack as scripts meet them: exit codes and exact bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/fs_path.h"
#include "tests/support/test_corpus.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

using test::ProcessResult;

ProcessResult Embpatch(const std::vector<std::string>& args) {
  return test::RunProcess(test::BuiltProgram("embpatch"), args);
}


class EmbpatchFilesTest : public testing::Test {
 protected:
  std::string Path(const std::string& name) const { return Utf8Path(dir_ / name); }
  std::string Write(const std::string& name, const std::string& bytes) const {
    test::WriteFileBytes(dir_ / name, bytes);
    return Path(name);
  }
  std::string WriteBytes(const std::string& name, const test::Bytes& bytes) const {
    return Write(name, std::string(bytes.begin(), bytes.end()));
  }
  test::TempDir dir_;
};

TEST_F(EmbpatchFilesTest, Crc32PrintsOneLinePerFile) {
  const std::string a = Write("a.txt", "123456789");
  const std::string empty = Write("empty", "");
  const ProcessResult r = Embpatch({"crc32", a, empty});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "cbf43926  " + a + "\n00000000  " + empty + "\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(EmbpatchFilesTest, Crc32ReportsUnreadableFilesAndGoesOn) {
  const std::string a = Write("a.txt", "123456789");
  std::filesystem::create_directories(dir_ / "folder");
  const ProcessResult r = Embpatch({"crc32", Path("missing"), a, Path("folder")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "cbf43926  " + a + "\n");
  EXPECT_NE(r.err.find("embpatch crc32: cannot read '" + Path("missing") + "': "), std::string::npos)
      << r.err;
  EXPECT_EQ(test::LastLine(r.err), "embpatch crc32: cannot read '" + Path("folder") + "': is a directory");
}

TEST_F(EmbpatchFilesTest, UnpackWritesTheDecodedFile) {
  const test::Bytes stream = {0x15, 'a', 'b', 'c', 'd', 0x11, 0x00, 0x00};
  for (const test::Bytes& payload : {test::FrameBare(4, stream), test::FrameMcoz(4, stream)}) {
    const std::string in = WriteBytes("payload.lz", payload);
    const ProcessResult r = Embpatch({"unpack", in, "--size", "4", "-o", Path("out.bin")});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "unpacked 4 bytes, crc32 ed82cd11\n");
    EXPECT_EQ(test::ReadFileBytes(dir_ / "out.bin"), "abcd");
    std::filesystem::remove(dir_ / "out.bin");
  }
}

TEST_F(EmbpatchFilesTest, UnpackFailuresEndWithTheLaunchersMessageAndWriteNothing) {
  struct Case {
    test::Bytes payload;
    std::string size;
    std::string message;
  };
  const Case cases[] = {
      {test::Bytes(4, 0), "0", "Decompress failed | lzo input overrun"},
      {test::FrameBare(5, test::Bytes{0x11, 0, 0}), "4", "Unpack size mismatch | lz header size=5 expected=4"},
      {test::FrameMcoz(4, {}, 7), "4", "Decompress failed | MCOZ payload is encrypted"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const std::string in = WriteBytes("payload.lz", c.payload);
    const ProcessResult r = Embpatch({"unpack", in, "--size", c.size, "-o", Path("out.bin")});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(test::LastLine(r.err), c.message);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out.bin"));
  }
}

}  // namespace
}  // namespace emberfall
