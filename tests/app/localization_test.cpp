#include "app/localization.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "app/elevation.h"
#include "core/fs_path.h"
#include "core/text.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

// tests/data/ui_strings.tsv: slot, key, then the English, German and Turkish
// texts. Values other than English and German give Turkish.
TEST(LoadUiStringsTest, EveryTextOfEveryLanguageMatchesTheTable) {
  std::ifstream in(test::TestDataPath("ui_strings.tsv"), std::ios::binary);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> cells;
    std::stringstream fields(line);
    for (std::string cell; std::getline(fields, cell, '\t');) cells.push_back(cell);
    ASSERT_EQ(cells.size(), 5u) << line;
    ASSERT_EQ(cells[0], std::to_string(rows.size()));
    rows.push_back(cells);
  }
  ASSERT_EQ(rows.size(), kUiStringCount);
  const std::pair<std::uint32_t, int> languages[] = {{1, 2}, {2, 3}, {0, 4}, {3, 4}, {~0u, 4}};
  for (const auto& [value, column] : languages) {
    const UiStrings strings = LoadUiStrings(static_cast<Language>(value));
    for (size_t slot = 0; slot < kUiStringCount; ++slot) {
      SCOPED_TRACE(testing::Message() << "language " << value << " " << rows[slot][1]);
      EXPECT_EQ(WideToUtf8(UiStringSlot(strings, slot)), rows[slot][column]);
    }
  }
  const UiStrings en = LoadUiStrings(Language::English);
  const std::pair<size_t, std::u16string UiStrings::*> named[] = {
      {0, &UiStrings::StartGame},         {6, &UiStrings::UpToDate},
      {24, &UiStrings::ErrorUnknown},     {27, &UiStrings::LaunchErrorTitle},
      {31, &UiStrings::ErrorFileNotSigned}, {33, &UiStrings::FileUpdated}};
  for (const auto& [slot, field] : named) EXPECT_EQ(WideToUtf8(en.*field), rows[slot][2]) << slot;
}

