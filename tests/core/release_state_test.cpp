#include "core/release_state.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/patch_error.h"
#include "core/text.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;

// What a record file holds before a load: its serial, or "damaged".
TEST(ReleaseStateTest, AFileRecordIsReadStrictlyAndFailsClosed) {
  const std::pair<const char*, std::string> rows[] = {
      {nullptr, "0"},  // no file: nothing accepted yet
      {"EMBTR1\nserial 7\n", "7"},
      {"EMBTR1\nserial 9223372036854775807\n", "9223372036854775807"},
      {"EMBTR1\nserial 9223372036854775808\n", "damaged"},
      {"EMBTR1\nserial 18446744073709551616\n", "damaged"},
      {"EMBTR1\nserial 07\n", "damaged"},
      {"EMBTR1\nserial 7", "damaged"},
      {"EMBTR1\nserial -7\n", "damaged"},
      {"", "damaged"},
      {">", "damaged"},  // a link where the record goes
  };
  for (const auto& [bytes, expected] : rows) {
    SCOPED_TRACE(bytes ? bytes : "(none)");
    const test::TempDir dir;
    if (bytes != nullptr && std::string(bytes) == ">") {
      test::WriteFileBytes(dir / "elsewhere", "EMBTR1\nserial 7\n");
      std::error_code no_links;  // the Windows build's std::filesystem makes none
      fs::create_symlink(dir / "elsewhere", dir / "record", no_links);
      if (no_links) continue;
    } else if (bytes != nullptr) {
      test::WriteFileBytes(dir / "record", bytes);
    }
    std::string got;
    try {
      got = std::to_string(MakeFileReleaseState(dir.Wide("record"))->Load());
    } catch (const PatchFailure& failure) {
      EXPECT_EQ(failure.code(), PatchErrorCode::ReleaseStateDamaged);
      EXPECT_TRUE(failure.detail().starts_with(dir.Wide("record") + u" | ")) << WideToUtf8(failure.detail());
      got = "damaged";
    }
    EXPECT_EQ(got, expected);
  }
  const test::TempDir dir;
  const auto store = MakeFileReleaseState(dir.Wide("state/record"));
  ASSERT_TRUE(store->Save(9223372036854775807ull));
  EXPECT_EQ(store->Load(), 9223372036854775807ull);
  EXPECT_EQ(test::ReadFileBytes(dir / "state/record"), "EMBTR1\nserial 9223372036854775807\n");
  // Each game folder, product and channel has a record of its own.
  EXPECT_NE(ReleaseStateFileName(ReleaseStateKey(u"/games/a", "emberfall", "live")),
            ReleaseStateFileName(ReleaseStateKey(u"/games/a", "emberfall", "beta")));
  EXPECT_EQ(ReleaseStateFileName(ReleaseStateKey(u"C:\\Games\\A", "p", "c")),
            ReleaseStateFileName(ReleaseStateKey(u"c:\\games\\a", "p", "c")));
}

}  // namespace
}  // namespace emberfall
