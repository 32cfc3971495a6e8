#include "core/game_folder.h"

#include <gtest/gtest.h>

#include "core/text.h"

namespace emberfall {
namespace {

TEST(RelativeBelowTest, ByTheNamesAloneAsTheVolumeComparesThem) {
  const struct {
    const char* folder;
    const char* path;
    const char* relative;  // "" when not below
  } cases[] = {
      {"C:\\Games\\Emberfall", "C:\\Games\\Emberfall\\launcher.exe", "launcher.exe"},
      {"C:\\Games\\Emberfall", "c:\\GAMES\\emberfall\\Bin\\Launcher.exe", "Bin\\Launcher.exe"},
      {"C:/Games/./Emberfall/", "C:\\Games\\Emberfall\\x\\..\\y", "y"},
      {"C:\\Games\\Emberfall", "C:\\Games\\Emberfall", ""},
      {"C:\\Games\\Emberfall", "C:\\Games\\Emberfall2\\launcher.exe", ""},
      {"C:\\Games\\Emberfall", "C:\\Games\\Emberfall\\..\\launcher.exe", ""},
      {"/games/emberfall", "games/emberfall/launcher.exe", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.folder) + " | " + c.path);
    EXPECT_EQ(WideToUtf8(RelativeBelow(Utf8ToWide(c.folder), Utf8ToWide(c.path))), c.relative);
  }
}

}  // namespace
}  // namespace emberfall