// One file reads in the singular; every other count, zero and the negative
// ones included, in the plural. Every failure code has its message.
TEST(FormatTest, FillsThePlaceholdersAgreesWithTheCountAndMapsEveryCode) {
  const UiStrings en = LoadUiStrings(Language::English);
  const UiStrings de = LoadUiStrings(Language::German);
  const UiStrings tr = LoadUiStrings(Language::Turkish);
  const std::pair<std::u16string, const char16_t*> cases[] = {
      {FormatStartGameCount(en, 10), u"START GAME (10)"},
      {FormatStartGameCount(tr, 1), u"OYUNU BA\u015ELAT (1)"},
      {FormatVerifyingFiles(tr, 1, 20), u"Dosyalar do\u011Frulan\u0131yor 1 / 20"},
      {FormatVerifyingFiles(en, 2147483647, -2147483647 - 1),
       u"Verifying files 2147483647 / -2147483648"},
      {FormatFilesUpdated(en, 1), u"1 file updated"},
      {FormatFilesUpdated(en, 0), u"0 files updated"},
      {FormatFilesUpdated(en, -1), u"-1 files updated"},
      {FormatFilesUpdated(de, 1), u"1 Datei aktualisiert"},
      {FormatFilesUpdated(de, 21), u"21 Dateien aktualisiert"},
      {FormatFilesUpdated(tr, 1), u"1 dosya g\u00FCncellendi"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(WideToUtf8(text), WideToUtf8(expected));
  // Codes 0 to 21 and everything later, as slots of the table.
  const size_t slots[] = {14, 15, 16, 17, 18, 19, 20, 21, 22, 20, 23,
                          18, 24, 28, 29, 30, 31, 28, 34, 35, 36, 21, 24};
  for (std::uint32_t code : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 15u,
                             16u, 17u, 18u, 19u, 20u, 21u, 22u, 42u, ~0u}) {
    EXPECT_EQ(ErrorMessageForCode(en, CodeOfNumber(code)), UiStringSlot(en, slots[std::min(code, 22u)])) << code;
  }
}

// The amounts of a failure and of a finished run read as the face prints
// sizes; without amounts, the failure falls back to its slot. The detail
// for logs says the amounts in its own words.
TEST(FormatTest, DiskSpaceFailuresAndTransferSummariesCarryTheirAmounts) {
  const UiStrings en = LoadUiStrings(Language::English);
  const UiStrings de = LoadUiStrings(Language::German);
  const UiStrings tr = LoadUiStrings(Language::Turkish);
  const auto space = PatchErrorCode::DiskSpaceInsufficient;
  const SpaceShortfall shortfall{1610612736, 315097088};
  EXPECT_EQ(DiskSpaceDetail(u"G", 1610612736, 315097088), u"G | needed=1610612736 free=315097088");
  const std::pair<std::u16string, const char16_t*> cases[] = {
      {FailureStatusText(de, space, shortfall),
       u"Nicht genug Speicherplatz: 1.5 GB ben\u00F6tigt, 300.5 MB frei. Bitte Platz schaffen und "
       u"erneut versuchen."},
      {FailureStatusText(tr, space, shortfall),
       u"Yetersiz disk alan\u0131: 1.5 GB gerekli, 300.5 MB bo\u015F. Yer a\u00E7\u0131p tekrar deneyin."},
      {FailureStatusText(en, space, SpaceShortfall{1023, 0}),
       u"Not enough disk space: 1023 B needed, 0 B free. Free up space and try again."},
      {FailureStatusText(en, space, std::nullopt), en.ErrorFileSave.c_str()},
      {FailureStatusText(en, PatchErrorCode::WriteFailed, shortfall), en.ErrorFileSave.c_str()},
      {FormatTransferSummary(en, 0, 0, 1536), u"Downloaded 0 B, 1.5 kB resumed"},
      {FormatTransferSummary(tr, 2048, 1024, 1024),
       u"2.0 kB indirildi, 1.0 kB mevcut dosyalar\u0131n\u0131zdan kullan\u0131ld\u0131, 1.0 kB "
       u"kald\u0131\u011F\u0131 yerden s\u00FCrd\u00FCr\u00FCld\u00FC"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(WideToUtf8(text), WideToUtf8(expected));
}

// Only the primary language (the low ten bits) picks the texts. A copy that
// is still not elevated gives up rather than relaunching again.
TEST(ElevationTest, TextsFollowThePrimaryLanguageAndACopyRelaunchesOnce) {
  std::u16string (*const texts[])(std::uint16_t) = {AdminRequiredText, LaunchCancelledText,
                                                    ElevationRequiredText};
  for (auto text : texts) {
    const std::u16string en = text(0x09), de = text(0x07), tr = text(0x1F);
    EXPECT_TRUE(en != de && en != tr && de != tr);
    // Turkish (Turkey), German (Switzerland), French and none.
    EXPECT_EQ(text(0x041F) + text(0x0807) + text(0x040C) + text(0), tr + de + en + en);
  }
  EXPECT_TRUE(LaunchCancelledText(0x1F).starts_with(u"Oyun ba\u015flatma iptal"));
  EXPECT_TRUE(LaunchCancelledText(0x07).starts_with(u"Spielstart abgebrochen"));
  const ElevationStep steps[] = {ElevationStep::kRelaunch, ElevationStep::kGiveUp,
                                 ElevationStep::kRun, ElevationStep::kRun};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(DecideElevationStep(i & 2, i & 1), steps[i]) << i;
}

// lib/dev, then lib, then the folder. The third token of the first
// non-comment line names the language; else the UI language decides.
TEST(LocaleConfigTest, FindsTheFileAndTakesTheThirdTokenOfTheFirstNonCommentLine) {
  const test::TempDir dir;
  const LauncherPaths paths{dir.Wide("launcher.exe"), dir.Wide(), dir.Wide()};
  const std::u16string dev = WidePath(dir / "lib" / "dev" / "locale.cfg");
  EXPECT_EQ(FindLocaleConfig(paths), dev);  // none exists: the first
  test::WriteFileBytes(dir / "locale.cfg", "x y de\n");
  EXPECT_EQ(FindLocaleConfig(paths), WidePath(dir / "locale.cfg"));
  test::WriteFileBytes(dir / "lib" / "locale.cfg", "");
  EXPECT_EQ(FindLocaleConfig(paths), WidePath(dir / "lib" / "locale.cfg"));
  std::filesystem::create_directories(dir / "lib" / "dev" / "locale.cfg");  // a folder counts
  EXPECT_EQ(FindLocaleConfig(paths), dev);
  EXPECT_EQ(DetectLanguage(dev), UserInterfaceLanguage());  // a folder cannot be read
  const std::pair<const char*, std::optional<Language>> cases[] = {
      {"# comment\n\n#x y en\nSERVICE_LOCALE ignored de\n", Language::German},
      {"a b en", Language::English},
      {"a\tb\ttr extra", Language::Turkish},
      {"#c\r\n\r\n a  b   tr\r\n", Language::Turkish},
      {"a de\n", std::nullopt},       {"a b DE\n", std::nullopt},
      {"a b german\n", std::nullopt}, {"   \na b de\n", std::nullopt},
      {"a b c\nx y de\n", std::nullopt}, {"# only comments\n", std::nullopt},
      {"", std::nullopt},             {"a b de_DE\n", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    test::WriteFileBytes(dir / "locale.cfg", text);
    EXPECT_EQ(DetectLanguage(dir.Wide("locale.cfg")), expected.value_or(UserInterfaceLanguage()));
  }
}

}  // namespace
}  // namespace emberfall
