// File apply against the real Win32 file system: sharing violations and the
// running executable. (FileApplyTest covers the read-only attribute here too:
// std::filesystem's permissions are that attribute on Windows.)
#include <gtest/gtest.h>

#include <filesystem>

#include "core/file_apply.h"
#include "core/patch_error.h"
#include "core/text.h"
#include "core/win/scoped_handle.h"
#include "core/win/wide.h"
#include "core/win/windows_include.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

// The real platform, watched: every move and pause is recorded.
class WatchedPlatform : public FileApplyPlatform {
 public:
  std::uint32_t Move(const std::u16string& from, const std::u16string& to,
                     std::uint32_t flags) override {
    const std::uint32_t error = FileApplyPlatform::Move(from, to, flags);
    moves.push_back({from, to, error});
    return error;
  }
  void Pause(std::uint32_t milliseconds) override {
    pauses.push_back(milliseconds);
    FileApplyPlatform::Pause(milliseconds);
  }

  struct MoveCall {
    std::u16string from;
    std::u16string to;
    std::uint32_t error;
  };
  std::vector<MoveCall> moves;
  std::vector<std::uint32_t> pauses;
};

std::u16string OwnExecutable() {
  std::wstring buffer(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  buffer.resize(n);
  return win::FromWinString(buffer);
}

TEST(FileApplyWinTest, ATargetHeldWithoutDeleteSharingIsInUse) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "held.bin", "old");
  win::ScopedFileHandle holder(CreateFileW((dir / "held.bin").c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder.is_valid());

  WatchedPlatform platform;
  try {
    ApplyFile(dir.Wide("held.bin"), ToBytes("new"), u"", platform);
    FAIL() << "replaced a file held open";
  } catch (const PatchFailure& failure) {
    EXPECT_EQ(failure.code(), 10u);
    ASSERT_FALSE(platform.moves.empty());
    const std::uint32_t error = platform.moves.back().error;
    EXPECT_TRUE(IsFileInUseError(error)) << error;
    // Windows reports 32; Wine 5. Both are in-use codes.
    RecordProperty("replace_error", static_cast<int>(error));
    EXPECT_EQ(failure.detail(), dir.Wide("held.bin") + u" | replace err=" + ToWideDecimalUnsigned(error));
  }
  EXPECT_EQ(platform.moves.size(), 9u);
  EXPECT_EQ(platform.pauses, std::vector<std::uint32_t>(8, 250));
  EXPECT_FALSE(fs::exists(dir / "held.bin.emb-new"));
  holder.reset();
  EXPECT_EQ(test::ReadFileBytes(dir / "held.bin"), "old");
}

TEST(FileApplyWinTest, TheRunningExecutableIsReplacedThroughItsOldCopy) {
  const std::u16string exe = OwnExecutable();
  const std::u16string backup = exe + u".old";
  RemoveFileIfExists(backup);
  const std::string image = test::ReadFileBytes(fs::path(win::ToWinString(exe)));
  ASSERT_FALSE(image.empty());

  // The same bytes again, so that other test processes started from this
  // executable meanwhile run the same program either way.
  WatchedPlatform platform;
  ApplyFile(exe, Bytes(image.begin(), image.end()), exe, platform);

  ASSERT_GE(platform.moves.size(), 3u);
  EXPECT_TRUE(IsFileInUseError(platform.moves[0].error)) << platform.moves[0].error;
  EXPECT_EQ(platform.moves[1].from, exe);
  EXPECT_EQ(platform.moves[1].to, backup);
  EXPECT_EQ(platform.moves[1].error, 0u);
  EXPECT_EQ(platform.moves[2].error, 0u);
  EXPECT_TRUE(platform.pauses.empty());
  EXPECT_TRUE(test::ReadFileBytes(fs::path(win::ToWinString(exe))) == image);
  EXPECT_TRUE(test::ReadFileBytes(fs::path(win::ToWinString(backup))) == image);
  // What the next run does first; it may not succeed while this image runs.
  RemoveFileIfExists(backup);
}

}  // namespace
}  // namespace emberfall
