// embpatch verify-publication in both builds, over a publication signed by
// the Linux build (tests/data/signing): the Windows build checks it with
// BCrypt, as the launcher will.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/fs_path.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;

std::string KeyText(const char* name) {
  std::string text = test::ReadFileBytes(test::TestDataPath(name));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

TEST(EmbpatchVerifyPublicationTest, ChecksTheSignedTestPublication) {
  const std::string key_a = KeyText("signing/key_a.pub");
  const std::string key_b = KeyText("signing/key_b.pub");
  const auto flip_last_literal = [](const fs::path& root) {
    const fs::path payload = root / "patch/1.0/emb.bin.lz";
    std::string bytes = test::ReadFileBytes(payload);
    bytes[bytes.size() - 4] ^= 0x01;  // the last literal byte, before the end marker
    test::WriteFileBytes(payload, bytes);
  };
  const struct {
    std::string name;
    std::function<void(const fs::path&)> edit;
    std::vector<std::string> keys;
    int exit_code;
    std::string out;
  } cases[] = {
      {"signed by A", nullptr, {key_b, key_a}, 0, "ok: serial 7, 3 files, expires 2036-12-04T01:30:12Z\n"},
      {"trusting B only", nullptr, {key_b}, 1,
       "crclist.sig: no trusted key verifies the release signature\n"},
      {"payload edited", flip_last_literal, {key_a}, 1, "emb.bin: CRC-32 "},
      {"key text", nullptr, {key_a.substr(2)}, 2, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir root;
    fs::copy(test::TestDataPath("signing/www"), root.path(), fs::copy_options::recursive);
    if (c.edit) c.edit(root.path());
    std::vector<std::string> args = {"verify-publication", "--web-root", Utf8Path(root.path()),
                                     "--version", "1.0"};
    for (const std::string& key : c.keys) args.insert(args.end(), {"--trust-key", key});
    const test::ProcessResult r = test::RunProcess(test::BuiltProgram("embpatch"), args);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_TRUE(r.out.starts_with(c.out)) << r.out;
  }
}

}  // namespace
}  // namespace emberfall
