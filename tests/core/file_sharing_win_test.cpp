// Real sharing violations; e2e/self_update_win_test replaces the running exe.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "core/crc32.h"
#include "core/crc_list.h"
#include "core/file_apply.h"
#include "core/file_state.h"
#include "core/file_state_cache.h"
#include "core/game_folder.h"
#include "core/patch_error.h"
#include "core/text.h"
#include "core/win/scoped_handle.h"
#include "core/win/windows_include.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

TEST(FileApplyWinTest, ATargetHeldWithoutDeleteSharingIsInUse) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "held.bin", "old");
  win::ScopedFileHandle holder(CreateFileW((dir / "held.bin").c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder.is_valid());
  try {
    ApplyFile(GameFolder(dir.Wide()), u"held.bin", {'n', 'e', 'w'}, u"");
    ADD_FAILURE() << "replaced a file held open";
  } catch (const PatchFailure& failure) {
    // Windows reports 32, Wine 5: both mean in use, after nine tries.
    EXPECT_EQ(CodeNumber(failure.code()), 10u) << WideToUtf8(failure.detail());
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "held.bin.emb-new"));
  holder.reset();
  EXPECT_EQ(test::ReadFileBytes(dir / "held.bin"), "old");
}

// The game folder and the folders of a target are held while the file is put
// in place: none can be renamed away, and a link put in its place, meanwhile.
TEST(FileApplyWinTest, TheFoldersOfATargetCannotBeRenamedWhileItIsWritten) {
  test::TempDir dir;
  struct Renamer : FileApplyPlatform {
    std::wstring root;
    std::vector<DWORD> errors;
    std::uint32_t WriteStagedFile(const HeldFolder& folder, std::u16string_view name,
                                  const std::vector<std::uint8_t>& contents) override {
      for (const wchar_t* below : {L"", L"\\a", L"\\a\\b"}) {
        const std::wstring from = root + below;
        errors.push_back(MoveFileExW(from.c_str(), (from + L".moved").c_str(), 0) ? 0 : GetLastError());
      }
      return FileApplyPlatform::WriteStagedFile(folder, name, contents);
    }
  } platform;
  platform.root = dir.path().wstring();
  ApplyFile(GameFolder(dir.Wide()), u"a/b/f", {'n', 'e', 'w'}, u"", platform);
  EXPECT_EQ(test::ReadFileBytes(dir / "a/b/f"), "new");
  for (DWORD error : platform.errors) EXPECT_TRUE(error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) << error;
  EXPECT_EQ(platform.errors.size(), 3u);
}

TEST(FileStateWinTest, AFileHeldWithoutSharingMatchesOnlyThroughTheCache) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "locked", "abc");
  const CrcListEntry entry{.crc = Crc32Buffer("abc", 3), .size = 3, .path_wide = u"locked"};
  FileStateCache cache;
  ASSERT_TRUE(FileMatchesEntry(entry, dir.Wide(), &cache));
  win::ScopedFileHandle exclusive(
      CreateFileW((dir / "locked").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(exclusive.is_valid());
  EXPECT_FALSE(OpenForSequentialRead(dir.Wide("locked")).is_valid());
  EXPECT_TRUE(FileMatchesEntry(entry, dir.Wide(), &cache));
  EXPECT_FALSE(FileMatchesEntry(entry, dir.Wide(), nullptr));
}

}  // namespace
}  // namespace emberfall
