// A real sharing violation under Win32. (FileApplyTest.Scenarios covers the
// read-only attribute here too: std::filesystem's permissions are that
// attribute; the running executable is replaced in e2e/self_update_win_test.)
#include <gtest/gtest.h>

#include <filesystem>

#include "core/file_apply.h"
#include "core/patch_error.h"
#include "core/win/scoped_handle.h"
#include "core/win/windows_include.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

// The real platform, watched: "M" and the error of every move, "p" and every
// pause.
class WatchedPlatform : public FileApplyPlatform {
 public:
  std::uint32_t Move(const std::u16string& from, const std::u16string& to,
                     std::uint32_t flags) override {
    const std::uint32_t error = FileApplyPlatform::Move(from, to, flags);
    // Windows reports 32 for a file held open, Wine 5: both mean in use.
    log += "M" + std::to_string(IsFileInUseError(error) ? 32 : error) + " ";
    return error;
  }
  void Pause(std::uint32_t milliseconds) override {
    log += "p ";
    FileApplyPlatform::Pause(milliseconds);
  }
  std::string log;
};

TEST(FileApplyWinTest, ATargetHeldWithoutDeleteSharingIsInUse) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "held.bin", "old");
  win::ScopedFileHandle holder(CreateFileW((dir / "held.bin").c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder.is_valid());
  WatchedPlatform platform;
  EXPECT_THROW(ApplyFile(dir.Wide("held.bin"), {'n', 'e', 'w'}, u"", platform), PatchFailure);
  std::string tries;
  for (int i = 0; i < 8; ++i) tries += "M32 p ";
  EXPECT_EQ(platform.log, tries + "M32 ");
  EXPECT_FALSE(std::filesystem::exists(dir / "held.bin.emb-new"));
  holder.reset();
  EXPECT_EQ(test::ReadFileBytes(dir / "held.bin"), "old");
}

}  // namespace
}  // namespace emberfall
